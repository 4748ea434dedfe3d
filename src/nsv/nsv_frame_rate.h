#pragma once

#include <cstdint>
#include <optional>

namespace tarnel {

// Frames per second that an NSV frame-rate code stands for: 1..127 as themselves, 0x81, 0x83,
// 0x85, 0xC5 and 0xC7 as the NTSC-style rates (x * 1000 / 1001); nothing for 0 and every
// other code from 0x80 up.
std::optional<double> nsv_frame_rate(uint8_t code);

// The frame-rate code for a rate of rate_numerator / rate_denominator frames per second:
// whole rates 1..127 and 15000/1001, 24000/1001, 30000/1001, 48000/1001, 60000/1001 (any
// equivalent fraction); nothing for every other rate and for a zero denominator.
std::optional<uint8_t> nsv_frame_rate_code(uint32_t rate_numerator, uint32_t rate_denominator);

}  // namespace tarnel
