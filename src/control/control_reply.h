#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace tarnel {

// A reply of the control protocol: an HTTP status and a JSON body. An error reply's body is
// {"error": "readable message"}, with more keys where the protocol gives them.
struct ControlReply {
    int status = 200;
    nlohmann::ordered_json body = nlohmann::ordered_json::object();
    std::string allow;  // 405: the methods the path takes, for the Allow header
};

ControlReply error_reply(int status, const std::string& message);

// The reason phrase of the statuses the protocol uses ("OK", "Not Found", ...).
const char* reason_phrase(int status);

// The reply's bytes: the status line, Content-Type: application/json, Content-Length,
// Connection: close (and Allow for a 405), then the body as indented JSON and a line feed. Bytes
// of a text that are not UTF-8 are replaced by U+FFFD, so the body is always valid JSON.
std::string reply_bytes(const ControlReply& reply);

// The interim reply to a client that waits for it before sending its body.
constexpr const char* kContinueReply = "HTTP/1.1 100 Continue\r\n\r\n";

}  // namespace tarnel
