#include "nsv/nsv_frame_rate.h"

#include <numeric>

namespace tarnel {
namespace {

// The codes from 0x80 up that name a rate: base * 1000 / 1001 frames per second.
struct NtscRate {
    uint8_t code;
    uint32_t base;
};
constexpr NtscRate kNtscRates[] = {
    {0x81, 30}, {0x83, 24}, {0x85, 15}, {0xC5, 60}, {0xC7, 48},
};

}  // namespace

std::optional<double> nsv_frame_rate(uint8_t code) {
    if (code >= 1 && code <= 0x7F) {
        return static_cast<double>(code);
    }
    for (const NtscRate& rate : kNtscRates) {
        if (rate.code == code) {
            return rate.base * 1000.0 / 1001.0;
        }
    }
    return std::nullopt;
}

std::optional<uint8_t> nsv_frame_rate_code(uint32_t rate_numerator, uint32_t rate_denominator) {
    if (rate_numerator == 0 || rate_denominator == 0) {
        return std::nullopt;
    }
    const uint32_t divisor = std::gcd(rate_numerator, rate_denominator);
    const uint32_t numerator = rate_numerator / divisor;
    const uint32_t denominator = rate_denominator / divisor;
    if (denominator == 1 && numerator <= 0x7F) {
        return static_cast<uint8_t>(numerator);
    }
    for (const NtscRate& rate : kNtscRates) {
        if (denominator == 1001 && numerator == rate.base * 1000) {
            return rate.code;
        }
    }
    return std::nullopt;
}

}  // namespace tarnel
