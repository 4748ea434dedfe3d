#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnel {

struct IvfFrame {
    std::string_view data;  // a view into the bytes given to parse_ivf
    uint64_t pts = 0;       // in units of time_scale / time_rate seconds
};

// An IVF video stream: 32-byte "DKIF" file header, then per frame a 12-byte header (32-bit
// size, 64-bit timestamp) and the frame's bytes.
struct IvfStream {
    std::string fourcc;
    uint16_t width = 0;
    uint16_t height = 0;
    uint32_t time_rate = 0;        // time base denominator; with constant frame rate, frames/second
    uint32_t time_scale = 0;       // time base numerator
    uint32_t declared_frames = 0;  // the header's frame count, which writers may leave at 0
    std::vector<IvfFrame> frames;
};

// Parses the complete bytes of an IVF file. Returns nothing and sets error on a missing
// signature, a header or frame cut short by the end of the bytes, or a frame size larger
// than what is left; the frames view into bytes, which must outlive the result.
std::optional<IvfStream> parse_ivf(std::string_view bytes, std::string& error);

// True when a VP8 frame is a key frame: bit 0 of its first byte is 0. An empty frame is not.
bool is_vp8_key_frame(std::string_view frame);

}  // namespace tarnel
