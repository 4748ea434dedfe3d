#include "tools/check_report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "config/playlist.h"

namespace tarnel::test {
namespace {

TEST(CheckReportTest, ProblemsFirstGroupedByProblemThenFile) {
    StationReport report;
    report.playlist = "p.plo";
    report.findings = {
        {Severity::kWarning, "line ignored", "p.plo", "w1"},
        {Severity::kError, "truncated frame", "b.nsv", "e1"},
        {Severity::kError, "entry cannot be opened", "c.nsv", "e2"},
        {Severity::kError, "truncated frame", "a.nsv", "e3"},
        {Severity::kError, "truncated frame", "b.nsv", "e4"},
        {Severity::kWarning, "line ignored", "p.plo", "w2\x01"},
    };
    const std::string text = format_check_text(report, false);
    EXPECT_EQ(text.substr(0, text.find("Station:")),
              "Errors (4):\n"
              "  truncated frame:\n"
              "    b.nsv: e1\n"
              "    b.nsv: e4\n"
              "    a.nsv: e3\n"
              "  entry cannot be opened:\n"
              "    c.nsv: e2\n"
              "\n"
              "Warnings (2):\n"
              "  line ignored:\n"
              "    p.plo: w1\n"
              "    p.plo: w2\\x01\n"
              "\n");
    EXPECT_EQ(text.substr(text.rfind("Summary:")),
              "Summary: 0 media files, 0 playable; 4 errors, 2 warnings: needs fixing.\n");
    EXPECT_EQ(check_status(report, false), 1);
}

// An object-mode station with a file without frame rate and names that are not plain ASCII.
TEST(CheckReportTest, JsonOfAnObjectStation) {
    StationReport report;
    report.config_file = "tarnel.conf";
    report.config_loaded = true;
    report.playlist = "p.plo";
    report.playlist_loaded = true;
    report.mode = kPlaylistObject;
    report.media_directory = "/srv/media";
    report.bitrate_kbps = 200;
    MediaFacts good;
    good.entry = "caf\xC3\xA9.nsv";  // UTF-8: kept
    good.opened = true;
    good.title = "line\nbreak \"quoted\"";
    good.nsv.video_format = "VP80";
    good.nsv.audio_format = "NONE";
    good.nsv.width = 160;
    good.nsv.height = 120;
    good.nsv.stream_frame_rate = 30000.0 / 1001;
    good.nsv.frames = 120;
    good.playable = true;
    good.seconds = 120 / (30000.0 / 1001);
    good.average_kbps = 288.12345;
    good.peak_kbps = 307.0;
    MediaFacts unset;
    unset.entry = "caf\xE9.nsv";  // Latin-1: not UTF-8
    unset.opened = true;
    unset.title = "unset";
    unset.nsv.frames = 3;
    unset.nsv.problems.resize(2);
    report.media = {good, unset};
    report.objects = {{"music", 3, {0, 1, 0}, {{"#reload", "reloads"}}, 2, 12.5, 4, 4.5},
                      {"news", 0, {}, {}, 0, 0, 0, 0}};
    report.clock = {"music", "music"};
    report.clock_seconds = 8.0;
    report.clock_shortest = 8.0;
    report.clock_longest = 9.0;
    report.findings = {{Severity::kWarning, "object has no items", "p.plo", "news"},
                       {Severity::kError, "frame rate unset", "caf\xE9.nsv", "x\x01y"}};

    using Json = nlohmann::ordered_json;
    const std::string text = format_check_json(report, true);
    // Not const: a member that is missing reads as null and fails the comparison.
    Json json = Json::parse(text, nullptr, false);
    ASSERT_TRUE(json.is_object()) << text;
    std::vector<std::string> keys;
    for (const auto& item : json.items()) {
        keys.push_back(item.key());
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"config", "config_loaded", "playlist",
                                              "playlist_loaded", "mode", "media_directory",
                                              "directory_changed", "bitrate_kbps", "problems",
                                              "objects", "clock", "files", "log", "summary"}));
    EXPECT_EQ(json["mode"], "object");
    EXPECT_EQ(json["bitrate_kbps"], 200);

    // Errors before warnings; a byte that is not UTF-8 becomes U+FFFD, a control character stays.
    ASSERT_EQ(json["problems"].size(), 2u);
    EXPECT_EQ(json["problems"][0], Json({{"severity", "error"},
                                         {"problem", "frame rate unset"},
                                         {"file", "caf\xEF\xBF\xBD.nsv"},
                                         {"detail", "x\x01y"}}));
    EXPECT_EQ(json["problems"][1]["severity"], "warning");

    EXPECT_EQ(json["objects"][0],
              Json({{"name", "music"},
                    {"items", 3},
                    {"files", {"caf\xC3\xA9.nsv", "caf\xEF\xBF\xBD.nsv", "caf\xC3\xA9.nsv"}},
                    {"markers", {{{"item", "#reload"}, {"action", "reloads"}}}},
                    {"clock_steps", 2},
                    {"seconds", 12.5}}));
    EXPECT_EQ(json["objects"][1]["files"], Json::array());
    EXPECT_EQ(json["objects"][1]["markers"], Json::array());
    EXPECT_EQ(json["clock"], Json({{"steps", {"music", "music"}},
                                   {"seconds", 8.0},
                                   {"shortest_seconds", 8.0},
                                   {"longest_seconds", 9.0}}));

    // Seconds, rates and bit rates to the thousandth; no frame rate is null.
    Json first = json["files"][0];
    EXPECT_EQ(first["title"], "line\nbreak \"quoted\"");
    EXPECT_EQ(first["frame_rate"], 29.97);
    EXPECT_EQ(first["seconds"], 4.004);
    EXPECT_EQ(first["average_kbps"], 288.123);
    EXPECT_EQ(first["peak_kbps"], 307.0);
    EXPECT_EQ(first["problems"], 0);
    Json second = json["files"][1];
    EXPECT_TRUE(second["frame_rate"].is_null()) << text;
    EXPECT_EQ(second["playable"], false);
    EXPECT_EQ(second["problems"], 2);

    EXPECT_EQ(json["summary"],
              Json({{"files", 2}, {"playable", 1}, {"errors", 1}, {"warnings", 1}, {"status", 1}}));
    EXPECT_EQ(text.find('\n'), text.size() - 1);  // one line
}

TEST(CheckReportTest, ClockTime) {
    EXPECT_EQ(clock_time(0), "0:00");
    EXPECT_EQ(clock_time(59.6), "1:00");
    EXPECT_EQ(clock_time(179.98), "3:00");
    EXPECT_EQ(clock_time(3599.4), "59:59");
    EXPECT_EQ(clock_time(3600), "1:00:00");
    EXPECT_EQ(clock_time(90061), "25:01:01");
}

}  // namespace
}  // namespace tarnel::test
