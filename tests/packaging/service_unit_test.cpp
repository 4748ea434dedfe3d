// The systemd unit: what it runs, and how systemd rates its confinement. (Whether systemd accepts
// it as a whole needs the installed program and manual pages: installed_package_test.)

#include <gtest/gtest.h>

#include <regex>

#include "support/process.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

std::string unit_text() {
    return read_file(TARNEL_UNIT_FILE);
}

bool has_line(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

TEST(ServiceUnitTest, RunsOneStationPerInstanceAsItsOwnUserWithItsOwnDirectories) {
    const std::string unit = unit_text();
    for (const char* line : {
             "Type=notify",
             "User=tarnel",
             "StateDirectory=tarnel/%i",
             "WorkingDirectory=%S/tarnel/%i",
             "RuntimeDirectory=tarnel/%i",
             "ExecReload=/bin/kill -WINCH $MAINPID",
             "ExecReload=/bin/kill -USR1 $MAINPID",
             "WatchdogSec=90",
             "RuntimeDirectoryPreserve=yes",
             "After=network-online.target icecast2.service",
         }) {
        EXPECT_TRUE(has_line(unit, line)) << line;
    }
    EXPECT_TRUE(std::regex_search(unit, std::regex("\nExecStart=/[^ ]*/bin/tarnel --require-config "
                                                   "/[^ ]*etc/tarnel/%i\\.conf\n")))
        << unit;
}

TEST(ServiceUnitTest, SystemdRatesItsExposureOkOrBetter) {
    const TempDir dir;
    // The template as an instance, the way systemd would load it for a station.
    const std::string instance = dir.write("tarnel@station.service", unit_text());
    const int status =
        run_program("/usr/bin/systemd-analyze", {"security", "--offline=true", instance},
                    dir.path(), dir.file("out.txt"), 60000);
    const std::string output = read_file(dir.file("out.txt"));
    if (status == 127 || output.find("--offline") != std::string::npos) {
        GTEST_SKIP() << "systemd-analyze cannot rate unit files here: " << output;
    }
    ASSERT_EQ(status, 0) << output;
    std::smatch rating;
    ASSERT_TRUE(std::regex_search(output, rating,
                                  std::regex("Overall exposure level for [^:]*: ([0-9.]+) (\\w+)")))
        << output;
    EXPECT_TRUE(rating[2] == "OK" || rating[2] == "SAFE" || rating[2] == "PERFECT") << output;
    std::cout << "exposure " << rating[1] << " " << rating[2] << "\n";
}

}  // namespace
}  // namespace tarnel::test
