#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

namespace tarnel::web {

// A station's reply through its control socket (HTTP/1.1 with JSON bodies over a Unix stream
// socket).
struct ControlReply {
    int status = 0;       // the HTTP status; 0 when the station could not be reached
    nlohmann::json body;  // the JSON body, or null
    std::string error;    // empty on success (2xx); else the station's message or why no reply
    bool ok() const { return error.empty(); }
};

// Replies are read up to this size: a status or a history of 100 items is far smaller.
constexpr size_t kMaxControlReplyBytes = 4 * 1024 * 1024;

// Turns a reply's status and body into a ControlReply: a 2xx status with a JSON body is success;
// any other status gives the body's "error" text, or the status when the body has none.
ControlReply interpret_control_reply(int status, const std::string& body);

// Sends one request to the control socket at socket_path and waits at most timeout for the
// whole reply. body, when not null, goes as application/json.
ControlReply control_request(const std::string& socket_path, const std::string& method,
                             const std::string& target, const nlohmann::json& body = nullptr,
                             std::chrono::milliseconds timeout = std::chrono::seconds(2));

}  // namespace tarnel::web
