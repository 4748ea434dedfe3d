#include "web/web_security.h"

#include <sys/random.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <vector>

#include "config/strformat.h"
#include "net/base64.h"

namespace tarnel::web {

std::string random_token() {
    unsigned char bytes[32];
    size_t filled = 0;
    while (filled < sizeof bytes) {
        const ssize_t got = getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (got < 0) {
            throw std::runtime_error("no random bytes from the kernel");
        }
        filled += static_cast<size_t>(got);
    }
    std::string token;
    for (const unsigned char byte : bytes) {
        token += strformat("%02x", byte);
    }
    return token;
}

bool same_text(const std::string& a, const std::string& b) {
    unsigned char difference = a.size() == b.size() ? 0 : 1;
    const size_t length = std::max(a.size(), b.size());
    for (size_t i = 0; i < length; ++i) {
        const char x = i < a.size() ? a[i] : 0;
        const char y = i < b.size() ? b[i] : 0;
        difference = static_cast<unsigned char>(difference | (x ^ y));
    }
    return difference == 0;
}

bool basic_auth_matches(const std::string& header, const std::string& user,
                        const std::string& password) {
    return same_text(header, "Basic " + base64_encode(user + ":" + password));
}

namespace {

// The host part of a Host header or an origin's authority: "[::1]:8600" -> "[::1]",
// "localhost:8600" -> "localhost", lower-cased.
std::string host_part(const std::string& authority) {
    std::string host = authority;
    if (!host.empty() && host[0] == '[') {
        const size_t close = host.find(']');
        host = close == std::string::npos ? host : host.substr(0, close + 1);
    } else {
        const size_t colon = host.find(':');
        host = host.substr(0, colon);
    }
    for (char& c : host) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return host;
}

bool ipv4_loopback_text(const std::string& host) {
    if (host.rfind("127.", 0) != 0) {
        return false;
    }
    int parts = 0;
    size_t start = 0;
    while (start <= host.size()) {
        const size_t dot = host.find('.', start);
        const std::string part = host.substr(start, dot == std::string::npos ? dot : dot - start);
        if (part.empty() || part.size() > 3 ||
            part.find_first_not_of("0123456789") != std::string::npos || std::stoi(part) > 255) {
            return false;
        }
        ++parts;
        if (dot == std::string::npos) {
            break;
        }
        start = dot + 1;
    }
    return parts == 4;
}

}  // namespace

bool loopback_host(const std::string& host) {
    const std::string name = host_part(host);
    return name == "localhost" || name == "[::1]" || ipv4_loopback_text(name);
}

bool control_request_allowed(const std::string& token_header, const std::string& token,
                             const std::string& origin, const std::string& host) {
    if (token.empty() || !same_text(token_header, token)) {
        return false;
    }
    if (origin.empty()) {
        return true;
    }
    const size_t scheme_end = origin.find("://");
    if (scheme_end == std::string::npos) {
        return false;
    }
    const std::string authority = origin.substr(scheme_end + 3);
    std::string lower_host = host;
    std::string lower_authority = authority;
    for (char& c : lower_host) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (char& c : lower_authority) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower_authority == lower_host;
}

}  // namespace tarnel::web
