#pragma once

#include <string>
#include <vector>

namespace tarnel::test {

// ffmpeg and ffprobe are installed.
bool have_ffmpeg();

// Makes a playable NSV clip from ffmpeg's test sources through scripts/make-nsv: `seconds` of a
// 160x120 test picture at 30 frames/s with a tone, titled `title`. Returns the path, or an empty
// string (with the tools' output in `diagnostics`) when a step failed.
std::string make_clip(const std::string& directory, const std::string& name,
                      const std::string& title, int seconds, std::string& diagnostics);

// The MD5 of every decoded video frame of a file, in order, as ffmpeg's framemd5 muxer gives them.
std::vector<std::string> video_frame_md5s(const std::string& path);

}  // namespace tarnel::test
