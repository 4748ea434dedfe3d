#include "net/http_syntax.h"

#include <cstring>

namespace tarnel {

bool is_http_text(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte == '\t' || (byte >= 0x20 && byte != 0x7F);
}

bool is_http_token(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte < 0x7F && std::strchr("\"(),/:;<=>?@[\\]{}", c) == nullptr;
}

bool http_header_line_fits(std::string_view line, bool complete) {
    const size_t colon = line.find(':');
    const std::string_view name = line.substr(0, colon);
    for (const char c : name) {
        if (!is_http_token(c)) {
            return false;
        }
    }
    if (colon == std::string_view::npos) {
        return !complete;
    }
    if (name.empty()) {
        return false;
    }
    for (const char c : line.substr(colon + 1)) {
        if (!is_http_text(c)) {
            return false;
        }
    }
    return true;
}

}  // namespace tarnel
