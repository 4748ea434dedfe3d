#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnel {

// Little-endian field access over a byte string. Readers take an offset that the caller has
// already checked with fits(); writers append to the end of out.

inline bool fits(std::string_view bytes, size_t offset, size_t length) {
    return offset <= bytes.size() && length <= bytes.size() - offset;
}

inline uint8_t byte_at(std::string_view bytes, size_t offset) {
    return static_cast<uint8_t>(bytes[offset]);
}

inline uint16_t read_le16(std::string_view bytes, size_t offset) {
    return static_cast<uint16_t>(byte_at(bytes, offset) | (byte_at(bytes, offset + 1) << 8));
}

inline uint32_t read_le32(std::string_view bytes, size_t offset) {
    return static_cast<uint32_t>(read_le16(bytes, offset)) |
           (static_cast<uint32_t>(read_le16(bytes, offset + 2)) << 16);
}

inline uint64_t read_le64(std::string_view bytes, size_t offset) {
    return static_cast<uint64_t>(read_le32(bytes, offset)) |
           (static_cast<uint64_t>(read_le32(bytes, offset + 4)) << 32);
}

inline void append_byte(std::string& out, uint32_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
}

inline void append_le16(std::string& out, uint32_t value) {
    append_byte(out, value);
    append_byte(out, value >> 8);
}

inline void append_le32(std::string& out, uint32_t value) {
    append_le16(out, value & 0xFFFF);
    append_le16(out, value >> 16);
}

}  // namespace tarnel
