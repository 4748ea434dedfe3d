// The stations in Prometheus' text format.

#include "web/metrics.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include "support/process.h"
#include "support/temp_dir.h"

namespace tarnel::web {
namespace {

const std::time_t kNow = 1714564800;  // 2024-05-01T12:00:00Z

StationReading streaming_station() {
    StationReading station;
    station.name = "news";
    station.process_alive = true;
    station.status = nlohmann::json::parse(R"({
      "version": "1.0.0", "pid": 4242, "state": "streaming", "server": "stream.example.org",
      "port": 8000, "mount": null, "connected_since": "2024-05-01T11:58:30Z",
      "entry": "media/news.nsv", "title": "News \"at\" noon\\1\nsecond line", "second": 42,
      "bytes_sent": 451337216, "seconds_sent": 3600, "reconnections": 2,
      "last_error": "Could not write to socket.", "last_error_time": "2024-05-01T11:58:00Z",
      "updated": "2024-05-01T12:00:00Z",
      "first_byte_delay": {"le_seconds": [0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25,
                                          0.5, 1.0],
                           "counts": [10, 20, 30, 40, 50, 60, 70, 80, 90, 95],
                           "count": 100, "sum_seconds": 0.4567}
    })");
    return station;
}

// The lines of text that start with prefix.
std::vector<std::string> lines_of(const std::string& text, const std::string& prefix) {
    std::vector<std::string> found;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(prefix, 0) == 0) {
            found.push_back(line);
        }
    }
    return found;
}

TEST(MetricsTest, OneSeriesPerStationForEachFigureOfItsStatusFile) {
    StationReading stopped;
    stopped.name = "music";
    stopped.status = nlohmann::json::parse(
        R"({"state": "stopped", "pid": 1, "entry": null, "title": null, "bytes_sent": 0,
            "seconds_sent": 0, "reconnections": 0, "last_error": null, "last_error_time": null,
            "connected_since": null, "updated": "2024-05-01T11:00:00Z"})");
    StationReading missing;
    missing.name = "gone";
    missing.status_problem = "no status file";
    const std::string text = metrics_text({streaming_station(), stopped, missing}, 3, kNow);

    EXPECT_EQ(lines_of(text, "tarnel_station_up"),
              (std::vector<std::string>{"tarnel_station_up{station=\"news\"} 1",
                                        "tarnel_station_up{station=\"music\"} 0",
                                        "tarnel_station_up{station=\"gone\"} 0"}));
    EXPECT_EQ(lines_of(text, "tarnel_station_state{station=\"news\""),
              (std::vector<std::string>{
                  "tarnel_station_state{station=\"news\",state=\"starting\"} 0",
                  "tarnel_station_state{station=\"news\",state=\"connecting\"} 0",
                  "tarnel_station_state{station=\"news\",state=\"streaming\"} 1",
                  "tarnel_station_state{station=\"news\",state=\"waiting to reconnect\"} 0",
                  "tarnel_station_state{station=\"news\",state=\"idle\"} 0",
                  "tarnel_station_state{station=\"news\",state=\"stopped\"} 0"}));
    EXPECT_EQ(
        lines_of(text, "tarnel_station_state{station=\"music\",state=\"stopped\"}"),
        std::vector<std::string>{"tarnel_station_state{station=\"music\",state=\"stopped\"} 1"});
    EXPECT_TRUE(lines_of(text, "tarnel_station_state{station=\"gone\"").empty());
    EXPECT_EQ(lines_of(text, "tarnel_sent_seconds_total"),
              (std::vector<std::string>{"tarnel_sent_seconds_total{station=\"news\"} 3600",
                                        "tarnel_sent_seconds_total{station=\"music\"} 0"}));
    EXPECT_EQ(lines_of(text, "tarnel_sent_bytes_total{station=\"news\"}"),
              std::vector<std::string>{"tarnel_sent_bytes_total{station=\"news\"} 451337216"});
    EXPECT_EQ(lines_of(text, "tarnel_reconnections_total{station=\"news\"}"),
              std::vector<std::string>{"tarnel_reconnections_total{station=\"news\"} 2"});
    // Times as Unix seconds; a time not known yet has no sample.
    EXPECT_EQ(lines_of(text, "tarnel_last_error_timestamp_seconds"),
              std::vector<std::string>{
                  "tarnel_last_error_timestamp_seconds{station=\"news\"} 1714564680"});
    EXPECT_EQ(lines_of(text, "tarnel_connected_since_timestamp_seconds"),
              std::vector<std::string>{
                  "tarnel_connected_since_timestamp_seconds{station=\"news\"} 1714564710"});
    EXPECT_EQ(lines_of(text, "tarnel_web_stations_left_out"),
              std::vector<std::string>{"tarnel_web_stations_left_out 3"});
    // Every family is announced once, before its samples.
    EXPECT_EQ(lines_of(text, "# TYPE tarnel_sent_seconds_total counter").size(), 1u);
    EXPECT_LT(text.find("# TYPE tarnel_sent_seconds_total"),
              text.find("tarnel_sent_seconds_total{"));
}

TEST(MetricsTest, TitlesAndEntriesAreOnlyInTheInfoSeriesEscapedAndCut) {
    StationReading station = streaming_station();
    const std::string text = metrics_text({station}, 0, kNow);
    EXPECT_EQ(lines_of(text, "tarnel_station_info"),
              std::vector<std::string>{
                  "tarnel_station_info{station=\"news\",entry=\"media/news.nsv\",title=\"News "
                  "\\\"at\\\" noon\\\\1\\nsecond line\",server=\"stream.example.org\",mount=\"\","
                  "version=\"1.0.0\"} 1"});
    size_t mentions = 0;
    for (size_t at = text.find("noon"); at != std::string::npos; at = text.find("noon", at + 1)) {
        ++mentions;
    }
    EXPECT_EQ(mentions, 1u);

    // A long title is cut at a character boundary: 255 bytes of "a", then a 2-byte character
    // that would end past 256 bytes is left out whole.
    station.status["title"] = std::string(255, 'a') + "\xc3\xa9" + "tail";
    EXPECT_EQ(label_value(station.status["title"].get<std::string>()), std::string(255, 'a'));
    EXPECT_EQ(label_value(std::string(300, 'b')).size(), kMaxLabelBytes);
}

TEST(MetricsTest, TheFirstByteDelayIsAHistogramWithCumulativeBuckets) {
    const std::string text = metrics_text({streaming_station()}, 0, kNow);
    EXPECT_EQ(lines_of(text, "# TYPE tarnel_first_byte_delay_seconds"),
              std::vector<std::string>{"# TYPE tarnel_first_byte_delay_seconds histogram"});
    EXPECT_EQ(lines_of(text, "tarnel_first_byte_delay_seconds"),
              (std::vector<std::string>{
                  "tarnel_first_byte_delay_seconds_bucket{station=\"news\",le=\"0.001\"} 10",
                  "tarnel_first_byte_delay_seconds_bucket{station=\"news\",le=\"0.0025\"} 20",
                  "tarnel_first_byte_delay_seconds_bucket{station=\"news\",le=\"0.005\"} 30",
                  "tarnel_first_byte_delay_seconds_bucket{station=\"news\",le=\"0.01\"} 40",
                  "tarnel_first_byte_delay_seconds_bucket{station=\"news\",le=\"0.025\"} 50",
                  "tarnel_first_byte_delay_seconds_bucket{station=\"news\",le=\"0.05\"} 60",
                  "tarnel_first_byte_delay_seconds_bucket{station=\"news\",le=\"0.1\"} 70",
                  "tarnel_first_byte_delay_seconds_bucket{station=\"news\",le=\"0.25\"} 80",
                  "tarnel_first_byte_delay_seconds_bucket{station=\"news\",le=\"0.5\"} 90",
                  "tarnel_first_byte_delay_seconds_bucket{station=\"news\",le=\"1\"} 95",
                  "tarnel_first_byte_delay_seconds_bucket{station=\"news\",le=\"+Inf\"} 100",
                  "tarnel_first_byte_delay_seconds_sum{station=\"news\"} 0.45669999999999999",
                  "tarnel_first_byte_delay_seconds_count{station=\"news\"} 100"}));
}

TEST(MetricsTest, AnInconsistentHistogramIsLeftOut) {
    const char* const broken[] = {
        R"({"le_seconds": [0.1, 0.2], "counts": [1], "count": 2, "sum_seconds": 0.1})",
        R"({"le_seconds": [0.2, 0.1], "counts": [1, 2], "count": 2, "sum_seconds": 0.1})",
        R"({"le_seconds": [0.1, 0.2], "counts": [2, 1], "count": 2, "sum_seconds": 0.1})",
        R"({"le_seconds": [0.1, 0.2], "counts": [1, 3], "count": 2, "sum_seconds": 0.1})",
        R"({"le_seconds": [0.1, "x"], "counts": [1, 2], "count": 2, "sum_seconds": 0.1})",
        R"({"le_seconds": [0.1], "counts": [1], "sum_seconds": 0.1})",
        R"([1, 2])",
    };
    for (const char* delay : broken) {
        StationReading station = streaming_station();
        station.status["first_byte_delay"] = nlohmann::json::parse(delay);
        const std::string text = metrics_text({station}, 0, kNow);
        EXPECT_EQ(text.find("tarnel_first_byte_delay"), std::string::npos) << delay;
        EXPECT_NE(text.find("tarnel_sent_seconds_total{station=\"news\"} 3600"), std::string::npos);
    }
}

// Prometheus' own checker, when installed, finds nothing against its naming rules.
TEST(MetricsTest, PromtoolFindsNoProblem) {
    if (access("/usr/bin/promtool", X_OK) != 0) {
        GTEST_SKIP() << "promtool (Debian's prometheus) is not installed";
    }
    StationReading stopped = streaming_station();
    stopped.name = "music";
    stopped.status["state"] = "stopped";
    const test::TempDir dir;
    dir.write("metrics.txt", metrics_text({streaming_station(), stopped}, 0, kNow));
    const int status =
        test::run_program("/bin/sh", {"-c", "/usr/bin/promtool check metrics < metrics.txt"},
                          dir.path(), dir.file("out.txt"), 30000);
    EXPECT_EQ(status, 0) << test::read_file(dir.file("out.txt"));
    EXPECT_EQ(test::read_file(dir.file("out.txt")), "");
}

}  // namespace
}  // namespace tarnel::web
