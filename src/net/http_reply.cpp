#include "net/http_reply.h"

#include "net/http_syntax.h"

namespace tarnel {

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Whether line (without its line end) is, or with complete == false can still become, a status
// line "HTTP/d.d ddd" (a status of 100 to 999) followed by nothing or a space and a reason phrase.
bool status_line_fits(std::string_view line, bool complete) {
    static constexpr std::string_view kShape = "HTTP/#.# ###";
    static constexpr size_t kStatusAt = 9;
    for (size_t i = 0; i < line.size(); ++i) {
        if (i < kShape.size()) {
            const char expected = kShape[i];
            if (expected == '#' ? !is_digit(line[i]) || (i == kStatusAt && line[i] == '0')
                                : line[i] != expected) {
                return false;
            }
        } else if ((i == kShape.size() && line[i] != ' ') || !is_http_text(line[i])) {
            return false;
        }
    }
    return !complete || line.size() >= kShape.size();
}

}  // namespace

HttpReply parse_http_reply(std::string_view bytes) {
    HttpReply reply;
    size_t at = 0;
    for (bool first = true;; first = false) {
        const size_t end = bytes.find('\n', at);
        const bool complete = end != std::string_view::npos;
        std::string_view line = bytes.substr(at, complete ? end - at : std::string_view::npos);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);  // a line end (its line feed may be still to come)
        }
        const size_t head_so_far = complete ? end + 1 : bytes.size();
        if (head_so_far > kMaxReplyHead) {
            reply.state = HttpReply::State::kMalformed;
            return reply;
        }
        if (!first && complete && line.empty()) {
            reply.state = HttpReply::State::kComplete;
            reply.head_length = end + 1;
            return reply;
        }
        const bool fits =
            first ? status_line_fits(line, complete) : http_header_line_fits(line, complete);
        if (!fits) {
            reply.state = HttpReply::State::kMalformed;
            return reply;
        }
        if (!complete) {
            return reply;  // incomplete
        }
        if (first) {
            reply.status = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
        }
        at = end + 1;
    }
}

}  // namespace tarnel
