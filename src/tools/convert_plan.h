#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarnel {

// What ffprobe says about an input, as far as the conversion needs it.
struct ProbedInput {
    bool has_video = false;
    bool has_audio = false;
    std::string video_frame_rate;  // the first video stream's avg_frame_rate, "30000/1001"
    std::string video_frames;      // its nb_frames, when the container states it
    std::string duration;          // the container's duration in seconds, when known
};

// The options of `tarnel-nsv convert`.
struct ConvertOptions {
    std::string input;
    std::string output;
    std::string title;  // empty: the input's file name without its extension
    std::string video_bitrate = "500k";
    std::string audio_bitrate = "128k";
    double keyframe_seconds = 2;
};

// The ffprobe command whose JSON output parse_probe reads.
std::vector<std::string> probe_command(const std::string& input);

// Reads ffprobe's JSON (-of json -show_entries stream=...:format=duration); nothing when the text
// is not that JSON.
std::optional<ProbedInput> parse_probe(const std::string& json_text);

// The frame rate to encode at: the input's when NSV can state it (a whole rate from 1 to 127, or
// 15000/1001, 24000/1001, 30000/1001, 48000/1001, 60000/1001), otherwise 30.
std::string nsv_frame_rate_for(const std::string& probed_rate);

// Frames between key frames: the rate times the seconds, rounded, at least 1.
int keyframe_interval(const std::string& rate, double seconds);

// The seconds of silence to give a video without audio: the container's duration, or else its
// frames divided by the rate; "" when neither is known.
std::string silence_seconds(const ProbedInput& input, const std::string& rate);

// The ffmpeg commands: VP8 in IVF (constant frame rate, an even picture size as 4:2:0 needs, a
// key frame every keyframe_seconds, no hidden alternate reference frames, so each packet is one
// picture), and MP3 at 44.1 kHz without a Xing header frame, from the input's first audio stream
// or, without one, silence of the given length.
std::vector<std::string> video_command(const ConvertOptions& options, const std::string& rate,
                                       const std::string& ivf_path);
std::vector<std::string> audio_command(const ConvertOptions& options, const ProbedInput& input,
                                       const std::string& rate, const std::string& mp3_path);

// The title written into the NSV file: the one given, or the input's file name without its
// directory and extension.
std::string title_for(const ConvertOptions& options);

}  // namespace tarnel
