#include "tools/ivf.h"

#include "tools/byte_order.h"

namespace tarnel {
namespace {

constexpr size_t kFileHeaderSize = 32;
constexpr size_t kFrameHeaderSize = 12;

}  // namespace

std::optional<IvfStream> parse_ivf(std::string_view bytes, std::string& error) {
    if (bytes.substr(0, 4) != "DKIF") {
        error = "not an IVF file (no \"DKIF\" signature)";
        return std::nullopt;
    }
    if (bytes.size() < kFileHeaderSize) {
        error = "IVF file header is cut short";
        return std::nullopt;
    }
    // The header length field lets later versions grow the header; never below 32 bytes.
    const size_t header_size = read_le16(bytes, 6);
    if (header_size < kFileHeaderSize || header_size > bytes.size()) {
        error = "IVF header length " + std::to_string(header_size) + " is invalid";
        return std::nullopt;
    }
    IvfStream stream;
    stream.fourcc = std::string(bytes.substr(8, 4));
    stream.width = read_le16(bytes, 12);
    stream.height = read_le16(bytes, 14);
    stream.time_rate = read_le32(bytes, 16);
    stream.time_scale = read_le32(bytes, 20);
    stream.declared_frames = read_le32(bytes, 24);

    size_t position = header_size;
    while (position < bytes.size()) {
        if (!fits(bytes, position, kFrameHeaderSize)) {
            error = "IVF frame header at offset " + std::to_string(position) + " is cut short";
            return std::nullopt;
        }
        const size_t size = read_le32(bytes, position);
        const size_t data_start = position + kFrameHeaderSize;
        if (!fits(bytes, data_start, size)) {
            error = "IVF frame at offset " + std::to_string(position) + " announces " +
                    std::to_string(size) + " bytes, only " +
                    std::to_string(bytes.size() - data_start) + " left";
            return std::nullopt;
        }
        stream.frames.push_back(
            IvfFrame{bytes.substr(data_start, size), read_le64(bytes, position + 4)});
        position = data_start + size;
    }
    return stream;
}

bool is_vp8_key_frame(std::string_view frame) {
    return !frame.empty() && (static_cast<uint8_t>(frame[0]) & 0x01) == 0;
}

}  // namespace tarnel
