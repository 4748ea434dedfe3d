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
    bool metadata_cut = false;  // the metadata text goes on beyond the 1 MiB kept of it
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

    // The complete frames as the streaming reader paces them: it takes the rate of the first
    // sync frame whose code names one, and sends ceil(rate) frames each second (every frame
    // before that rate is known goes into the first second).
    std::optional<double> stream_frame_rate;
    uint64_t frame_bytes = 0;        // prefixes, headers and payloads of the complete frames
    uint64_t seconds_sent = 0;       // seconds of frames, the last one possibly shorter
    uint64_t peak_second_bytes = 0;  // the largest of them
};

// The bytes of a file, read at given offsets.
class NsvByteSource {
  public:
    virtual ~NsvByteSource() = default;
    // The file's length.
    virtual uint64_t size() const = 0;
    // count bytes from offset, fewer where the file ends (or ended early); empty past the end.
    // The view stays valid until the next call.
    virtual std::string_view read(uint64_t offset, size_t count) = 0;
};

// Walks an NSV file frame by frame, each frame exactly where the one before it ended. It reads
// the file header and each frame's prefix and header (at most 24 bytes a frame) and passes over
// payloads, and never reads outside the file. The walk stops at the first unrecognised start or
// truncated frame, which it records; it never fails otherwise.
NsvSummary inspect_nsv(NsvByteSource& source);
// The same over the complete bytes of a file in memory.
NsvSummary inspect_nsv(std::string_view bytes);

// The short name of a problem kind ("truncated frame", ...), as info and check print it.
const char* nsv_problem_name(NsvProblemKind kind);

// The first sync frame's codes and picture size as "VP80/MP3 640x360", each code without its
// padding (trailing spaces or zero bytes): what a listener's player takes from the first file.
std::string nsv_picture(const NsvSummary& summary);

// The summary as "key: value" lines for `tarnel-nsv info`, starting with "file: name" and
// ending with "problems: none" or "problems: N" followed by one "problem: ..." line each.
std::string describe_nsv(const std::string& name, const NsvSummary& summary);

}  // namespace tarnel
