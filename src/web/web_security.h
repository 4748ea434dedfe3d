#pragma once

#include <string>

namespace tarnel::web {

// What guards tarnel-web: HTTP basic authentication when credentials are set, a Host check
// against DNS rebinding while it listens on loopback only, and a token for control requests.

// A fresh random token (32 bytes from the kernel, as 64 hex digits). The page carries it, and
// every control request must send it back in the X-Tarnel-Token header: another site's page
// cannot read it, so it cannot make the operator's browser skip or queue anything.
std::string random_token();

// Compares without an early exit, so the time taken tells nothing of where texts differ.
bool same_text(const std::string& a, const std::string& b);

// Whether an Authorization header carries exactly this user and password (basic scheme).
bool basic_auth_matches(const std::string& header, const std::string& user,
                        const std::string& password);

// Whether a Host header names this machine's loopback: localhost, 127.x.y.z or [::1], with any
// port (an SSH tunnel may forward another). A page of another site that a rebinding name server
// points at 127.0.0.1 sends its own name, and is refused.
bool loopback_host(const std::string& host);

// Whether a control request may go through: its token matches, and an Origin header, when the
// browser sent one, names the same host as the Host header.
bool control_request_allowed(const std::string& token_header, const std::string& token,
                             const std::string& origin, const std::string& host);

}  // namespace tarnel::web
