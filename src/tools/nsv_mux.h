#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tools/ivf.h"
#include "tools/mp3_frames.h"

namespace tarnel {

constexpr uint32_t kMaxNsvVideoLength = 0xFFFFF;  // 20 bits in the frame header
constexpr uint32_t kMaxNsvAudioLength = 0xFFFF;   // 16 bits in the frame header

// The 5-byte frame header for a payload of video_length bytes (aux chunks included) and
// audio_length bytes, with aux_count (0..15) aux chunks. The lengths must be within the
// maxima above; the caller checks them.
std::string encode_nsv_frame_header(uint32_t video_length, uint32_t audio_length,
                                    uint32_t aux_count);

// Metadata text of the form TITLE="title" URL="url"; an empty field is left out. A value that
// holds a double quote is delimited by the first of ' | ` ~ ^ it does not hold; zero bytes are
// dropped because the text ends at the first one.
std::string nsv_metadata_text(const std::string& title, const std::string& url);

struct NsvMuxResult {
    std::string bytes;  // the complete NSV file
    uint64_t frames = 0;
    uint64_t sync_frames = 0;
    uint64_t dropped_audio_frames = 0;  // audio frames that start after the video ends
};

// Interleaves a VP8 stream with an optional MP3 stream into an NSV file: a file header with
// the metadata text, then one frame per video frame carrying the audio frames that start
// before that video frame ends; a sync frame at the first and at every key frame, otherwise a
// continuation frame. Returns nothing and sets error for a codec other than VP8, no frames, a
// picture size beyond 32767, a frame rate no NSV code states, or a frame whose video or audio
// exceeds what a frame header can hold.
std::optional<NsvMuxResult> mux_nsv(const IvfStream& video, const Mp3Stream* audio,
                                    const std::string& metadata, std::string& error);

}  // namespace tarnel
