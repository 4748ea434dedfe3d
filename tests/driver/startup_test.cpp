#include "driver/startup.h"

#include <gtest/gtest.h>

#include <sstream>

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
    EXPECT_EQ(run({"my--version.conf"}), 0);
    EXPECT_NE(log().find("Configuration file loaded from 'my--version.conf'"), std::string::npos);
}

TEST_F(StartupRunTest, MissingPlaylistIsFatalWithStatusZero) {
    dir_.write("station.conf", "Playlist=gone.plo\nRealTime=no\n");
    EXPECT_EQ(run({"station.conf", "second-argument-ignored"}), 0);
    const std::string log_text = log();
    EXPECT_EQ(log_text.rfind("Configuration file loaded from 'station.conf'\n"
                             "Source Program Started...\n"
                             "pid: ",
                             0),
              0u)
        << log_text;
    EXPECT_NE(log_text.find("\nLoading Playlist gone.plo\n"
                            "FATAL ERROR: Playlist (gone.plo) could not be loaded!!; exiting\n"),
              std::string::npos);
    EXPECT_EQ(log_text.find("Connecting to "), std::string::npos);
    EXPECT_EQ(output().find(banner()), 0u);
}

TEST_F(StartupRunTest, DefaultConfigNameAndConnectingLineWithTheBasePort) {
    dir_.write("tarnel.conf", "Port=1\nServer=127.0.0.1\n");
    dir_.write("playlist.plo", "#Mode=basic\nmissing.nsv\n");
    EXPECT_EQ(run({}), 0);
    const std::string log_text = log();
    EXPECT_NE(log_text.find("Configuration file loaded from 'tarnel.conf'\n"), std::string::npos);
    EXPECT_NE(
        log_text.find("Playlist is in basic mode\nLoaded 1 Items\nConnecting to 127.0.0.1:1\n"),
        std::string::npos)
        << log_text;
}

TEST_F(StartupRunTest, MissingConfigurationIsNotFatal) {
    dir_.write("playlist.plo", "#Mode=basic\nmissing.nsv\n");
    EXPECT_EQ(run({"absent.conf"}), 0);
    EXPECT_EQ(log().rfind("WARNING: configuaration file could not be loaded, assuming defaults\n"
                          "Source Program Started...\n",
                          0),
              0u);
}

}  // namespace
}  // namespace tarnel::test
