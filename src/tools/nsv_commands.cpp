#include "tools/nsv_commands.h"

#include <optional>
#include <utility>

#include "config/stdio_file.h"
#include "config/strformat.h"
#include "tools/byte_file.h"
#include "tools/file_window.h"
#include "tools/ivf.h"
#include "tools/media_check.h"
#include "tools/mp3_frames.h"
#include "tools/nsv_check.h"
#include "tools/nsv_mux.h"

namespace tarnel {
namespace {

struct MuxArguments {
    std::string video;
    std::string audio;
    std::string title;
    std::string url;
    std::string output;
};

// Parses the options of mux; returns nothing and sets error on an unknown option, a missing
// value or a missing --video or -o.
std::optional<MuxArguments> parse_mux_arguments(const std::vector<std::string>& args,
                                                std::string& error) {
    MuxArguments parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        std::string* target = nullptr;
        if (option == "--video") {
            target = &parsed.video;
        } else if (option == "--audio") {
            target = &parsed.audio;
        } else if (option == "--title") {
            target = &parsed.title;
        } else if (option == "--url") {
            target = &parsed.url;
        } else if (option == "-o" || option == "--output") {
            target = &parsed.output;
        } else {
            error = "unknown option " + option;
            return std::nullopt;
        }
        if (i + 1 >= args.size()) {
            error = option + " needs a value";
            return std::nullopt;
        }
        *target = args[++i];
    }
    if (parsed.video.empty() || parsed.output.empty()) {
        error = "mux needs --video and -o";
        return std::nullopt;
    }
    return parsed;
}

}  // namespace

const char* tool_usage() {
    return "usage: tarnel-nsv info FILE...\n"
           "       tarnel-nsv convert [--video-bitrate RATE] [--audio-bitrate RATE]\n"
           "                          [--keyframe-seconds S] INPUT OUTPUT.nsv [TITLE]\n"
           "       tarnel-nsv mux --video VIDEO.ivf [--audio AUDIO.mp3] [--title TITLE]\n"
           "                      [--url URL] -o OUTPUT.nsv\n"
           "       tarnel-nsv check [--json] [--strict] [--require-config] [--directory DIR]\n"
           "                        [--user USER] [CONFIG]\n"
           "       tarnel-nsv check [--json] [--strict] --station NAME\n"
           "       tarnel-nsv --version\n"
           "info:    prints each NSV file's metadata, formats, picture size, frame rate, frames,\n"
           "         seconds and structural problems; exit 0 when all are clean, 1 otherwise.\n"
           "convert: any video that ffmpeg reads -> NSV (VP8 500k and MP3 128k by default);\n"
           "         needs ffmpeg. TITLE defaults to the input's name without its extension.\n"
           "mux:     writes an NSV file from VP8 video in IVF and optional MP3 audio.\n"
           "check:   checks the station that `tarnel CONFIG` would run (default tarnel.conf):\n"
           "         configuration, playlist and every media file, sending nothing and changing\n"
           "         no file; exit 0 when nothing needs fixing (warnings alone: 0, unless\n"
           "         --strict), 1 when something does. --json: the report as JSON.\n"
           "         --station NAME: tarnel@NAME as its unit runs it (its configuration, from its\n"
           "         directory, as its user when run as root).\n"
           "Exit status 2: bad command line or a file that cannot be read or written.\n";
}

int run_info_command(const std::vector<std::string>& files, std::FILE* out, std::FILE* err) {
    if (files.empty()) {
        std::fputs(tool_usage(), err);
        return kToolUsage;
    }
    int status = kToolOk;
    bool unreadable = false;
    for (size_t i = 0; i < files.size(); ++i) {
        if (i > 0) {
            std::fputs("\n", out);
        }
        // Walked through a window, as check walks it: memory stays small for a file of any size.
        StdioFile file = open_regular_file(files[i]);
        if (!file) {
            std::fprintf(err, "tarnel-nsv: cannot read %s (%s)\n", files[i].c_str(),
                         open_failure(files[i]).c_str());
            unreadable = true;
            continue;
        }
        FileWindow window(std::move(file));
        const NsvSummary summary = inspect_nsv(window);
        std::fputs(describe_nsv(files[i], summary).c_str(), out);
        if (!summary.problems.empty()) {
            status = kToolProblem;
        }
    }
    return unreadable ? kToolUsage : status;
}

int run_mux_command(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    std::string error;
    const std::optional<MuxArguments> parsed = parse_mux_arguments(args, error);
    if (!parsed) {
        std::fprintf(err, "tarnel-nsv: %s\n%s", error.c_str(), tool_usage());
        return kToolUsage;
    }
    std::string video_bytes;
    if (!read_whole_file(parsed->video, video_bytes)) {
        std::fprintf(err, "tarnel-nsv: cannot read %s\n", parsed->video.c_str());
        return kToolUsage;
    }
    std::string audio_bytes;
    if (!parsed->audio.empty() && !read_whole_file(parsed->audio, audio_bytes)) {
        std::fprintf(err, "tarnel-nsv: cannot read %s\n", parsed->audio.c_str());
        return kToolUsage;
    }
    const std::optional<IvfStream> video = parse_ivf(video_bytes, error);
    if (!video) {
        std::fprintf(err, "tarnel-nsv: %s: %s\n", parsed->video.c_str(), error.c_str());
        return kToolProblem;
    }
    std::optional<Mp3Stream> audio;
    if (!parsed->audio.empty()) {
        audio = split_mp3_frames(audio_bytes, error);
        if (!audio) {
            std::fprintf(err, "tarnel-nsv: %s: %s\n", parsed->audio.c_str(), error.c_str());
            return kToolProblem;
        }
    }
    const std::optional<NsvMuxResult> muxed = mux_nsv(
        *video, audio ? &*audio : nullptr, nsv_metadata_text(parsed->title, parsed->url), error);
    if (!muxed) {
        std::fprintf(err, "tarnel-nsv: cannot mux: %s\n", error.c_str());
        return kToolProblem;
    }
    if (!write_whole_file(parsed->output, muxed->bytes)) {
        std::fprintf(err, "tarnel-nsv: cannot write %s\n", parsed->output.c_str());
        return kToolUsage;
    }
    if (muxed->dropped_audio_frames > 0) {
        std::fprintf(
            err,
            "tarnel-nsv: note: %llu audio frames start after the video ends and were left out\n",
            static_cast<unsigned long long>(muxed->dropped_audio_frames));
    }
    std::fprintf(out, "%s: %llu frames (%llu sync), %zu bytes\n", parsed->output.c_str(),
                 static_cast<unsigned long long>(muxed->frames),
                 static_cast<unsigned long long>(muxed->sync_frames), muxed->bytes.size());
    return kToolOk;
}

}  // namespace tarnel
