#include "support/media.h"

#include <cstdlib>
#include <sstream>

#include "support/process.h"
#include "support/temp_dir.h"

namespace tarnel::test {

bool have_ffmpeg() {
    return std::system("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") ==
           0;
}

std::string make_clip(const std::string& directory, const std::string& name,
                      const std::string& title, int seconds, std::string& diagnostics) {
    const std::string duration = std::to_string(seconds);
    const std::string source = directory + "/" + name + ".mp4";
    const std::string output = directory + "/" + name + ".nsv";
    const std::string log = directory + "/" + name + ".log";
    const int made = run_program("/usr/bin/env",
                                 {"ffmpeg",
                                  "-nostdin",
                                  "-v",
                                  "error",
                                  "-y",
                                  "-f",
                                  "lavfi",
                                  "-i",
                                  "testsrc=size=160x120:rate=30:duration=" + duration,
                                  "-f",
                                  "lavfi",
                                  "-i",
                                  "sine=frequency=440:duration=" + duration,
                                  "-c:v",
                                  "libx264",
                                  "-pix_fmt",
                                  "yuv420p",
                                  "-c:a",
                                  "aac",
                                  "-shortest",
                                  source},
                                 directory, log, 60000);
    if (made != 0) {
        diagnostics = read_file(log);
        return "";
    }
    const int converted = run_program(std::string(TARNEL_SOURCE_DIR) + "/scripts/make-nsv",
                                      {source, output, title}, directory, log, 60000);
    if (converted != 0) {
        diagnostics = read_file(log);
        return "";
    }
    return output;
}

std::vector<std::string> video_frame_md5s(const std::string& path) {
    TempDir dir;
    run_program("/bin/sh",
                {"-c", "ffmpeg -nostdin -v quiet -i \"$0\" -f framemd5 - > frames.md5", path},
                dir.path(), dir.file("log.txt"), 60000);
    std::vector<std::string> hashes;
    std::istringstream lines(read_file(dir.file("frames.md5")));
    for (std::string line; std::getline(lines, line);) {
        // "stream, dts, pts, duration, size, hash"; stream 0 is the video.
        if (line.rfind("0,", 0) == 0) {
            hashes.push_back(line.substr(line.find_last_of(',') + 1));
        }
    }
    return hashes;
}

}  // namespace tarnel::test
