#pragma once

#include <cstddef>
#include <string_view>

namespace tarnel {

// The head of a server's HTTP/1.x reply: the status line and the header lines up to the empty
// line that ends them.
struct HttpReply {
    enum class State { kIncomplete, kComplete, kMalformed };
    State state = State::kIncomplete;
    int status = 0;          // the status code, once the status line is complete
    size_t head_length = 0;  // bytes of the whole head, empty line included, once complete
};

// A head longer than this is taken as malformed: no server the program talks to sends one.
constexpr size_t kMaxReplyHead = 16 * 1024;

// Reads a reply head from the start of bytes (lines end in CRLF or LF). Complete, with the status
// and the head's length, once the empty line has come; incomplete while what has come can still
// begin a valid head of at most kMaxReplyHead bytes; malformed as soon as it cannot. Bytes after
// the head are not looked at.
HttpReply parse_http_reply(std::string_view bytes);

}  // namespace tarnel
