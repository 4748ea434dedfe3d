// tarnel-nsv check as a program: arguments, exit status, output streams.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

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
    ASSERT_FALSE(out_.empty());
    EXPECT_EQ(out_.find('\n'), out_.size() - 1) << out_;  // one line
    // Not const: a member that is missing reads as null and fails the comparison.
    auto json = nlohmann::ordered_json::parse(out_, nullptr, false);
    ASSERT_TRUE(json.is_object()) << out_;

    EXPECT_EQ(json["config"], "tarnel.conf");
    EXPECT_EQ(json["config_loaded"], true);
    EXPECT_EQ(json["playlist"], "list.plo");
    EXPECT_EQ(json["playlist_loaded"], true);
    EXPECT_EQ(json["mode"], "basic");
    EXPECT_EQ(json["directory_changed"], false);
    EXPECT_EQ(json["bitrate_kbps"], 0);
    ASSERT_EQ(json["problems"].size(), 1u) << out_;
    EXPECT_EQ(json["problems"][0]["severity"], "error");
    EXPECT_EQ(json["problems"][0]["problem"], "entry cannot be opened");
    EXPECT_EQ(json["problems"][0]["file"], "gone.nsv");
    EXPECT_EQ(json["entries"], nlohmann::ordered_json({"a.nsv", "gone.nsv"}));
    EXPECT_DOUBLE_EQ(json["seconds"].get<double>(), 1.0);

    ASSERT_EQ(json["files"].size(), 2u) << out_;
    auto clip = json["files"][0];
    EXPECT_EQ(clip["entry"], "a.nsv");
    EXPECT_EQ(clip["opened"], true);
    EXPECT_EQ(clip["title"], "Caf\xC3\xA9");
    EXPECT_EQ(clip["video"], "VP62");
    EXPECT_EQ(clip["audio"], "MP3 ");
    EXPECT_EQ(clip["width"], 320);
    EXPECT_EQ(clip["height"], 240);
    EXPECT_DOUBLE_EQ(clip["frame_rate"].get<double>(), 30.0);
    EXPECT_EQ(clip["frames"], 30);
    EXPECT_EQ(clip["playable"], true);
    EXPECT_DOUBLE_EQ(clip["seconds"].get<double>(), 1.0);
    EXPECT_GT(clip["average_kbps"].get<double>(), 0);
    EXPECT_GE(clip["peak_kbps"].get<double>(), clip["average_kbps"].get<double>());
    EXPECT_EQ(clip["problems"], 0);
    EXPECT_EQ(json["files"][1],
              nlohmann::ordered_json({{"entry", "gone.nsv"},
                                      {"opened", false},
                                      {"open_error", "No such file or directory"}}));

    ASSERT_FALSE(json["log"].empty());
    EXPECT_EQ(json["log"][0], "Configuration file loaded from 'tarnel.conf'");
    EXPECT_EQ(json["summary"],
              nlohmann::ordered_json(
                  {{"files", 2}, {"playable", 1}, {"errors", 1}, {"warnings", 0}, {"status", 1}}));
}

TEST_F(CheckCommandTest, UsageErrors) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--frobnicate"},
                                                 {"a.conf", "b.conf"},
                                                 {"--directory"},
                                                 {"--station", "news", "other.conf"},
                                                 {"--station", "../etc/news"}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        EXPECT_EQ(run(args), 2);
        EXPECT_EQ(out_, "");
        EXPECT_NE(err_.find("tarnel-nsv check [--json] [--strict] --station NAME"),
                  std::string::npos)
            << err_;
    }
}

// The station as a service runs it: from its own directory, with a configuration that must load.
TEST_F(CheckCommandTest, FromAnotherDirectoryAndWithTheConfigurationRequired) {
    ASSERT_EQ(run_program("/bin/sh", {"-c", "mkdir elsewhere"}, dir_.path(), dir_.file("sh.txt")),
              0);
    std::vector<std::string> all{"-c",
                                 "cd elsewhere && \"$0\" check \"$@\" >../out.txt",
                                 nsv_tool_path(),
                                 "--directory",
                                 dir_.path(),
                                 "tarnel.conf"};
    EXPECT_EQ(run_program("/bin/sh", all, dir_.path(), dir_.file("sh.txt")), 0)
        << read_file(dir_.file("out.txt"));
    EXPECT_NE(read_file(dir_.file("out.txt")).find("No problems found.\n"), std::string::npos);

    EXPECT_EQ(run({"--directory", dir_.file("nowhere")}), 1);
    EXPECT_EQ(err_, "tarnel-nsv: cannot enter the directory " + dir_.file("nowhere") +
                        ": No such file or directory\n");

    // A warning: tarnel would go on with the defaults (whose playlist.plo is missing here).
    EXPECT_EQ(run({"absent.conf"}), 1) << out_;
    EXPECT_NE(out_.find("configuration file missing:\n    absent.conf: WARNING: configuaration "
                        "file could not be loaded, assuming defaults; Configuration file "
                        "absent.conf (in " +
                        dir_.path() + "): No such file or directory\n"),
              std::string::npos)
        << out_;
    EXPECT_EQ(run({"--require-config", "absent.conf"}), 1) << out_;
    EXPECT_NE(out_.find("configuration file required:\n    absent.conf: Configuration file "
                        "absent.conf (in " +
                        dir_.path() + "): No such file or directory: the station does not start\n"),
              std::string::npos)
        << out_;
}

// Run as root, check --user checks as that user, so that files the station's user may not read
// show as the errors they will be.
TEST_F(CheckCommandTest, AsAnotherUserWhatItMayNotReadShows) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root can check as another user";
    }
    ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(dir_.file("tarnel.conf").c_str(), 0644), 0);
    ASSERT_EQ(chmod(dir_.file("list.plo").c_str(), 0644), 0);
    ASSERT_EQ(chmod(dir_.file("a.nsv").c_str(), 0600), 0);  // root's own
    EXPECT_EQ(run({"--user", "root"}), 0) << out_;
    EXPECT_EQ(run({"--user", "nobody"}), 1) << out_ << err_;
    EXPECT_NE(out_.find("entry cannot be opened:\n    a.nsv: Unable to open a.nsv (Permission "
                        "denied)"),
              std::string::npos)
        << out_;
    EXPECT_EQ(run({"--user", "no-such-user-for-tarnel"}), 1);
    EXPECT_EQ(err_,
              "tarnel-nsv: cannot run as no-such-user-for-tarnel: no user "
              "no-such-user-for-tarnel\n");
}

}  // namespace
}  // namespace tarnel::test
