#include "tools/nsv_check.h"

#include <algorithm>

#include "nsv/nsv_format.h"
#include "nsv/nsv_frame_rate.h"
#include "tools/byte_order.h"

namespace tarnel {
namespace {

// The format's sizes, as unsigned values for the offset arithmetic of the walk.
constexpr size_t kMinHeaderSize = nsv::kFileHeaderFixedSize;
constexpr size_t kSyncPrefixSize = nsv::kSyncPrefixSize;
constexpr size_t kContinuationPrefixSize = nsv::kContinuationPrefixSize;
constexpr size_t kFrameHeaderSize = nsv::kFrameHeaderSize;
constexpr size_t kLongestFrameStart = kSyncPrefixSize + kFrameHeaderSize;
constexpr size_t kMetadataPiece = 4096;  // the metadata area is read this much at a time
// The most metadata text kept: far more than any real file carries, and a bound on the memory
// that a header which claims gigabytes can take.
constexpr size_t kMostMetadataKept = 1024 * 1024;
constexpr std::string_view kSyncMarker = nsv::kSyncMarker;
constexpr std::string_view kContinuationMarker = "\xEF\xBE";  // 0xBEEF, stored low byte first

void add_problem(NsvSummary& summary, NsvProblemKind kind, uint64_t offset, std::string detail) {
    summary.problems.push_back(NsvProblem{kind, offset, std::move(detail)});
}

// The metadata text: the area's bytes up to its first zero byte, or all of them, or the first
// kMostMetadataKept of them (cut is then set).
std::string read_metadata(NsvByteSource& source, uint64_t start, uint64_t end, bool& cut) {
    std::string text;
    for (uint64_t at = start; at < end;) {
        if (text.size() >= kMostMetadataKept) {
            cut = true;
            break;
        }
        const size_t room = kMostMetadataKept - text.size();
        const std::string_view piece = source.read(
            at, static_cast<size_t>(std::min<uint64_t>({kMetadataPiece, end - at, room})));
        const size_t zero = piece.find('\0');
        text.append(piece.substr(0, zero));
        if (zero != std::string_view::npos || piece.empty()) {
            break;
        }
        at += piece.size();
    }
    return text;
}

// Reads the optional "NSVf" header; returns where the first frame starts, or nothing when the
// header is unusable (the problem is recorded).
std::optional<uint64_t> read_file_header(NsvByteSource& source, NsvSummary& summary) {
    const std::string_view start = source.read(0, 8);
    if (start.substr(0, 4) != "NSVf") {
        return uint64_t{0};
    }
    summary.has_file_header = true;
    if (!fits(start, 4, 4)) {
        add_problem(summary, NsvProblemKind::kBadHeaderSize, 0,
                    "file ends inside the header size field");
        return std::nullopt;
    }
    summary.header_size = read_le32(start, 4);
    if (summary.header_size < kMinHeaderSize) {
        add_problem(summary, NsvProblemKind::kBadHeaderSize, 0,
                    "header size " + std::to_string(summary.header_size) + " is below 28");
        return std::nullopt;
    }
    if (summary.header_size > source.size()) {
        add_problem(summary, NsvProblemKind::kBadHeaderSize, 0,
                    "header size " + std::to_string(summary.header_size) +
                        " is beyond the end of the file (" + std::to_string(source.size()) +
                        " bytes)");
        return std::nullopt;
    }
    summary.metadata =
        read_metadata(source, kMinHeaderSize, summary.header_size, summary.metadata_cut);
    return uint64_t{summary.header_size};
}

void take_sync_fields(std::string_view prefix, uint64_t offset, NsvSummary& summary) {
    const uint8_t code = byte_at(prefix, nsv::kSyncRateOffset);
    if (!summary.has_sync_frame) {
        summary.has_sync_frame = true;
        summary.video_format = std::string(prefix.substr(nsv::kSyncVideoFormatOffset, 4));
        summary.audio_format = std::string(prefix.substr(nsv::kSyncAudioFormatOffset, 4));
        summary.width = static_cast<int16_t>(read_le16(prefix, nsv::kSyncWidthOffset));
        summary.height = static_cast<int16_t>(read_le16(prefix, nsv::kSyncHeightOffset));
        summary.frame_rate_code = code;
        summary.frame_rate = nsv_frame_rate(code);
    }
    if (!summary.stream_frame_rate) {
        summary.stream_frame_rate = nsv_frame_rate(code);
    }
    const bool already_reported =
        std::any_of(summary.problems.begin(), summary.problems.end(),
                    [](const NsvProblem& p) { return p.kind == NsvProblemKind::kUnsetFrameRate; });
    if (!nsv_frame_rate(code) && !already_reported) {
        // One report for the first such sync frame: a file has either none or nearly all.
        add_problem(summary, NsvProblemKind::kUnsetFrameRate, offset,
                    "sync frame has frame-rate code " + std::to_string(code) +
                        ", which sets no frame rate");
    }
}

// True when the remaining bytes, all fewer than a full marker, could still be the start of one.
bool is_cut_marker(std::string_view rest) {
    return !rest.empty() && (kSyncMarker.substr(0, rest.size()) == rest ||
                             kContinuationMarker.substr(0, rest.size()) == rest);
}

// Groups the complete frames into the seconds the streaming reader sends.
class SecondCounter {
  public:
    explicit SecondCounter(NsvSummary& summary) : summary_(summary) {}

    // Before each frame: a second ends once it holds ceil(rate) frames.
    void before_frame() {
        const int per_second =
            summary_.stream_frame_rate ? nsv::frames_per_second(*summary_.stream_frame_rate) : 0;
        if (per_second != 0 && frames_ >= static_cast<uint64_t>(per_second)) {
            end_second();
        }
    }
    void add_frame(uint64_t bytes) {
        ++frames_;
        bytes_ += bytes;
        summary_.frame_bytes += bytes;
    }
    void end_second() {
        if (frames_ == 0) {
            return;
        }
        ++summary_.seconds_sent;
        summary_.peak_second_bytes = std::max(summary_.peak_second_bytes, bytes_);
        frames_ = 0;
        bytes_ = 0;
    }

  private:
    NsvSummary& summary_;
    uint64_t frames_ = 0;
    uint64_t bytes_ = 0;
};

class InMemory : public NsvByteSource {
  public:
    explicit InMemory(std::string_view bytes) : bytes_(bytes) {}
    uint64_t size() const override { return bytes_.size(); }
    std::string_view read(uint64_t offset, size_t count) override {
        return offset < bytes_.size() ? bytes_.substr(static_cast<size_t>(offset), count)
                                      : std::string_view();
    }

  private:
    std::string_view bytes_;
};

}  // namespace

NsvSummary inspect_nsv(NsvByteSource& source) {
    NsvSummary summary;
    const std::optional<uint64_t> first_frame = read_file_header(source, summary);
    if (!first_frame) {
        return summary;
    }
    SecondCounter seconds(summary);
    const uint64_t size = source.size();
    uint64_t position = *first_frame;
    while (position < size) {
        // The frame start as far as the file holds it; a read that comes back short means the
        // file ends there (also when it was cut after its size was taken).
        const std::string_view start = source.read(position, kLongestFrameStart);
        const uint64_t left = start.size() < kLongestFrameStart ? start.size() : size - position;
        size_t prefix_size = 0;
        if (start.substr(0, 4) == kSyncMarker) {
            prefix_size = kSyncPrefixSize;
        } else if (start.substr(0, 2) == kContinuationMarker) {
            prefix_size = kContinuationPrefixSize;
        } else if (left < kSyncMarker.size() && is_cut_marker(start)) {
            add_problem(summary, NsvProblemKind::kTruncatedFrame, position,
                        "file ends inside a frame marker");
            break;
        } else {
            add_problem(summary, NsvProblemKind::kUnrecognisedFrameStart, position,
                        "bytes here start neither a sync nor a continuation frame");
            break;
        }
        if (left < prefix_size) {
            add_problem(summary, NsvProblemKind::kTruncatedFrame, position,
                        "file ends inside the sync frame prefix");
            break;
        }
        if (left < prefix_size + kFrameHeaderSize) {
            add_problem(summary, NsvProblemKind::kTruncatedFrame, position,
                        "file ends inside the frame header");
            break;
        }
        const uint64_t payload_length = static_cast<uint64_t>(
            nsv::decode_frame_header(start.data() + prefix_size).payload_length());
        const uint64_t payload_start = prefix_size + kFrameHeaderSize;
        if (payload_length > left - payload_start) {
            add_problem(summary, NsvProblemKind::kTruncatedFrame, position,
                        "file ends inside the payload (" + std::to_string(payload_length) +
                            " bytes announced, " + std::to_string(left - payload_start) + " left)");
            break;
        }
        seconds.before_frame();
        if (prefix_size == kSyncPrefixSize) {
            take_sync_fields(start, position, summary);
            ++summary.sync_frames;
        }
        ++summary.frames;
        seconds.add_frame(payload_start + payload_length);
        position += payload_start + payload_length;
    }
    seconds.end_second();
    if (summary.frames == 0) {
        add_problem(summary, NsvProblemKind::kNoFrames, position, "no complete frame");
    } else if (!summary.has_sync_frame) {
        add_problem(summary, NsvProblemKind::kNoSyncFrame, *first_frame,
                    "no sync frame, so no formats, picture size or frame rate");
    }
    return summary;
}

NsvSummary inspect_nsv(std::string_view bytes) {
    InMemory source(bytes);
    return inspect_nsv(source);
}

}  // namespace tarnel
