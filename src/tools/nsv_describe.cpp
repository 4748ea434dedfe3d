#include "config/strformat.h"
#include "tools/nsv_check.h"

namespace tarnel {
namespace {

// Bytes as text on one line: printable ASCII as is, everything else as \xNN.
std::string printable(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            out.push_back(c);
        } else {
            out += strformat("\\x%02x", byte);
        }
    }
    return out;
}

}  // namespace

const char* nsv_problem_name(NsvProblemKind kind) {
    switch (kind) {
        case NsvProblemKind::kBadHeaderSize:
            return "bad header size";
        case NsvProblemKind::kUnrecognisedFrameStart:
            return "unrecognised frame start";
        case NsvProblemKind::kTruncatedFrame:
            return "truncated frame";
        case NsvProblemKind::kUnsetFrameRate:
            return "frame rate unset";
        case NsvProblemKind::kNoSyncFrame:
            return "no sync frame";
        case NsvProblemKind::kNoFrames:
            return "no frames";
    }
    return "problem";
}

std::string nsv_picture(const NsvSummary& summary) {
    const auto code = [](std::string text) {
        while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) {
            text.pop_back();
        }
        return text;
    };
    return strformat("%s/%s %dx%d", code(summary.video_format).c_str(),
                     code(summary.audio_format).c_str(), summary.width, summary.height);
}

std::string describe_nsv(const std::string& name, const NsvSummary& summary) {
    std::string out = "file: " + name + "\n";
    out += "metadata: " +
           (summary.has_file_header ? printable(summary.metadata) : "(no file header)") +
           (summary.metadata_cut ? " (cut: only its first 1 MiB is shown)" : "") + "\n";
    if (summary.has_sync_frame) {
        out += "video: \"" + printable(summary.video_format) + "\"\n";
        out += "audio: \"" + printable(summary.audio_format) + "\"\n";
        out += strformat("size: %dx%d\n", summary.width, summary.height);
        if (summary.frame_rate) {
            out += strformat("frame rate: %.3f (code 0x%02x)\n", *summary.frame_rate,
                             summary.frame_rate_code);
        } else {
            out += strformat("frame rate: unset (code 0x%02x)\n", summary.frame_rate_code);
        }
    } else {
        out += "video: (none)\naudio: (none)\nsize: (none)\nframe rate: unset (no sync frame)\n";
    }
    out += strformat("frames: %llu (%llu sync)\n", static_cast<unsigned long long>(summary.frames),
                     static_cast<unsigned long long>(summary.sync_frames));
    if (summary.frame_rate) {
        out +=
            strformat("seconds: %.2f\n", static_cast<double>(summary.frames) / *summary.frame_rate);
    } else {
        out += "seconds: unknown\n";
    }
    if (summary.problems.empty()) {
        out += "problems: none\n";
        return out;
    }
    out += strformat("problems: %zu\n", summary.problems.size());
    for (const NsvProblem& problem : summary.problems) {
        out += strformat("problem: %s at offset %llu: %s\n", nsv_problem_name(problem.kind),
                         static_cast<unsigned long long>(problem.offset), problem.detail.c_str());
    }
    return out;
}

}  // namespace tarnel
