#include "config/config_file.h"

#include <gtest/gtest.h>

#include "config/settings.h"
#include "support/console_capture.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

class ConfigFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_settings();
        logfile = "NULL";
        config_file = dir_.file("tarnel.conf");
    }
    void TearDown() override { reset_settings(); }

    // Loads text as the configuration file; returns the console lines without time stamps.
    std::string load(const std::string& text) {
        dir_.write("tarnel.conf", text);
        ConsoleCapture capture;
        EXPECT_TRUE(load_config());
        return without_stamps(capture.text());
    }

    TempDir dir_;
};

struct ValueCase {
    const char* line;
    std::string* setting;
    const char* expected;
};

TEST_F(ConfigFileTest, TextValuesAreTakenAfterTheKeyUntrimmed) {
    const ValueCase cases[] = {
        {"Server=Stream.Example.ORG", &server, "stream.example.org"},
        {"Port= 8010", &port, " 8010"},
        {"Password=S3cret ", &password, "S3cret "},
        {"Playlist=lists/main.plo", &playlist, "lists/main.plo"},
        {"SubtitlePosX=12", &sub_x, "12"},
        {"SubtitlePosY=abc", &sub_y, "abc"},
        {"SubtitleRed=300", &sub_red, "300"},
        {"SubtitleGreen=", &sub_green, ""},
        {"SubtitleBlue=7", &sub_blue, "7"},
        {"LogFile=NULL", &logfile, "NULL"},
        {"StreamName=My Station", &streamname, "My Station"},
        {"Description=Late night", &description, "Late night"},
        {"Genre=Jazz", &genre, "Jazz"},
        {"Bitrate=320", &bitrate, "320"},
        {"Url=http://Example.org/", &url, "http://Example.org/"},
        {"IRC=#chan", &irc, "#chan"},
        {"ICQ=123", &icq, "123"},
        {"AIM=", &aim, ""},
        {"StatusFile=/run/tarnel/Station/status.json", &status_file,
         "/run/tarnel/Station/status.json"},
    };
    for (const ValueCase& c : cases) {
        reset_settings();
        EXPECT_TRUE(apply_config_line(c.line)) << c.line;
        EXPECT_EQ(*c.setting, c.expected) << c.line;
    }
}

TEST_F(ConfigFileTest, YesNoAndPublicAcceptOnlyYesInAnyCase) {
    struct Case {
        const char* line;
        bool* flag;
        bool expected;
    };
    const Case cases[] = {
        {"AutoReconnect=yes", &autoreconnect, true},
        {"AutoReconnect=YES", &autoreconnect, true},
        {"AutoReconnect=yes ", &autoreconnect, false},
        {"ScreenLog=no", &screenlog, false},
        {"ScreenLog=", &screenlog, false},
        {"ScreenLog=1", &screenlog, false},
        {"RealTime=Yes", &realtime, true},
        {"RealTime=true", &realtime, false},
    };
    for (const Case& c : cases) {
        *c.flag = !c.expected;
        EXPECT_TRUE(apply_config_line(c.line));
        EXPECT_EQ(*c.flag, c.expected) << c.line;
    }
    const std::pair<const char*, const char*> publics[] = {
        {"Public=yes", "1"}, {"Public=YeS", "1"}, {"Public=no", "0"}, {"Public=", "0"}};
    for (const auto& [line, expected] : publics) {
        EXPECT_TRUE(apply_config_line(line));
        EXPECT_EQ(ispublic, expected) << line;
    }
}

TEST_F(ConfigFileTest, SubtitleModeKnowsFiveWordsAndKeepsTheCodeOtherwise) {
    const std::pair<const char*, int> cases[] = {
        {"SubtitleMode=none", -1}, {"SubtitleMode=Script", 1}, {"SubtitleMode=debug", 2},
        {"SubtitleMode=Clock", 3}, {"SubtitleMode=TAG", 4},    {"SubtitleMode=karaoke", 4},
        {"SubtitleMode=", 4},
    };
    for (const auto& [line, expected] : cases) {
        EXPECT_TRUE(apply_config_line(line));
        EXPECT_EQ(subtitle_mode, expected) << line;
    }
}

TEST_F(ConfigFileTest, KeysCountOnlyAtTheStartOfALineAndAreCaseSensitive) {
    EXPECT_TRUE(apply_config_line("StreamName=Port=9000"));
    EXPECT_EQ(streamname, "Port=9000");
    EXPECT_EQ(port, "8000");
    EXPECT_FALSE(apply_config_line("#Port=9000"));
    EXPECT_FALSE(apply_config_line("SCREENLOG=yes"));
    EXPECT_FALSE(apply_config_line("Server"));
    EXPECT_EQ(port, "8000");
}

TEST_F(ConfigFileTest, WarningsCountEveryLineOfTheFile) {
    const std::string out = load(
        "; comment\n"
        "\n"
        "Port=9000\n"
        "  Port=1\n"
        "\tPort=2\n"
        ";Port=3\n"
        "Bogus=1\n"
        "Genre=Rock\n");
    EXPECT_EQ(out,
              "\rWarning: unrecognized parameter input on line 7\n"
              "Configuration file loaded from '" +
                  config_file + "'\n");
    EXPECT_EQ(port, "9000");
    EXPECT_EQ(genre, "Rock");
}

TEST_F(ConfigFileTest, CrLfFilesAndALastLineWithoutLineFeedGiveTheSameValues) {
    load("Port=9000\r\nStreamName=A B\r\nGenre=Jazz");
    EXPECT_EQ(port, "9000");
    EXPECT_EQ(streamname, "A B");
    EXPECT_EQ(genre, "Jazz");
}

TEST_F(ConfigFileTest, LongLinesAreReadIn254CharacterPiecesEachALine) {
    // 254 characters end the first read inside the value; the rest is a line of its own.
    const std::string value(254 - 11, 'n');
    const std::string out = load("StreamName=" + value + "tail\nGenre=Jazz\n");
    EXPECT_EQ(streamname, value);
    EXPECT_NE(out.find("unrecognized parameter input on line 2\n"), std::string::npos);
    EXPECT_EQ(genre, "Jazz");
}

TEST_F(ConfigFileTest, LastKeyWinsAndAReloadKeepsValuesOfRemovedKeys) {
    load("Genre=Rock\nGenre=Jazz\nPort=9000\n");
    EXPECT_EQ(genre, "Jazz");
    load("Port=9100\n");
    EXPECT_EQ(genre, "Jazz");
    EXPECT_EQ(port, "9100");
}

TEST_F(ConfigFileTest, EmptyFileLogsLoadedAndChangesNothing) {
    EXPECT_EQ(load(""), "\rConfiguration file loaded from '" + config_file + "'\n");
    EXPECT_EQ(server, "127.0.0.1");
}

TEST_F(ConfigFileTest, MissingFileOrOneThatNeverEndsWarnsAndKeepsSettings) {
    port = "9000";
    const std::pair<std::string, std::string> cases[] = {
        {dir_.file("absent.conf"), "No such file or directory"},
        {"/dev/zero", "not a regular file"},
        {dir_.path(), "a directory, not a file"},
    };
    for (const auto& [path, reason] : cases) {
        config_file = path;
        ConsoleCapture capture;
        EXPECT_FALSE(load_config()) << path;
        // The warning as it always was, then the path and the reason.
        EXPECT_EQ(logged_lines(capture.text()),
                  "WARNING: configuaration file could not be loaded, assuming defaults\n"
                  "Configuration file " +
                      path + ": " + reason + "\n");
        EXPECT_EQ(port, "9000");
    }
}

// Required (tarnel --require-config): the same failure is the fatal line of a run that ends.
TEST_F(ConfigFileTest, ARequiredFileThatCannotBeLoadedGivesTheFatalLine) {
    config_file = dir_.file("absent.conf");
    ConsoleCapture capture;
    EXPECT_FALSE(load_config(true));
    EXPECT_EQ(logged_lines(capture.text()), "FATAL ERROR: Configuration file (" + config_file +
                                                ") could not be loaded!!; exiting\n"
                                                "Configuration file " +
                                                config_file + ": No such file or directory\n");
}

TEST_F(ConfigFileTest, IcecastAndTlsKeysHaveTheirDefaultsAndRules) {
    EXPECT_EQ(mount, "");
    EXPECT_EQ(user, "source");
    EXPECT_FALSE(tls);
    EXPECT_EQ(tls_ca_file, "");
    load("Mount=/live\nUser=DJ One\nTLS=YES\nTLSCAFile=/etc/ssl/private ca.pem\n");
    EXPECT_EQ(mount, "/live");
    EXPECT_EQ(user, "DJ One");
    EXPECT_TRUE(tls);
    EXPECT_EQ(tls_ca_file, "/etc/ssl/private ca.pem");
    load("TLS=yes \nMount=\n");  // the yes rule: a trailing space is no
    EXPECT_FALSE(tls);
    EXPECT_EQ(mount, "");  // empty: the legacy protocol
}

TEST_F(ConfigFileTest, AMountWithoutALeadingSlashIsReportedWithItsLineAndLeftEmpty) {
    for (const char* value : {"live", " /live", "http://host/live"}) {
        mount = "/before";
        const std::string out = load("; comment\nPort=9000\nMount=" + std::string(value) + "\n");
        EXPECT_EQ(without_padding(out),
                  "\rWarning: Mount= on line 3 does not start with /; the legacy source protocol "
                  "is used\nConfiguration file loaded from '" +
                      config_file + "'\n")
            << value;
        EXPECT_EQ(mount, "") << value;
    }
}

}  // namespace
}  // namespace tarnel::test
