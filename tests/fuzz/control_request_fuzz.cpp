// libFuzzer target: arbitrary bytes as what a client sent to the control socket, given to
// parse_control_request. Checks what must hold for any input, since the station reads a request
// in pieces and asks the parser again after each: a complete request lies within the bytes, its
// own bytes alone give the same request and one byte less is incomplete; a malformed start stays
// malformed whatever follows, with a status to answer; an incomplete one is within the bounds,
// and enough further bytes always end it one way or the other.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "control/control_request.h"

namespace {

using tarnel::ControlRequest;
using tarnel::parse_control_request;
using State = ControlRequest::State;

void fail(const char* what) {
    std::fprintf(stderr, "control_request_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const ControlRequest request = parse_control_request(bytes);
    switch (request.state) {
        case State::kComplete: {
            if (request.length == 0 || request.length > size ||
                request.body.size() > tarnel::kMaxRequestBody) {
                fail("a complete request outside the bytes or the bounds");
            }
            if (request.method.empty() || request.path.empty() || request.path[0] != '/') {
                fail("a complete request without method or path");
            }
            const std::string_view whole(bytes.data(), request.length);
            const ControlRequest again = parse_control_request(whole);
            if (again.state != State::kComplete || again.method != request.method ||
                again.path != request.path || again.query != request.query ||
                again.body != request.body || again.length != request.length) {
                fail("the request alone gives another answer");
            }
            if (parse_control_request(whole.substr(0, whole.size() - 1)).state !=
                State::kIncomplete) {
                fail("a request one byte short is not incomplete");
            }
            break;
        }
        case State::kMalformed: {
            const int status = request.error_status;
            if (status != 400 && status != 413 && status != 417 && status != 431 && status != 501 &&
                status != 505) {
                fail("a malformed request without a status to answer");
            }
            if (request.error.empty()) {
                fail("a malformed request without a reason");
            }
            if (parse_control_request(bytes + "\r\n\r\nGET /status HTTP/1.1\r\n\r\n").state !=
                State::kMalformed) {
                fail("a malformed start became something else");
            }
            break;
        }
        case State::kIncomplete: {
            if (size > tarnel::kMaxRequestHead + tarnel::kMaxRequestBody) {
                fail("an incomplete request past the bounds");
            }
            // The end of the head, then the longest body: no request can still be waiting.
            const std::string ended =
                bytes + "\r\n\r\n" + std::string(tarnel::kMaxRequestBody, 'x');
            if (parse_control_request(ended).state == State::kIncomplete) {
                fail("the end of the head and a whole body left the request incomplete");
            }
            break;
        }
    }
    return 0;
}
