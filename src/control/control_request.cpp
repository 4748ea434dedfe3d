#include "control/control_request.h"

#include "net/http_syntax.h"

namespace tarnel {

namespace {

using State = ControlRequest::State;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// A byte that may stand in a request target: visible ASCII.
bool is_visible(char c) {
    return c > 0x20 && c < 0x7F;
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_text_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

ControlRequest malformed(int status, std::string reason) {
    ControlRequest request;
    request.state = State::kMalformed;
    request.error_status = status;
    request.error = std::move(reason);
    return request;
}

// 0 when line is, or (while not complete) can still become, a request line "METHOD /target
// HTTP/1.x"; otherwise the status to answer.
int request_line_status(std::string_view line, bool complete) {
    const size_t first_space = line.find(' ');
    const std::string_view method = line.substr(0, first_space);
    if (method.size() > kMaxRequestMethod) {
        return 400;
    }
    for (const char c : method) {
        if (c < 'A' || c > 'Z') {
            return 400;
        }
    }
    if (first_space == std::string_view::npos) {
        return complete ? 400 : 0;
    }
    if (method.empty()) {
        return 400;
    }
    const std::string_view rest = line.substr(first_space + 1);
    const size_t second_space = rest.find(' ');
    const std::string_view target = rest.substr(0, second_space);
    if (!target.empty() && target[0] != '/') {
        return 400;
    }
    for (const char c : target) {
        if (!is_visible(c)) {
            return 400;
        }
    }
    if (second_space == std::string_view::npos) {
        return complete ? 400 : 0;
    }
    if (target.empty()) {
        return 400;
    }
    static constexpr std::string_view kShape = "HTTP/#.#";
    const std::string_view version = rest.substr(second_space + 1);
    if (version.size() > kShape.size()) {
        return 400;
    }
    for (size_t i = 0; i < version.size(); ++i) {
        if (kShape[i] == '#' ? !is_digit(version[i]) : version[i] != kShape[i]) {
            return 400;
        }
    }
    if (!complete) {
        return 0;
    }
    if (version.size() < kShape.size()) {
        return 400;
    }
    return version == "HTTP/1.0" || version == "HTTP/1.1" ? 0 : 505;
}

// What the head says about the body, gathered line by line.
struct HeadFields {
    bool has_length = false;
    size_t content_length = 0;
    bool expects_continue = false;
};

// Takes in one complete header line; 0, or the status to answer with reason.
int take_header(std::string_view line, HeadFields& fields, std::string& reason) {
    const size_t colon = line.find(':');
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = trimmed(line.substr(colon + 1));
    if (same_text_ignoring_case(name, "Content-Length")) {
        // More digits than the bound has can only be too much (and could overflow).
        static constexpr size_t kMaxDigits = 9;
        size_t length = 0;
        for (const char c : value) {
            if (!is_digit(c)) {
                reason = "Content-Length is not a number";
                return 400;
            }
        }
        if (value.empty()) {
            reason = "Content-Length is not a number";
            return 400;
        }
        if (value.size() > kMaxDigits) {
            reason = "the body is longer than " + std::to_string(kMaxRequestBody) + " bytes";
            return 413;
        }
        for (const char c : value) {
            length = length * 10 + static_cast<size_t>(c - '0');
        }
        if (length > kMaxRequestBody) {
            reason = "the body is longer than " + std::to_string(kMaxRequestBody) + " bytes";
            return 413;
        }
        if (fields.has_length && fields.content_length != length) {
            reason = "two different Content-Length headers";
            return 400;
        }
        fields.has_length = true;
        fields.content_length = length;
    } else if (same_text_ignoring_case(name, "Transfer-Encoding")) {
        reason = "Transfer-Encoding is not supported: send the body with a Content-Length";
        return 501;
    } else if (same_text_ignoring_case(name, "Expect")) {
        if (!same_text_ignoring_case(value, "100-continue")) {
            reason = "the only expectation taken is 100-continue";
            return 417;
        }
        fields.expects_continue = true;
    }
    return 0;
}

}  // namespace

ControlRequest parse_control_request(std::string_view bytes) {
    ControlRequest request;
    HeadFields fields;
    size_t at = 0;
    for (bool first = true;; first = false) {
        const size_t end = bytes.find('\n', at);
        const bool complete = end != std::string_view::npos;
        std::string_view line = bytes.substr(at, complete ? end - at : std::string_view::npos);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);  // a line end (its line feed may be still to come)
        }
        if (!first && complete && line.empty()) {
            request.head_complete = true;
            request.expects_continue = fields.expects_continue;
            const size_t head_length = end + 1;
            if (bytes.size() - head_length < fields.content_length) {
                return request;  // the body is still to come
            }
            request.state = State::kComplete;
            request.body = std::string(bytes.substr(head_length, fields.content_length));
            request.length = head_length + fields.content_length;
            return request;
        }
        if (first) {
            const int status = request_line_status(line, complete);
            if (status != 0) {
                return malformed(status, status == 505 ? "only HTTP/1.0 and HTTP/1.1 are spoken"
                                                       : "malformed request line");
            }
        } else if (!http_header_line_fits(line, complete)) {
            return malformed(400, "malformed header line");
        }
        const size_t head_so_far = complete ? end + 1 : bytes.size();
        if (head_so_far > kMaxRequestHead) {
            return malformed(431, "the request head is longer than " +
                                      std::to_string(kMaxRequestHead) + " bytes");
        }
        if (!complete) {
            return request;  // incomplete
        }
        if (first) {
            const size_t space = line.find(' ');
            request.method = std::string(line.substr(0, space));
            const std::string_view target =
                line.substr(space + 1, line.find(' ', space + 1) - space - 1);
            const size_t question = target.find('?');
            request.path = std::string(target.substr(0, question));
            if (question != std::string_view::npos) {
                request.query = std::string(target.substr(question + 1));
            }
        } else {
            std::string reason;
            const int status = take_header(line, fields, reason);
            if (status != 0) {
                return malformed(status, reason);
            }
        }
        at = end + 1;
    }
}

}  // namespace tarnel
