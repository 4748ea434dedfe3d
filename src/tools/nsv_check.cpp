#include "tools/nsv_check.h"

#include <algorithm>

#include "nsv/nsv_frame_rate.h"
#include "tools/byte_order.h"

namespace tarnel {
namespace {

constexpr size_t kMinHeaderSize = 28;  // "NSVf", header size and five 32-bit words
constexpr size_t kSyncPrefixSize = 19;
constexpr size_t kContinuationPrefixSize = 2;
constexpr size_t kFrameHeaderSize = 5;
constexpr std::string_view kSyncMarker = "NSVs";
constexpr std::string_view kContinuationMarker = "\xEF\xBE";

void add_problem(NsvSummary& summary, NsvProblemKind kind, uint64_t offset, std::string detail) {
    summary.problems.push_back(NsvProblem{kind, offset, std::move(detail)});
}

// Reads the optional "NSVf" header; returns where the first frame starts, or nothing when the
// header is unusable (the problem is recorded).
std::optional<size_t> read_file_header(std::string_view bytes, NsvSummary& summary) {
    if (bytes.substr(0, 4) != "NSVf") {
        return size_t{0};
    }
    summary.has_file_header = true;
    if (!fits(bytes, 4, 4)) {
        add_problem(summary, NsvProblemKind::kBadHeaderSize, 0,
                    "file ends inside the header size field");
        return std::nullopt;
    }
    summary.header_size = read_le32(bytes, 4);
    if (summary.header_size < kMinHeaderSize) {
        add_problem(summary, NsvProblemKind::kBadHeaderSize, 0,
                    "header size " + std::to_string(summary.header_size) + " is below 28");
        return std::nullopt;
    }
    if (summary.header_size > bytes.size()) {
        add_problem(summary, NsvProblemKind::kBadHeaderSize, 0,
                    "header size " + std::to_string(summary.header_size) +
                        " is beyond the end of the file (" + std::to_string(bytes.size()) +
                        " bytes)");
        return std::nullopt;
    }
    const std::string_view area =
        bytes.substr(kMinHeaderSize, summary.header_size - kMinHeaderSize);
    summary.metadata = std::string(area.substr(0, area.find('\0')));
    return static_cast<size_t>(summary.header_size);
}

void take_sync_fields(std::string_view prefix, uint64_t offset, NsvSummary& summary) {
    const uint8_t code = byte_at(prefix, 16);
    if (!summary.has_sync_frame) {
        summary.has_sync_frame = true;
        summary.video_format = std::string(prefix.substr(4, 4));
        summary.audio_format = std::string(prefix.substr(8, 4));
        summary.width = static_cast<int16_t>(read_le16(prefix, 12));
        summary.height = static_cast<int16_t>(read_le16(prefix, 14));
        summary.frame_rate_code = code;
        summary.frame_rate = nsv_frame_rate(code);
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

}  // namespace

NsvSummary inspect_nsv(std::string_view bytes) {
    NsvSummary summary;
    const std::optional<size_t> first_frame = read_file_header(bytes, summary);
    if (!first_frame) {
        return summary;
    }
    size_t position = *first_frame;
    while (position < bytes.size()) {
        const std::string_view rest = bytes.substr(position);
        size_t prefix_size = 0;
        if (rest.substr(0, 4) == kSyncMarker) {
            prefix_size = kSyncPrefixSize;
        } else if (rest.substr(0, 2) == kContinuationMarker) {
            prefix_size = kContinuationPrefixSize;
        } else if (rest.size() < kSyncMarker.size() && is_cut_marker(rest)) {
            add_problem(summary, NsvProblemKind::kTruncatedFrame, position,
                        "file ends inside a frame marker");
            break;
        } else {
            add_problem(summary, NsvProblemKind::kUnrecognisedFrameStart, position,
                        "bytes here start neither a sync nor a continuation frame");
            break;
        }
        if (rest.size() < prefix_size) {
            add_problem(summary, NsvProblemKind::kTruncatedFrame, position,
                        "file ends inside the sync frame prefix");
            break;
        }
        if (!fits(rest, prefix_size, kFrameHeaderSize)) {
            add_problem(summary, NsvProblemKind::kTruncatedFrame, position,
                        "file ends inside the frame header");
            break;
        }
        const std::string_view header = rest.substr(prefix_size, kFrameHeaderSize);
        const size_t video_length =
            (byte_at(header, 2) << 12) | (byte_at(header, 1) << 4) | (byte_at(header, 0) >> 4);
        const size_t audio_length = read_le16(header, 3);
        const size_t payload_length = video_length + audio_length;
        const size_t payload_start = prefix_size + kFrameHeaderSize;
        if (!fits(rest, payload_start, payload_length)) {
            add_problem(summary, NsvProblemKind::kTruncatedFrame, position,
                        "file ends inside the payload (" + std::to_string(payload_length) +
                            " bytes announced, " + std::to_string(rest.size() - payload_start) +
                            " left)");
            break;
        }
        if (prefix_size == kSyncPrefixSize) {
            take_sync_fields(rest, position, summary);
            ++summary.sync_frames;
        }
        ++summary.frames;
        position += payload_start + payload_length;
    }
    if (summary.frames == 0) {
        add_problem(summary, NsvProblemKind::kNoFrames, position, "no complete frame");
    } else if (!summary.has_sync_frame) {
        add_problem(summary, NsvProblemKind::kNoSyncFrame, *first_frame,
                    "no sync frame, so no formats, picture size or frame rate");
    }
    return summary;
}

}  // namespace tarnel
