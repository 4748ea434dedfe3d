#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tarnel {

// `tarnel-nsv convert [--video-bitrate RATE] [--audio-bitrate RATE] [--keyframe-seconds S]
// INPUT OUTPUT [TITLE]`; args are the words after "convert". Turns any video that ffmpeg reads
// into an NSV file (VP8 video, MP3 audio): ffprobe and ffmpeg encode into a temporary directory,
// then mux writes the file. Returns 0, 1 when the input has no video or ffmpeg failed, 2 on a
// usage error, an unreadable input or ffmpeg missing.
int run_convert_command(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace tarnel
