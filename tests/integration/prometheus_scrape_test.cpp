// Debian's Prometheus scrapes tarnel-web while two real stations stream to a private Icecast;
// a PromQL query over Prometheus' HTTP API gives the seconds each station sent, and they rise.

#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <map>
#include <nlohmann/json.hpp>

#include "support/streaming_stations.h"
#include "support/tarnel_web_run.h"

namespace tarnel::test {
namespace {

constexpr const char* kPrometheus = "/usr/bin/prometheus";

// A private Prometheus on a free loopback port that scrapes one target every second.
class PrometheusServer {
  public:
    explicit PrometheusServer(int target_port) : port_(free_loopback_port()) {
        const std::string config =
            dir_.write("prometheus.yml",
                       "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                       "scrape_configs:\n  - job_name: tarnel\n    static_configs:\n"
                       "      - targets: ['127.0.0.1:" +
                           std::to_string(target_port) + "']\n");
        process_ = std::make_unique<Process>(
            kPrometheus,
            std::vector<std::string>{"--config.file=" + config,
                                     "--storage.tsdb.path=" + dir_.file("data"),
                                     "--web.listen-address=127.0.0.1:" + std::to_string(port_)},
            dir_.path(), dir_.file("prometheus.out"));
    }

    // Runs a PromQL query; the "result" array of its answer, or null.
    nlohmann::json query(const std::string& promql) const {
        httplib::Client client("127.0.0.1", port_);
        client.set_connection_timeout(std::chrono::seconds(2));
        client.set_read_timeout(std::chrono::seconds(10));
        const httplib::Result result =
            client.Get("/api/v1/query", httplib::Params{{"query", promql}}, httplib::Headers{});
        if (!result || result->status != 200) {
            return nullptr;
        }
        const nlohmann::json answer = nlohmann::json::parse(result->body, nullptr, false);
        if (!answer.is_object() || answer.value("status", "") != "success") {
            return nullptr;
        }
        return answer["data"]["result"];
    }

    std::string output() const { return read_file(dir_.file("prometheus.out")); }

  private:
    TempDir dir_;
    int port_;
    std::unique_ptr<Process> process_;
};

// The value of each station's series in a query's result.
std::map<std::string, double> per_station(const nlohmann::json& result) {
    std::map<std::string, double> values;
    if (!result.is_array()) {
        return values;
    }
    for (const nlohmann::json& series : result) {
        values[series["metric"].value("station", "")] =
            std::stod(series["value"][1].get<std::string>());
    }
    return values;
}

TEST(PrometheusScrapeTest, ThePromQlQueryGivesTheSecondsEachStationSentAndTheyRise) {
    if (!IcecastServer::available() || access(kPrometheus, X_OK) != 0) {
        GTEST_SKIP() << "icecast2 or prometheus is not installed (scripts/install-deps)";
    }
    StreamingStations stations(5, 5);
    std::string diagnostics;
    if (!stations.start(diagnostics)) {
        GTEST_SKIP() << "the clips cannot be made (ffmpeg): " << diagnostics;
    }
    ASSERT_TRUE(stations.wait_until_streaming(20000)) << stations.logs();
    TarnelWebRun web(stations.run_dir());
    ASSERT_TRUE(web.ready()) << web.output();
    PrometheusServer prometheus(web.port());

    const std::string promql = "tarnel_sent_seconds_total";
    std::map<std::string, double> first;
    ASSERT_TRUE(wait_until(
        [&] {
            first = per_station(prometheus.query(promql));
            return first.size() == 2;
        },
        60000))
        << prometheus.output() << web.output();
    EXPECT_EQ(first.count("one"), 1u);
    EXPECT_EQ(first.count("two"), 1u);

    // A later scrape has more seconds for both.
    std::map<std::string, double> later;
    EXPECT_TRUE(wait_until(
        [&] {
            later = per_station(prometheus.query(promql));
            return later.size() == 2 && later["one"] > first["one"] && later["two"] > first["two"];
        },
        30000))
        << "first: " << first["one"] << " " << first["two"] << "; later: " << later["one"] << " "
        << later["two"];

    // The other series arrive with the same scrapes.
    EXPECT_EQ(per_station(prometheus.query("tarnel_station_up == 1")).size(), 2u);
    EXPECT_EQ(
        per_station(prometheus.query("tarnel_station_state{state=\"streaming\"} == 1")).size(), 2u);
    // The stations' own first-byte delay histogram, with seconds counted in it.
    EXPECT_EQ(per_station(prometheus.query("tarnel_first_byte_delay_seconds_count > 0")).size(),
              2u);
    EXPECT_EQ(
        per_station(prometheus.query(
                        "histogram_quantile(0.5, tarnel_first_byte_delay_seconds_bucket) >= 0"))
            .size(),
        2u);
    const nlohmann::json info = prometheus.query("tarnel_station_info{station=\"one\"}");
    ASSERT_TRUE(info.is_array() && info.size() == 1) << info;
    EXPECT_EQ(info[0]["metric"].value("title", "").rfind("one ", 0), 0u) << info;
}

}  // namespace
}  // namespace tarnel::test
