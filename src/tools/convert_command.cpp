#include "tools/convert_command.h"

#include <unistd.h>

#include <cstdlib>
#include <optional>

#include "tools/child_process.h"
#include "tools/convert_plan.h"
#include "tools/nsv_commands.h"

namespace tarnel {
namespace {

std::optional<ConvertOptions> parse_convert_arguments(const std::vector<std::string>& args,
                                                      std::string& error) {
    ConvertOptions options;
    std::vector<std::string> positional;
    bool options_done = false;  // after "--", every word is INPUT, OUTPUT or TITLE
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string* target = nullptr;
        std::string seconds;
        if (options_done) {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        if (arg == "--video-bitrate") {
            target = &options.video_bitrate;
        } else if (arg == "--audio-bitrate") {
            target = &options.audio_bitrate;
        } else if (arg == "--keyframe-seconds") {
            target = &seconds;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return std::nullopt;
        } else {
            positional.push_back(arg);
            continue;
        }
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            error = arg + " needs a value";
            return std::nullopt;
        }
        *target = args[++i];
        if (target == &seconds) {
            char* end = nullptr;
            options.keyframe_seconds = std::strtod(seconds.c_str(), &end);
            if (*end != '\0' || !(options.keyframe_seconds > 0)) {
                error = "--keyframe-seconds needs a number of seconds above 0";
                return std::nullopt;
            }
        }
    }
    if (positional.size() < 2 || positional.size() > 3) {
        error = "convert needs INPUT and OUTPUT, and at most a TITLE";
        return std::nullopt;
    }
    options.input = positional[0];
    options.output = positional[1];
    options.title = positional.size() == 3 ? positional[2] : "";
    return options;
}

// Runs one ffmpeg step; false (with a message) when it failed.
bool run_step(const std::vector<std::string>& command, const char* what, std::FILE* err) {
    const int status = run_child(command);
    if (status != 0) {
        std::fprintf(err, "tarnel-nsv: ffmpeg could not %s (exit status %d)\n", what, status);
        return false;
    }
    return true;
}

}  // namespace

int run_convert_command(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    std::string error;
    const std::optional<ConvertOptions> options = parse_convert_arguments(args, error);
    if (!options) {
        std::fprintf(err, "tarnel-nsv: %s\n%s", error.c_str(), tool_usage());
        return kToolUsage;
    }
    for (const char* program : {"ffmpeg", "ffprobe"}) {
        if (!program_in_path(program)) {
            std::fprintf(err,
                         "tarnel-nsv: convert needs %s, which is not installed (Debian: "
                         "apt-get install ffmpeg)\n",
                         program);
            return kToolUsage;
        }
    }
    if (access(options->input.c_str(), R_OK) != 0) {
        std::fprintf(err, "tarnel-nsv: cannot read %s\n", options->input.c_str());
        return kToolUsage;
    }
    std::string probe_output;
    const int probed_status = run_child(probe_command(options->input), &probe_output);
    const std::optional<ProbedInput> input = parse_probe(probe_output);
    if (probed_status != 0 || !input) {
        std::fprintf(err, "tarnel-nsv: ffprobe cannot read %s as a video\n",
                     options->input.c_str());
        return kToolProblem;
    }
    if (!input->has_video) {
        std::fprintf(err, "tarnel-nsv: %s has no video stream\n", options->input.c_str());
        return kToolProblem;
    }
    const std::string rate = nsv_frame_rate_for(input->video_frame_rate);
    if (!input->has_audio && silence_seconds(*input, rate).empty()) {
        std::fprintf(err, "tarnel-nsv: %s has no audio, and its length is unknown\n",
                     options->input.c_str());
        return kToolProblem;
    }
    const TemporaryDirectory work("tarnel-nsv-convert");
    if (work.path().empty()) {
        std::fprintf(err, "tarnel-nsv: cannot make a temporary directory\n");
        return kToolUsage;
    }
    const std::string video = work.file("video.ivf");
    const std::string audio = work.file("audio.mp3");
    if (!run_step(video_command(*options, rate, video), "encode the video", err) ||
        !run_step(audio_command(*options, *input, rate, audio), "encode the audio", err)) {
        return kToolProblem;
    }
    return run_mux_command(
        {"--video", video, "--audio", audio, "--title", title_for(*options), "-o", options->output},
        out, err);
}

}  // namespace tarnel
