#include "driver/command_line.h"

#include <gtest/gtest.h>

namespace tarnel::test {
namespace {

struct Case {
    std::vector<std::string> args;
    CommandAction action;
    std::optional<std::string> config_file;
    bool require_config;
};

TEST(CommandLineTest, TheFirstArgumentDecidesAndRequireConfigIsTakenAnywhere) {
    const Case cases[] = {
        {{}, CommandAction::kRun, std::nullopt, false},
        {{"station.conf"}, CommandAction::kRun, "station.conf", false},
        {{"station.conf", "ignored", "--help"}, CommandAction::kRun, "station.conf", false},
        {{"--version"}, CommandAction::kShowVersion, std::nullopt, false},
        {{"--version", "x.conf"}, CommandAction::kShowVersion, std::nullopt, false},
        {{"my--version.conf"}, CommandAction::kRun, "my--version.conf", false},
        {{"--help"}, CommandAction::kShowHelp, std::nullopt, false},
        {{"my--help.conf"}, CommandAction::kShowHelp, std::nullopt, false},
        {{"--require-config"}, CommandAction::kRun, std::nullopt, true},
        {{"--require-config", "/etc/tarnel/news.conf"},
         CommandAction::kRun,
         "/etc/tarnel/news.conf",
         true},
        {{"/etc/tarnel/news.conf", "--require-config"},
         CommandAction::kRun,
         "/etc/tarnel/news.conf",
         true},
        {{"--require-config", "--version"}, CommandAction::kShowVersion, std::nullopt, true},
        {{"--require-configs"}, CommandAction::kRun, "--require-configs", false},
    };
    for (const Case& c : cases) {
        const CommandLine parsed = parse_command_line(c.args);
        std::string shown;
        for (const std::string& arg : c.args) {
            shown += " " + arg;
        }
        EXPECT_EQ(parsed.action, c.action) << shown;
        EXPECT_EQ(parsed.config_file, c.config_file) << shown;
        EXPECT_EQ(parsed.require_config, c.require_config) << shown;
    }
}

}  // namespace
}  // namespace tarnel::test
