// What a status file says about a station: parsed, its times read, and whether it is up.

#include "web/station_reading.h"

#include <gtest/gtest.h>

namespace tarnel::web {
namespace {

TEST(StationReadingTest, StationNames) {
    for (const char* good : {"news", "radio-1", "a.b", "x\\x2dy", "N@me:1"}) {
        EXPECT_TRUE(station_name_valid(good)) << good;
    }
    for (const std::string& bad :
         {std::string(""), std::string(".hidden"), std::string("a/b"), std::string("sp ace"),
          std::string("tab\t"), std::string("caf\xc3\xa9"), std::string(129, 'a')}) {
        EXPECT_FALSE(station_name_valid(bad)) << bad;
    }
}

TEST(StationReadingTest, StatusTextMustBeAnObject) {
    std::string reason;
    EXPECT_TRUE(parse_status_text("{\"state\": \"idle\"}", reason));
    EXPECT_FALSE(parse_status_text("{\"state\": ", reason));
    EXPECT_EQ(reason, "the status file is not JSON");
    EXPECT_FALSE(parse_status_text("[1, 2]", reason));
    EXPECT_EQ(reason, "the status file holds no object");
}

TEST(StationReadingTest, UtcTimes) {
    EXPECT_EQ(parse_utc_time("1970-01-01T00:00:00Z"), 0);
    EXPECT_EQ(parse_utc_time("2024-05-01T12:00:00Z"), 1714564800);
    for (const char* bad : {"2024-05-01T12:00:00", "2024-05-01 12:00:00Z", "2024-13-01T12:00:00Z",
                            "2024-05-01T12:00:00Z ", "", "yesterday"}) {
        EXPECT_FALSE(parse_utc_time(bad).has_value()) << bad;
    }
}

TEST(StationReadingTest, UpNeedsAFreshStatusARunningProcessAndAStateOtherThanStopped) {
    const std::time_t now = 1714564800;  // 2024-05-01T12:00:00Z
    struct Case {
        const char* status;
        bool alive;
        bool up;
    };
    const Case cases[] = {
        {R"({"state": "streaming", "updated": "2024-05-01T12:00:00Z"})", true, true},
        {R"({"state": "connecting", "updated": "2024-05-01T11:58:00Z"})", true, true},
        {R"({"state": "streaming", "updated": "2024-05-01T11:57:59Z"})", true, false},  // stale
        {R"({"state": "streaming", "updated": "2024-05-01T12:00:00Z"})", false, false},
        {R"({"state": "stopped", "updated": "2024-05-01T12:00:00Z"})", true, false},
        {R"({"state": "idle"})", true, false},
        {R"({"updated": "2024-05-01T12:00:00Z"})", true, false},
        {"null", true, false},
    };
    for (const Case& c : cases) {
        StationReading station;
        station.status = nlohmann::json::parse(c.status);
        station.process_alive = c.alive;
        EXPECT_EQ(station_up(station, now), c.up) << c.status << " alive " << c.alive;
    }
}

}  // namespace
}  // namespace tarnel::web
