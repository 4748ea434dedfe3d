#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnel {

enum class NsvProblemKind {
    kBadHeaderSize,           // "NSVf" header size below 28, past the end, or cut off
    kUnrecognisedFrameStart,  // neither "NSVs" nor 0xBEEF where a frame must start
    kTruncatedFrame,          // the file ends inside a frame prefix, header or payload
    kUnsetFrameRate,          // a sync frame whose frame-rate code names no rate
    kNoSyncFrame,             // frames, but none that gives formats, size and rate
    kNoFrames,                // not a single complete frame
};

struct NsvProblem {
    NsvProblemKind kind;
    uint64_t offset;     // where the faulty structure starts in the file
    std::string detail;  // one line for a person, without the offset
};

// What a walk over a whole NSV file finds. Formats, size and rate code come from the first
// sync frame; frame_rate is empty when its code names no rate or there is no sync frame.
struct NsvSummary {
    bool has_file_header = false;
    uint32_t header_size = 0;
    std::string metadata;
    bool has_sync_frame = false;
    std::string video_format;
    std::string audio_format;
    int16_t width = 0;
    int16_t height = 0;
    uint8_t frame_rate_code = 0;
    std::optional<double> frame_rate;
    uint64_t frames = 0;  // complete frames, sync and continuation
    uint64_t sync_frames = 0;
    std::vector<NsvProblem> problems;
};

// Walks the complete bytes of an NSV file frame by frame, each frame exactly where the one
// before it ended, and never reads outside bytes. The walk stops at the first unrecognised
// start or truncated frame, which it records; it never fails otherwise.
NsvSummary inspect_nsv(std::string_view bytes);

// The summary as "key: value" lines for `tarnel-nsv info`, starting with "file: name" and
// ending with "problems: none" or "problems: N" followed by one "problem: ..." line each.
std::string describe_nsv(const std::string& name, const NsvSummary& summary);

}  // namespace tarnel
