// The example configurations that the package installs: every line is a key the program knows,
// and the settings the service example shows commented out are keys too, so that uncommenting
// one works.

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "config/config_file.h"
#include "config/log.h"
#include "config/settings.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

std::string example(const std::string& name) {
    return std::string(TARNEL_SOURCE_DIR) + "/examples/" + name;
}

TEST(ExamplesTest, EveryExampleConfigurationLoadsWithoutAWarning) {
    for (const char* name : {"tarnel.conf", "station.conf"}) {
        reset_settings();
        config_file = example(name);
        std::vector<std::string> lines;
        set_log_capture(&lines);
        const bool loaded = load_config();
        set_log_capture(nullptr);
        EXPECT_TRUE(loaded) << name;
        EXPECT_EQ(lines,
                  std::vector<std::string>{"Configuration file loaded from '" + config_file + "'"})
            << name;
    }
    reset_settings();
}

TEST(ExamplesTest, TheServiceExampleShowsIcecastsProtocolAndTlsCommentedOut) {
    std::istringstream lines(read_file(example("station.conf")));
    std::vector<std::string> commented;
    const std::regex setting("^;([A-Za-z]+=.*)$");
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_match(line, match, setting)) {
            commented.push_back(match[1]);
        }
    }
    for (const char* key : {"Mount=", "User=", "TLS=", "TLSCAFile="}) {
        bool shown = false;
        for (const std::string& line : commented) {
            shown = shown || line.rfind(key, 0) == 0;
        }
        EXPECT_TRUE(shown) << key;
    }
    for (const std::string& line : commented) {
        bool invalid = false;
        EXPECT_TRUE(apply_config_line(line, &invalid)) << line;
        EXPECT_FALSE(invalid) << line;
    }
    reset_settings();
}

}  // namespace
}  // namespace tarnel::test
