// End to end: tarnel-nsv convert turns what ffmpeg reads into NSV that tarnel-nsv info finds
// clean, gives a video without sound a silent track of its length, and says what is wrong with
// an input it cannot convert.
#include <gtest/gtest.h>

#include "nsv_tool_path.h"
#include "support/media.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

class ConvertTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!have_ffmpeg()) {
            GTEST_SKIP() << "ffmpeg is not installed";
        }
    }

    // Makes an input with ffmpeg from its lavfi sources.
    void make_input(const std::vector<std::string>& sources, const std::string& name) {
        std::vector<std::string> args = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
        for (const std::string& source : sources) {
            args.insert(args.end(), {"-f", "lavfi", "-i", source});
        }
        args.push_back(dir_.file(name));
        ASSERT_EQ(run_program("/usr/bin/env", args, dir_.path(), dir_.file("log.txt"), 60000), 0)
            << read_file(dir_.file("log.txt"));
    }

    int tool(const std::vector<std::string>& args) {
        return run_program(nsv_tool_path(), args, dir_.path(), dir_.file("out.txt"), 120000);
    }
    std::string output() const { return read_file(dir_.file("out.txt")); }

    TempDir dir_;
};

TEST_F(ConvertTest, AVideoWithoutSoundGetsASilentTrackAndTheGivenTitle) {
    // 2 seconds at 25 frames/s, an odd picture size (made even), no audio.
    make_input({"testsrc=size=161x121:rate=25:duration=2"}, "silent.mkv");
    ASSERT_EQ(tool({"convert", "--video-bitrate", "200k", "--keyframe-seconds", "1", "silent.mkv",
                    "out.nsv", "A title"}),
              0)
        << output();
    ASSERT_EQ(tool({"info", "out.nsv"}), 0) << output();
    const std::string info = output();
    for (const char* line :
         {"metadata: TITLE=\"A title\"\n", "video: \"VP80\"\n", "audio: \"MP3 \"\n",
          "size: 160x120\n", "frame rate: 25.000 (code 0x19)\n", "frames: 50 (",
          "problems: none\n"}) {
        EXPECT_NE(info.find(line), std::string::npos) << line << " in\n" << info;
    }
}

TEST_F(ConvertTest, WhatCannotBeConvertedIsSaid) {
    make_input({"sine=frequency=440:duration=1"}, "sound.mp3");
    EXPECT_EQ(tool({"convert", "sound.mp3", "out.nsv"}), 1);
    EXPECT_NE(output().find("tarnel-nsv: sound.mp3 has no video stream\n"), std::string::npos)
        << output();
    EXPECT_FALSE(file_exists(dir_.file("out.nsv")));

    EXPECT_EQ(tool({"convert", "absent.mp4", "out.nsv"}), 2);
    EXPECT_NE(output().find("tarnel-nsv: cannot read absent.mp4\n"), std::string::npos) << output();
    EXPECT_EQ(tool({"convert", "only-one-name.mp4"}), 2);
    EXPECT_EQ(tool({"convert", "--keyframe-seconds", "0", "sound.mp3", "out.nsv"}), 2);
    EXPECT_NE(output().find("--keyframe-seconds needs a number of seconds above 0"),
              std::string::npos)
        << output();
}

TEST(ToolVersionTest, VersionIsOneLine) {
    const TempDir dir;
    ASSERT_EQ(run_program(nsv_tool_path(), {"--version"}, dir.path(), dir.file("out.txt")), 0);
    EXPECT_EQ(read_file(dir.file("out.txt")), "tarnel-nsv " TARNEL_VERSION "\n");
}

}  // namespace
}  // namespace tarnel::test
