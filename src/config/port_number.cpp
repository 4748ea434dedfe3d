#include "config/port_number.h"

#include <string>

#include "config/settings.h"

namespace tarnel {

namespace {

// 18 digits always fit in a long long.
constexpr size_t kMostDigits = 18;
constexpr long long kMaxPort = 65535;

}  // namespace

std::optional<long long> decimal_number(std::string_view text) {
    if (text.empty() || text.size() > kMostDigits) {
        return std::nullopt;
    }
    long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<size_t> decimal_number_in(std::string_view text, size_t limit) {
    // More digits than the limit has can only be too large.
    if (text.size() > std::to_string(limit).size()) {
        return std::nullopt;
    }
    const std::optional<long long> value = decimal_number(text);
    if (!value || *value < 1 || static_cast<unsigned long long>(*value) > limit) {
        return std::nullopt;
    }
    return static_cast<size_t>(*value);
}

std::optional<int> port_number(std::string_view text) {
    const std::optional<long long> value = decimal_number(text);
    if (!value || *value < 1 || *value > kMaxPort) {
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

int base_port_number() {
    return port_number(port).value_or(0);
}

}  // namespace tarnel
