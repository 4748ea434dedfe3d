// End to end: an MP4 made by ffmpeg goes through scripts/make-nsv, and the NSV file it writes
// is clean for tarnel-nsv info and decodes completely in ffmpeg.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "nsv_tool_path.h"
#include "support/media.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

using namespace std::string_literals;

constexpr int kInputFrames = 90;  // 3 seconds at 30 frames/s

TEST(MakeNsvTest, Mp4BecomesACleanPlayableNsvFile) {
    if (!have_ffmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    TempDir dir;
    const std::string log = dir.file("log.txt");
    ASSERT_EQ(
        run_program("/usr/bin/env",
                    {"ffmpeg", "-nostdin", "-v",        "error",
                     "-f",     "lavfi",    "-i",        "testsrc=size=160x120:rate=30:duration=3",
                     "-f",     "lavfi",    "-i",        "sine=frequency=440:duration=3",
                     "-c:v",   "libx264",  "-pix_fmt",  "yuv420p",
                     "-c:a",   "aac",      "-shortest", dir.file("My Clip.mp4")},
                    dir.path(), log, 60000),
        0)
        << read_file(log);

    ASSERT_EQ(run_program(std::string(TARNEL_SOURCE_DIR) + "/scripts/make-nsv",
                          {dir.file("My Clip.mp4"), dir.file("out.nsv")}, dir.path(), log, 60000),
              0)
        << read_file(log);

    ASSERT_EQ(run_program(nsv_tool_path(), {"info", "out.nsv"}, dir.path(), log), 0)
        << read_file(log);
    const std::string info = read_file(log);
    for (const std::string& line :
         {"metadata: TITLE=\"My Clip\"\n"s, "video: \"VP80\"\n"s, "audio: \"MP3 \"\n"s,
          "size: 160x120\n"s, "frame rate: 30.000 (code 0x1e)\n"s, "seconds: 3.00\n"s,
          "problems: none\n"s}) {
        EXPECT_NE(info.find(line), std::string::npos) << line << " in\n" << info;
    }
    EXPECT_NE(info.find("frames: " + std::to_string(kInputFrames) + " ("), std::string::npos)
        << info;

    // framemd5 lines start with the stream index: 0 for video, 1 for audio.
    const std::string md5 = dir.file("frames.md5");
    const std::string errors = dir.file("errors.txt");
    ASSERT_EQ(run_program("/bin/sh",
                          {"-c",
                           "ffmpeg -nostdin -v error -i out.nsv -f framemd5 - >frames.md5 "
                           "2>errors.txt"},
                          dir.path(), log, 60000),
              0);
    int video_frames = 0;
    int audio_frames = 0;
    std::istringstream lines(read_file(md5));
    for (std::string line; std::getline(lines, line);) {
        video_frames += line.rfind("0,", 0) == 0 ? 1 : 0;
        audio_frames += line.rfind("1,", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(video_frames, kInputFrames);
    EXPECT_GE(audio_frames, 110);  // 3 s of 1152-sample frames at 44100 Hz is 114.8
    // ffmpeg's NSV demuxer ends every file with a -1 read status that it prints as
    // "Operation not permitted"; any other message is a real decoding error.
    std::string error_text;
    std::istringstream error_lines(read_file(errors));
    for (std::string line; std::getline(error_lines, line);) {
        const bool end_of_file_status = line == "out.nsv: Operation not permitted" ||
                                        line.find("Last message repeated") != std::string::npos;
        if (!end_of_file_status) {
            error_text += line + "\n";
        }
    }
    EXPECT_EQ(error_text, "");
}

}  // namespace
}  // namespace tarnel::test
