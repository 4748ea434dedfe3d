#include "tools/convert_plan.h"

#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "config/strformat.h"

namespace tarnel {
namespace {

// "N/D" as its two numbers; nothing for anything else or a zero denominator.
std::optional<std::pair<long, long>> fraction(const std::string& text) {
    const size_t slash = text.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 >= text.size()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const long numerator = std::strtol(text.c_str(), &end, 10);
    if (end != text.c_str() + slash) {
        return std::nullopt;
    }
    const long denominator = std::strtol(text.c_str() + slash + 1, &end, 10);
    if (*end != '\0' || denominator <= 0 || numerator < 0) {
        return std::nullopt;
    }
    return std::make_pair(numerator, denominator);
}

// A rate as a number: "30000/1001" or "30".
double rate_value(const std::string& rate) {
    if (const auto parts = fraction(rate)) {
        return static_cast<double>(parts->first) / static_cast<double>(parts->second);
    }
    return std::atof(rate.c_str());
}

std::string text_of(const nlohmann::json& value) {
    if (value.is_string()) {
        return value.get<std::string>();
    }
    return value.is_number() ? value.dump() : std::string();
}

}  // namespace

std::vector<std::string> probe_command(const std::string& input) {
    return {"ffprobe",
            "-v",
            "error",
            "-show_entries",
            "stream=index,codec_type,avg_frame_rate,nb_frames:format=duration",
            "-of",
            "json",
            "-i",
            input};
}

std::optional<ProbedInput> parse_probe(const std::string& json_text) {
    const nlohmann::json json = nlohmann::json::parse(json_text, nullptr, false);
    if (!json.is_object()) {
        return std::nullopt;
    }
    ProbedInput probed;
    const auto streams = json.find("streams");
    if (streams != json.end() && streams->is_array()) {
        for (const nlohmann::json& stream : *streams) {
            if (!stream.is_object()) {
                continue;
            }
            const std::string type = text_of(stream.value("codec_type", nlohmann::json()));
            if (type == "video" && !probed.has_video) {
                probed.has_video = true;
                probed.video_frame_rate = text_of(stream.value("avg_frame_rate", nlohmann::json()));
                probed.video_frames = text_of(stream.value("nb_frames", nlohmann::json()));
            } else if (type == "audio") {
                probed.has_audio = true;
            }
        }
    }
    const auto format = json.find("format");
    if (format != json.end() && format->is_object()) {
        probed.duration = text_of(format->value("duration", nlohmann::json()));
    }
    return probed;
}

std::string nsv_frame_rate_for(const std::string& probed_rate) {
    for (const char* stated :
         {"15000/1001", "24000/1001", "30000/1001", "48000/1001", "60000/1001"}) {
        if (probed_rate == stated) {
            return probed_rate;
        }
    }
    const auto parts = fraction(probed_rate);
    if (parts && parts->second == 1 && parts->first >= 1 && parts->first <= 127) {
        return std::to_string(parts->first);
    }
    return "30";
}

int keyframe_interval(const std::string& rate, double seconds) {
    const long frames = std::lround(rate_value(rate) * seconds);
    return frames < 1 ? 1 : static_cast<int>(frames);
}

std::string silence_seconds(const ProbedInput& input, const std::string& rate) {
    if (!input.duration.empty() && input.duration != "N/A" &&
        std::atof(input.duration.c_str()) > 0) {
        return input.duration;
    }
    const double frames = std::atof(input.video_frames.c_str());
    const double per_second = rate_value(rate);
    if (frames <= 0 || per_second <= 0) {
        return "";
    }
    return strformat("%.3f", frames / per_second);
}

std::vector<std::string> video_command(const ConvertOptions& options, const std::string& rate,
                                       const std::string& ivf_path) {
    return {"ffmpeg",
            "-nostdin",
            "-v",
            "error",
            "-y",
            "-i",
            options.input,
            "-map",
            "0:v:0",
            "-an",
            "-sn",
            "-dn",
            "-vf",
            "scale=trunc(iw/2)*2:trunc(ih/2)*2",
            "-pix_fmt",
            "yuv420p",
            "-r",
            rate,
            "-c:v",
            "libvpx",
            "-b:v",
            options.video_bitrate,
            "-g",
            std::to_string(keyframe_interval(rate, options.keyframe_seconds)),
            "-auto-alt-ref",
            "0",
            "-deadline",
            "good",
            "-cpu-used",
            "4",
            "-f",
            "ivf",
            ivf_path};
}

std::vector<std::string> audio_command(const ConvertOptions& options, const ProbedInput& input,
                                       const std::string& rate, const std::string& mp3_path) {
    std::vector<std::string> command = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
    if (input.has_audio) {
        command.insert(command.end(), {"-i", options.input, "-map", "0:a:0", "-vn", "-sn", "-dn"});
    } else {
        command.insert(command.end(), {"-f", "lavfi", "-i", "anullsrc=r=44100:cl=stereo", "-t",
                                       silence_seconds(input, rate)});
    }
    command.insert(command.end(),
                   {"-c:a", "libmp3lame", "-ar", "44100", "-ac", "2", "-b:a", options.audio_bitrate,
                    "-write_xing", "0", "-map_metadata", "-1", "-f", "mp3", mp3_path});
    return command;
}

std::string title_for(const ConvertOptions& options) {
    if (!options.title.empty()) {
        return options.title;
    }
    const size_t slash = options.input.find_last_of('/');
    std::string name = slash == std::string::npos ? options.input : options.input.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) {
        name.erase(dot);
    }
    return name;
}

}  // namespace tarnel
