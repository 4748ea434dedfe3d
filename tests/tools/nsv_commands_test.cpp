#include "tools/nsv_commands.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "nsv_test_bytes.h"
#include "nsv_tool_path.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

using namespace std::string_literals;

class NsvCommandsTest : public ::testing::Test {
  protected:
    // Runs tarnel-nsv with args in the temporary directory; output_ holds stdout and stderr.
    int run(const std::vector<std::string>& args) {
        const int status = run_program(nsv_tool_path(), args, dir_.path(), dir_.file("out.txt"));
        output_ = read_file(dir_.file("out.txt"));
        return status;
    }

    TempDir dir_;
    std::string output_;
};

TEST_F(NsvCommandsTest, InfoExitStatusFollowsTheWorstFile) {
    dir_.write("clean.nsv", file_header("TITLE=\"c\""s + '\0') + sync_frame("v", "a"));
    dir_.write("cut.nsv", sync_frame("v", "a") + "NSVs");
    ASSERT_EQ(mkfifo(dir_.file("fifo").c_str(), 0600), 0);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> output_parts;
    };
    const Case cases[] = {
        {{"info", "clean.nsv"},
         0,
         {"file: clean.nsv\n", "metadata: TITLE=\"c\"\n", "problems: none\n"}},
        {{"info", "clean.nsv", "cut.nsv"},
         1,
         {"problems: none\n\nfile: cut.nsv\n", "problem: truncated frame at offset 26"}},
        {{"info", "clean.nsv", "missing.nsv"},
         2,
         {"problems: none\n", "cannot read missing.nsv (No such file or directory)"}},
        // Never read: /dev/zero would never end, and open() of a FIFO blocked for ever.
        {{"info", "/dev/zero"}, 2, {"cannot read /dev/zero (not a regular file)"}},
        {{"info", "fifo", "clean.nsv"}, 2, {"cannot read fifo (not a regular file)", "clean.nsv"}},
        {{"info"}, 2, {"usage:"}},
        {{}, 2, {"usage:"}},
        {{"frobnicate"}, 2, {"unknown command frobnicate"}},
        {{"--help"}, 0, {"tarnel-nsv mux --video"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        EXPECT_EQ(run(c.args), c.status);
        for (const std::string& part : c.output_parts) {
            EXPECT_NE(output_.find(part), std::string::npos) << output_;
        }
    }
}

TEST_F(NsvCommandsTest, MuxWritesAFileThatInfoFindsClean) {
    dir_.write("v.ivf", ivf_file({"\x10key"s, "\x01p"s, "\x01p"s}, 30000, 1001));
    const std::string mp3 = mpeg_frame(kMp3Header128k, 417);
    dir_.write("a.mp3", mp3 + mp3);
    ASSERT_EQ(run({"mux", "--video", "v.ivf", "--audio", "a.mp3", "--title", "My clip", "--url",
                   "http://127.0.0.1/", "-o", "out.nsv"}),
              0)
        << output_;
    EXPECT_NE(output_.find("3 frames (1 sync)"), std::string::npos) << output_;
    EXPECT_EQ(run({"info", "out.nsv"}), 0) << output_;
    for (const char* part :
         {"metadata: TITLE=\"My clip\" URL=\"http://127.0.0.1/\"\n", "audio: \"MP3 \"\n",
          "frame rate: 29.970 (code 0x81)\n", "frames: 3 (1 sync)\n", "problems: none\n"}) {
        EXPECT_NE(output_.find(part), std::string::npos) << output_;
    }
}

TEST_F(NsvCommandsTest, MuxRefusals) {
    dir_.write("v.ivf", ivf_file({"\x10key"s}));
    dir_.write("odd.ivf", ivf_file({"\x10key"s}, 25, 2));
    dir_.write("cut.ivf", ivf_file({"\x10key"s}).substr(0, 40));
    dir_.write("bad.mp3", "not audio");
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* output_part;
    };
    const Case cases[] = {
        {{"mux", "-o", "x.nsv"}, 2, "needs --video and -o"},
        {{"mux", "--video", "v.ivf"}, 2, "needs --video and -o"},
        {{"mux", "--video", "v.ivf", "-o"}, 2, "-o needs a value"},
        {{"mux", "--video", "v.ivf", "--bogus", "1", "-o", "x.nsv"}, 2, "unknown option --bogus"},
        {{"mux", "--video", "none.ivf", "-o", "x.nsv"}, 2, "cannot read none.ivf"},
        {{"mux", "--video", "v.ivf", "-o", "no/such/dir/x.nsv"}, 2, "cannot write"},
        {{"mux", "--video", "cut.ivf", "-o", "x.nsv"}, 1, "cut.ivf: IVF frame header"},
        {{"mux", "--video", "v.ivf", "--audio", "bad.mp3", "-o", "x.nsv"}, 1, "bad.mp3: no MPEG"},
        {{"mux", "--video", "odd.ivf", "-o", "x.nsv"}, 1, "frame rate 25/2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        EXPECT_EQ(run(c.args), c.status);
        EXPECT_NE(output_.find(c.output_part), std::string::npos) << output_;
        EXPECT_FALSE(file_exists(dir_.file("x.nsv")));
    }
}

}  // namespace
}  // namespace tarnel::test
