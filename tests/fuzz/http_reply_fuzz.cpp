// libFuzzer target: arbitrary bytes as the start of a server's HTTP reply, given to
// parse_http_reply. Checks what must hold for any input, since the program reads a reply in
// pieces and asks the parser again after each: a complete head has a three-digit status and lies
// within the bytes, its own bytes alone give the same answer and one byte less is incomplete; a
// malformed start stays malformed whatever follows; an incomplete one is within the size limit
// and the empty line can complete or refuse it, never leave it incomplete forever. A NUL byte can
// stand in no head: a reply that holds one is malformed as soon as it comes.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/http_reply.h"

namespace {

using tarnel::HttpReply;
using tarnel::parse_http_reply;
using State = HttpReply::State;

void fail(const char* what) {
    std::fprintf(stderr, "http_reply_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const HttpReply reply = parse_http_reply(bytes);
    switch (reply.state) {
        case State::kComplete: {
            if (reply.status < 100 || reply.status > 999) {
                fail("a complete head without a three-digit status");
            }
            if (reply.head_length == 0 || reply.head_length > size ||
                reply.head_length > tarnel::kMaxReplyHead) {
                fail("a head length outside the bytes");
            }
            const std::string_view head(bytes.data(), reply.head_length);
            const HttpReply again = parse_http_reply(head);
            if (again.state != State::kComplete || again.status != reply.status ||
                again.head_length != reply.head_length) {
                fail("the head alone gives another answer");
            }
            if (parse_http_reply(head.substr(0, head.size() - 1)).state != State::kIncomplete) {
                fail("a head one byte short is not incomplete");
            }
            if (head.find('\0') != std::string_view::npos) {
                fail("a complete head holds a NUL");
            }
            break;
        }
        case State::kMalformed:
            if (parse_http_reply(bytes + "\r\n\r\nHTTP/1.1 200 OK\r\n\r\n").state !=
                State::kMalformed) {
                fail("a malformed start became something else");
            }
            break;
        case State::kIncomplete: {
            if (size > tarnel::kMaxReplyHead) {
                fail("an incomplete head past the limit");
            }
            if (reply.head_length != 0) {
                fail("an incomplete head with a length");
            }
            if (bytes.find('\0') != std::string::npos) {
                fail("an incomplete head holds a NUL");
            }
            if (parse_http_reply(bytes + "\r\n\r\n").state == State::kIncomplete) {
                fail("the empty line left the head incomplete");
            }
            break;
        }
    }
    return 0;
}
