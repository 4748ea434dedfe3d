#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnel {

// The fields of a 4-byte MPEG audio frame header that splitting and timing need.
struct MpegAudioHeader {
    uint32_t frame_size = 0;   // whole frame in bytes, header included
    uint32_t sample_rate = 0;  // samples per second
    uint32_t samples = 0;      // samples per channel in the frame
};

// Decodes the MPEG audio frame header (MPEG 1, 2 or 2.5; layer I, II or III) at the start of
// bytes. Returns nothing when fewer than 4 bytes are there, the sync bits are missing, or a
// field holds a reserved value, free format or a bad bit rate.
std::optional<MpegAudioHeader> parse_mpeg_audio_header(std::string_view bytes);

// An MP3 stream split into frames; all frames share one sample rate.
struct Mp3Stream {
    uint32_t sample_rate = 0;
    std::vector<std::string_view> frames;     // views into the bytes given to split
    std::vector<uint32_t> samples_per_frame;  // parallel to frames
};

// Splits the complete bytes of an MP3 file into frames, skipping an ID3v2 tag at the start and
// an ID3v1 tag ("TAG", 128 bytes) at the end. Returns nothing and sets error on a position that
// holds no valid frame header, a last frame cut short, a change of sample rate, or no frame.
std::optional<Mp3Stream> split_mp3_frames(std::string_view bytes, std::string& error);

}  // namespace tarnel
