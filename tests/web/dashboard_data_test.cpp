// What the page shows of a station.

#include "web/dashboard_data.h"

#include <gtest/gtest.h>

namespace tarnel::web {
namespace {

using nlohmann::json;

const std::time_t kNow = 1714564800;  // 2024-05-01T12:00:00Z

TEST(DashboardDataTest, TheControlSocketsStatusIsPreferredAndAddsNextQueueAndHistory) {
    StationReading station;
    station.name = "news";
    station.process_alive = true;
    station.has_control_socket = true;
    station.status = {{"state", "streaming"},
                      {"title", "From the file"},
                      {"updated", "2024-05-01T12:00:00Z"},
                      {"second", 4}};
    station.control_status = station.status;
    station.control_status["title"] = "From the socket";
    station.control_status["next"] = {{"entry", "b.nsv"}, {"queued", true}};
    station.control_status["queue"] = json::array({{{"entry", "b.nsv"}}});
    station.control_status["directory"] = "/var/lib/tarnel/news";
    json items = json::array();
    for (int i = 1; i <= 8; ++i) {
        items.push_back({{"title", "T" + std::to_string(i)}});
    }
    station.history = {{"items", items}};

    const json card = station_card(station, kNow);
    EXPECT_EQ(card.at("name"), "news");
    EXPECT_EQ(card.at("up"), true);
    EXPECT_EQ(card.at("title"), "From the socket");
    EXPECT_EQ(card.at("control"), true);
    EXPECT_EQ(card.at("next").at("entry"), "b.nsv");
    EXPECT_EQ(card.at("queue").size(), 1u);
    EXPECT_EQ(card.at("directory"), "/var/lib/tarnel/news");
    ASSERT_EQ(card.at("history").size(), kPageHistoryItems);
    EXPECT_EQ(card.at("history")[0].at("title"), "T4");
    EXPECT_EQ(card.at("history")[4].at("title"), "T8");
    EXPECT_TRUE(card.at("problem").is_null());
}

TEST(DashboardDataTest, AStationWithoutStatusOrSocketSaysWhy) {
    StationReading station;
    station.name = "broken";
    station.status_problem = "the status file is not JSON";
    station.has_control_socket = true;
    station.control_problem = "the station cannot be reached: Connection";
    const json card = station_card(station, kNow);
    EXPECT_EQ(card.at("up"), false);
    EXPECT_EQ(card.at("problem"), "the status file is not JSON");
    EXPECT_EQ(card.at("control"), false);
    EXPECT_EQ(card.at("control_problem"), "the station cannot be reached: Connection");
    EXPECT_TRUE(card.at("state").is_null());
    EXPECT_EQ(card.at("queue"), json::array());
    EXPECT_EQ(card.at("history"), json::array());

    const json page = dashboard_json({station}, 2, kNow);
    EXPECT_EQ(page.at("left_out"), 2);
    EXPECT_EQ(page.at("time"), "2024-05-01T12:00:00Z");
    EXPECT_EQ(page.at("stations").size(), 1u);
}

}  // namespace
}  // namespace tarnel::web
