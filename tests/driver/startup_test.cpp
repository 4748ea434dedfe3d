#include "driver/startup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "driver/command_line.h"
#include "support/console_capture.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

std::string banner() {
    std::ostringstream out;
    print_banner(out);
    return out.str();
}

TEST(StartupTest, BannerLines) {
    std::istringstream lines(banner());
    std::string line;
    const std::string rule = "/" + std::string(50, '*') + "/";
    std::getline(lines, line);
    EXPECT_EQ(line, rule);
    std::getline(lines, line);
    EXPECT_EQ(line, "/** Tarnel v1.0.0/posix");
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("/** Written by: ", 0), 0u);
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("/** ", 0), 0u);
    std::getline(lines, line);
    EXPECT_EQ(line, rule);
    std::getline(lines, line);
    EXPECT_EQ(line, "");
    EXPECT_FALSE(std::getline(lines, line));
}

class StartupRunTest : public ::testing::Test {
  protected:
    // Runs build/tarnel in the temporary directory; returns its exit status.
    int run(const std::vector<std::string>& args) {
        return run_program(TARNEL_BINARY, args, dir_.path(), dir_.file("stdout.txt"));
    }
    std::string output() const { return read_file(dir_.file("stdout.txt")); }
    std::string log() const { return without_stamps(read_file(dir_.file("tarnel.log"))); }

    TempDir dir_;
};

TEST_F(StartupRunTest, HelpIsASubstringTestAndTouchesNothing) {
    dir_.write("tarnel.conf", "LogFile=tarnel.log\n");
    for (const std::string arg : {"--help", "my--help.conf"}) {
        EXPECT_EQ(run({arg, "ignored"}), 0);
        std::ostringstream help;
        print_help(help);
        EXPECT_EQ(output(), banner() + help.str());
        EXPECT_NE(output().find("Usage: tarnel [tarnel.conf]\n       tarnel [--help]\n"),
                  std::string::npos);
        EXPECT_FALSE(file_exists(dir_.file("tarnel.log")));
    }
}

TEST_F(StartupRunTest, VersionIsOneLineAndOnlyTheExactArgument) {
    dir_.write("tarnel.conf", "LogFile=tarnel.log\n");
    EXPECT_EQ(run({"--version"}), 0);
    EXPECT_EQ(output(), "tarnel " TARNEL_VERSION "\n");
    EXPECT_FALSE(file_exists(dir_.file("tarnel.log")));

    // Any other argument names the configuration file, as before.
    dir_.write("my--version.conf", "LogFile=tarnel.log\nPlaylist=gone.plo\n");
    EXPECT_EQ(run({"my--version.conf"}), 1);  // its playlist is missing
    EXPECT_NE(log().find("Configuration file loaded from 'my--version.conf'"), std::string::npos);
}

// A playlist that cannot be loaded ends the run before any connection, with the failure status
// (a service manager then shows the station failed) and a line that says why.
TEST_F(StartupRunTest, MissingPlaylistIsFatalWithStatusOneAndTheReason) {
    dir_.write("station.conf", "Playlist=gone.plo\nRealTime=no\n");
    EXPECT_EQ(run({"station.conf", "second-argument-ignored"}), 1);
    const std::string log_text = log();
    EXPECT_EQ(log_text.rfind("Configuration file loaded from 'station.conf'\n"
                             "Source Program Started...\n"
                             "pid: ",
                             0),
              0u)
        << log_text;
    EXPECT_NE(log_text.find("\nLoading Playlist gone.plo\n"
                            "FATAL ERROR: Playlist (gone.plo) could not be loaded!!; exiting\n"
                            "Playlist gone.plo (in " +
                            dir_.path() + "): No such file or directory\n"),
              std::string::npos)
        << log_text;
    EXPECT_EQ(log_text.find("Connecting to "), std::string::npos);
    EXPECT_EQ(output().find(banner()), 0u);
}

TEST_F(StartupRunTest, EachReasonAPlaylistCannotBeLoadedIsSaid) {
    struct Case {
        std::string playlist;
        std::string reason;
    };
    const Case cases[] = {
        {"", "No such file or directory"},
        {"media/a.nsv\n",
         "its first line that is not a comment is not #Mode=basic or #Mode=object"},
        {"#Mode=object\n#define music\n#list music\na.nsv\n#\n",
         "object mode without a clock step that names a defined object"},
        {"#Mode=object\n#define music\n#clock:\nmusik\n#\n",
         "object mode without a clock step that names a defined object"},
    };
    for (const Case& c : cases) {
        std::remove(dir_.file("tarnel.log").c_str());
        std::remove(dir_.file("list.plo").c_str());
        dir_.write("tarnel.conf", "Playlist=list.plo\nRealTime=no\n");
        if (!c.playlist.empty()) {
            dir_.write("list.plo", c.playlist);
        }
        EXPECT_EQ(run({}), 1) << c.playlist;
        const std::string expected =
            "FATAL ERROR: Playlist (list.plo) could not be loaded!!; exiting\nPlaylist list.plo "
            "(in " +
            dir_.path() + "): " + c.reason + "\n";
        const std::string log_text = log();
        ASSERT_GE(log_text.size(), expected.size()) << log_text;
        EXPECT_EQ(log_text.substr(log_text.size() - expected.size()), expected) << c.playlist;
    }
}

TEST_F(StartupRunTest, DefaultConfigNameAndConnectingLineWithTheBasePort) {
    dir_.write("tarnel.conf", "Port=1\nServer=127.0.0.1\n");
    dir_.write("playlist.plo", "#Mode=basic\nmissing.nsv\n");
    EXPECT_EQ(run({}), 1);  // the connection failed, and reconnection is off
    const std::string log_text = log();
    EXPECT_NE(log_text.find("Configuration file loaded from 'tarnel.conf'\n"), std::string::npos);
    EXPECT_NE(
        log_text.find("Playlist is in basic mode\nLoaded 1 Items\nConnecting to 127.0.0.1:1\n"),
        std::string::npos)
        << log_text;
}

TEST_F(StartupRunTest, MissingConfigurationIsNotFatalAndTheReasonIsSaid) {
    dir_.write("playlist.plo", "#Mode=basic\nmissing.nsv\n");
    EXPECT_EQ(run({"absent.conf"}), 1);  // the defaults' server is not there
    EXPECT_EQ(log().rfind("WARNING: configuaration file could not be loaded, assuming defaults\n"
                          "Configuration file absent.conf (in " +
                              dir_.path() +
                              "): No such file or directory\n"
                              "Source Program Started...\n",
                          0),
              0u)
        << log();
}

// With --require-config (the service unit passes it), a configuration that cannot be loaded ends
// the run before anything else: a station never starts on the defaults.
TEST_F(StartupRunTest, ARequiredConfigurationThatCannotBeLoadedEndsTheRun) {
    dir_.write("playlist.plo", "#Mode=basic\nmissing.nsv\n");
    ASSERT_TRUE(std::filesystem::create_directory(dir_.file("a-directory.conf")));
    const std::pair<std::string, std::string> cases[] = {
        {dir_.file("absent.conf"), "No such file or directory"},
        {dir_.file("a-directory.conf"), "a directory, not a file"},
    };
    for (const auto& [path, reason] : cases) {
        std::remove(dir_.file("tarnel.log").c_str());
        EXPECT_EQ(run({"--require-config", path}), 1) << path;
        EXPECT_EQ(log(), "FATAL ERROR: Configuration file (" + path +
                             ") could not be loaded!!; exiting\n"
                             "Configuration file " +
                             path + ": " + reason + "\n")
            << path;
    }
    // A configuration that loads: the run goes on as without the option.
    dir_.write("station.conf", "Port=1\nServer=127.0.0.1\nRealTime=no\n");
    std::remove(dir_.file("tarnel.log").c_str());
    EXPECT_EQ(run({"station.conf", kRequireConfigOption}), 1);
    EXPECT_NE(log().find("Configuration file loaded from 'station.conf'\nSource Program Started"),
              std::string::npos)
        << log();
    EXPECT_NE(log().find("Connecting to 127.0.0.1:1\n"), std::string::npos);
}

}  // namespace
}  // namespace tarnel::test
