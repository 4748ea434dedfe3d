// tarnel-nsv check as a program: arguments, exit status, output streams.
#include <gtest/gtest.h>

#include "nsv_tool_path.h"
#include "support/nsv_writer.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

class CheckCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NsvWriter clip;
        clip.file_header("TITLE=\"Caf\xC3\xA9\"").frames(30, 0x1E, 200, 50);
        dir_.write("a.nsv", clip.bytes());
        dir_.write("tarnel.conf", "Playlist=list.plo\nLogFile=tarnel.log\n");
        dir_.write("list.plo", "#Mode=basic\na.nsv\n");
    }

    // Runs tarnel-nsv check with args in the station; out_ and err_ hold its two streams.
    int run(const std::vector<std::string>& args) {
        std::vector<std::string> all{"-c", "\"$0\" check \"$@\" >out.txt 2>err.txt",
                                     nsv_tool_path()};
        all.insert(all.end(), args.begin(), args.end());
        const int status = run_program("/bin/sh", all, dir_.path(), dir_.file("sh.txt"));
        out_ = read_file(dir_.file("out.txt"));
        err_ = read_file(dir_.file("err.txt"));
        return status;
    }

    TempDir dir_;
    std::string out_;
    std::string err_;
};

TEST_F(CheckCommandTest, StatusFollowsErrorsWarningsAndStrict) {
    EXPECT_EQ(run({}), 0) << out_;  // tarnel.conf in the working directory, as for tarnel
    EXPECT_NE(out_.find("No problems found.\n"), std::string::npos) << out_;
    EXPECT_EQ(err_, "");  // no progress line when standard error is no terminal
    EXPECT_FALSE(file_exists(dir_.file("tarnel.log")));

    dir_.write("other.conf", "Playlist=list.plo\nBitrat=1\n");
    EXPECT_EQ(run({"other.conf"}), 0) << out_;
    EXPECT_NE(out_.find("Warnings (1):\n  unknown configuration key:\n"), std::string::npos);
    EXPECT_EQ(run({"--strict", "other.conf"}), 1) << out_;
    EXPECT_NE(out_.find("needs fixing (warnings count under --strict).\n"), std::string::npos);

    dir_.write("list.plo", "#Mode=basic\na.nsv\ngone.nsv\n");
    EXPECT_EQ(run({}), 1) << out_;
    EXPECT_NE(out_.find("Summary: 2 media files, 1 playable; 1 error, 0 warnings: needs fixing.\n"),
              std::string::npos)
        << out_;
}

TEST_F(CheckCommandTest, JsonReport) {
    dir_.write("list.plo", "#Mode=basic\na.nsv\ngone.nsv\n");
    EXPECT_EQ(run({"--json"}), 1);
    ASSERT_EQ(out_.back(), '\n');
    EXPECT_EQ(out_.find('\n'), out_.size() - 1);  // one line
    for (const char* part :
         {"{\"config\":\"tarnel.conf\",\"config_loaded\":true,\"playlist\":\"list.plo\"",
          "\"mode\":\"basic\"",
          "\"problems\":[{\"severity\":\"error\",\"problem\":\"entry cannot be opened\","
          "\"file\":\"gone.nsv\",",
          "\"entries\":[\"a.nsv\",\"gone.nsv\"]",
          "{\"entry\":\"a.nsv\",\"opened\":true,\"title\":\"Caf\xC3\xA9\",\"video\":\"VP62\","
          "\"audio\":\"MP3 \",\"width\":320,\"height\":240,\"frame_rate\":30.000,\"frames\":30,"
          "\"playable\":true,\"seconds\":1.000,",
          "{\"entry\":\"gone.nsv\",\"opened\":false,\"open_error\":\"No such file or directory\"}",
          "\"log\":[\"Configuration file loaded from 'tarnel.conf'\",",
          "\"summary\":{\"files\":2,\"playable\":1,\"errors\":1,\"warnings\":0,\"status\":1}}"}) {
        EXPECT_NE(out_.find(part), std::string::npos) << part << "\nin\n" << out_;
    }
}

TEST_F(CheckCommandTest, UsageErrors) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--frobnicate"}, {"a.conf", "b.conf"}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        EXPECT_EQ(run(args), 2);
        EXPECT_EQ(out_, "");
        EXPECT_NE(err_.find("tarnel-nsv check [--json] [--strict] [CONFIG]"), std::string::npos)
            << err_;
    }
}

}  // namespace
}  // namespace tarnel::test
