#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnel {

// Bounds of one request on the control socket. Every request of the protocol fits in a few
// hundred bytes (the largest carries a title or a path); the bounds keep what a client can make
// the station hold small.
constexpr size_t kMaxRequestHead = 8 * 1024;
constexpr size_t kMaxRequestBody = 64 * 1024;
constexpr size_t kMaxRequestMethod = 16;

// One HTTP/1.x request as the control socket reads it.
struct ControlRequest {
    enum class State { kIncomplete, kComplete, kMalformed };
    State state = State::kIncomplete;
    // Once the head is complete: the method, the target's path (before "?") and query (after it),
    // and whether the client waits for "100 Continue" before it sends the body.
    bool head_complete = false;
    std::string method;
    std::string path;
    std::string query;
    bool expects_continue = false;
    // Once complete: the body and the length of the whole request.
    std::string body;
    size_t length = 0;
    // Malformed: the status to answer (400, 413, 417, 431, 501 or 505) and why.
    int error_status = 0;
    std::string error;
};

// The request at the start of bytes: complete, incomplete (can still become one within the
// bounds) or malformed (with the status and reason to answer).
//
// Complete once its head (lines end in CRLF or LF) and Content-Length bytes of body have come;
// incomplete while what came can still begin a request of at most kMaxRequestHead bytes of head
// and kMaxRequestBody of body; malformed as soon as it cannot. Bytes after the request are not
// looked at.
ControlRequest parse_control_request(std::string_view bytes);

}  // namespace tarnel
