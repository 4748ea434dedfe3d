// tarnel-web's settings: the listen address, the configuration file, the command line, and the
// rule that anything but loopback needs credentials.

#include "web/web_settings.h"

#include <gtest/gtest.h>

namespace tarnel::web {
namespace {

TEST(WebSettingsTest, ListenAddressesParseAndTellLoopbackApart) {
    struct Case {
        const char* text;
        bool valid;
        const char* host;
        int port;
        bool loopback;
    };
    const Case cases[] = {
        {"127.0.0.1:8600", true, "127.0.0.1", 8600, true},
        {"127.10.0.3:1", true, "127.10.0.3", 1, true},
        {"[::1]:8600", true, "::1", 8600, true},
        {"0.0.0.0:8600", true, "0.0.0.0", 8600, false},
        {"192.0.2.7:65535", true, "192.0.2.7", 65535, false},
        {"[::]:80", true, "::", 80, false},
        {"[2001:db8::1]:80", true, "2001:db8::1", 80, false},
        {"localhost:8600", false, "", 0, false},  // names are refused
        {"127.0.0.1", false, "", 0, false},
        {"127.0.0.1:0", false, "", 0, false},
        {"127.0.0.1:65536", false, "", 0, false},
        {"127.0.0.1:86a0", false, "", 0, false},
        {"::1:8600", false, "", 0, false},  // IPv6 needs brackets
        {"[::1]8600", false, "", 0, false},
        {"[::1:8600", false, "", 0, false},
        {"", false, "", 0, false},
    };
    for (const Case& c : cases) {
        std::string reason;
        const std::optional<ListenAddress> address = parse_listen_address(c.text, reason);
        ASSERT_EQ(address.has_value(), c.valid) << c.text;
        if (address) {
            EXPECT_EQ(address->host, c.host) << c.text;
            EXPECT_EQ(address->port, c.port) << c.text;
            EXPECT_EQ(address->loopback, c.loopback) << c.text;
        } else {
            EXPECT_FALSE(reason.empty()) << c.text;
        }
    }
}

TEST(WebSettingsTest, TheConfigurationFileSetsKeysAndReportsOtherLines) {
    WebSettings settings;
    const std::vector<std::string> problems = apply_web_config(
        "; tarnel-web\n# comment\n\nListen=0.0.0.0:9000\r\nRunDir=/srv/run\nUser=ops\n"
        "Password=se=cret \nListen\nColour=blue\n",
        settings);
    EXPECT_EQ(settings.listen, "0.0.0.0:9000");
    EXPECT_EQ(settings.run_dir, "/srv/run");
    EXPECT_EQ(settings.user, "ops");
    EXPECT_EQ(settings.password, "se=cret ");  // the value runs to the end of the line
    EXPECT_EQ(problems, (std::vector<std::string>{"line 8: \"Listen\" is no key; ignored",
                                                  "line 9: \"Colour=blue\" is no key; ignored"}));
}

TEST(WebSettingsTest, CommandLine) {
    const CommandLine run = parse_command_line(
        {"--listen", "127.0.0.1:9", "--run-dir", "/tmp/run", "--config", "/etc/w.conf"});
    EXPECT_EQ(run.action, CommandLine::Action::kRun);
    EXPECT_EQ(run.listen, "127.0.0.1:9");
    EXPECT_EQ(run.run_dir, "/tmp/run");
    EXPECT_EQ(run.config_file, "/etc/w.conf");

    const CommandLine none = parse_command_line({});
    EXPECT_EQ(none.action, CommandLine::Action::kRun);
    EXPECT_FALSE(none.listen.has_value());
    EXPECT_EQ(none.config_file, "");

    EXPECT_EQ(parse_command_line({"--help"}).action, CommandLine::Action::kHelp);
    EXPECT_EQ(parse_command_line({"--version"}).action, CommandLine::Action::kVersion);
    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{"--listen"}, {"--run-dir", ""}, {"--bogus"}, {"extra"}}) {
        const CommandLine bad = parse_command_line(wrong);
        EXPECT_EQ(bad.action, CommandLine::Action::kUsageError) << wrong[0];
        EXPECT_FALSE(bad.error.empty());
    }
}

TEST(WebSettingsTest, AnAddressOtherThanLoopbackNeedsCredentials) {
    struct Case {
        const char* listen;
        const char* user;
        const char* password;
        bool accepted;
    };
    const Case cases[] = {
        {"127.0.0.1:8600", "", "", true},
        {"[::1]:8600", "", "", true},
        {"127.0.0.1:8600", "ops", "secret", true},
        {"0.0.0.0:8600", "", "", false},
        {"192.0.2.1:8600", "ops", "", false},
        {"192.0.2.1:8600", "", "secret", false},
        {"0.0.0.0:8600", "ops", "secret", true},
        {"0.0.0.0:8600", "o:ps", "secret", false},
        {"nowhere", "", "", false},
    };
    for (const Case& c : cases) {
        WebSettings settings;
        settings.listen = c.listen;
        settings.user = c.user;
        settings.password = c.password;
        EXPECT_EQ(check_settings(settings).empty(), c.accepted)
            << c.listen << " " << c.user << " " << check_settings(settings);
    }
}

}  // namespace
}  // namespace tarnel::web
