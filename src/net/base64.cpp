#include "net/base64.h"

#include <algorithm>
#include <cstdint>

namespace tarnel {

std::string base64_encode(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    encoded.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t count = std::min<size_t>(3, bytes.size() - i);
        uint32_t group = 0;
        for (size_t j = 0; j < 3; ++j) {
            group = (group << 8) | (j < count ? static_cast<unsigned char>(bytes[i + j]) : 0U);
        }
        // count bytes give count + 1 digits; the rest of the four are padding.
        for (size_t j = 0; j < 4; ++j) {
            encoded += j <= count ? kDigits[(group >> (18 - 6 * j)) & 0x3F] : '=';
        }
    }
    return encoded;
}

}  // namespace tarnel
