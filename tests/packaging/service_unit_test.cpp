// The systemd units, the stations' and tarnel-web's: what they run, and how systemd rates their
// confinement. (Whether systemd accepts them as a whole needs the installed programs and manual
// pages: installed_package_test.)

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

TEST(ServiceUnitTest, TheWebUnitRunsTarnelWebInTheStationsGroupSeeingOnlyItsOwnConfiguration) {
    const std::string unit = read_file(TARNEL_WEB_UNIT_FILE);
    for (const char* line : {
             "Type=notify",
             "DynamicUser=yes",
             "SupplementaryGroups=tarnel",
             "NoNewPrivileges=yes",
             "CapabilityBoundingSet=",
             "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX",
         }) {
        EXPECT_TRUE(has_line(unit, line)) << line;
    }
    EXPECT_TRUE(std::regex_search(
        unit,
        std::regex("\nExecStart=/[^ ]*/bin/tarnel-web --config /[^ ]*etc/tarnel/web\\.conf\n")))
        << unit;
    EXPECT_TRUE(std::regex_search(unit, std::regex("\nTemporaryFileSystem=/[^ ]*etc/tarnel:ro\n")))
        << unit;
    EXPECT_TRUE(
        std::regex_search(unit, std::regex("\nBindReadOnlyPaths=-/[^ ]*etc/tarnel/web\\.conf\n")))
        << unit;
}

class UnitRating : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(UnitRating, SystemdRatesItsExposureOkOrBetter) {
    const TempDir dir;
    // A template as an instance, the way systemd would load it for a station.
    const std::string instance = dir.write(GetParam().first, read_file(GetParam().second));
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

INSTANTIATE_TEST_SUITE_P(
    ServiceUnitTest, UnitRating,
    ::testing::Values(std::make_pair("tarnel@station.service", TARNEL_UNIT_FILE),
                      std::make_pair("tarnel-web.service", TARNEL_WEB_UNIT_FILE)));

}  // namespace
}  // namespace tarnel::test
