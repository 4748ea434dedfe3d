// The real build/tarnel-web over a run directory of stand-in stations: status files, and control
// sockets answered by ControlSocketStub.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <ctime>
#include <nlohmann/json.hpp>

#include "support/control_socket_stub.h"
#include "support/tarnel_web_run.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

using nlohmann::json;

std::string utc_now() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// A status file as a running station writes it; its pid is this test's, which runs.
json station_status(const std::string& title, int seconds) {
    return {{"version", "1.0.0"},
            {"pid", static_cast<long>(getpid())},
            {"state", "streaming"},
            {"server", "127.0.0.1"},
            {"port", 8000},
            {"mount", nullptr},
            {"connected_since", utc_now()},
            {"entry", "media/a.nsv"},
            {"title", title},
            {"second", 3},
            {"bytes_sent", seconds * 1000},
            {"seconds_sent", seconds},
            {"reconnections", 0},
            {"last_error", nullptr},
            {"last_error_time", nullptr},
            {"updated", utc_now()}};
}

class RunDirectory {
  public:
    std::string path() const { return dir_.path(); }
    std::string station(const std::string& name, const json& status) const {
        const std::string folder = dir_.file(name);
        mkdir(folder.c_str(), 0755);
        dir_.write(name + "/status.json", status.dump(2));
        return folder;
    }

  private:
    TempDir dir_;
};

TEST(TarnelWebTest, MetricsFollowStationsThatComeAndGo) {
    RunDirectory run;
    run.station("news", station_status("News", 10));
    TarnelWebRun web(run.path());
    ASSERT_TRUE(web.ready()) << web.output();

    const WebReply first = web.request("GET", "/metrics");
    ASSERT_EQ(first.status, 200) << web.output();
    EXPECT_EQ(first.headers.at("content-type"), "text/plain; version=0.0.4; charset=utf-8");
    EXPECT_NE(first.body.find("tarnel_station_up{station=\"news\"} 1\n"), std::string::npos)
        << first.body;
    EXPECT_NE(first.body.find("tarnel_sent_seconds_total{station=\"news\"} 10\n"),
              std::string::npos);
    EXPECT_EQ(first.body.find("station=\"music\""), std::string::npos);

    // A station that starts later is seen at the next scrape, and one that goes is gone.
    run.station("music", station_status("Music", 20));
    const WebReply second = web.request("GET", "/metrics");
    EXPECT_NE(second.body.find("tarnel_sent_seconds_total{station=\"music\"} 20\n"),
              std::string::npos)
        << second.body;
    std::remove((run.path() + "/news/status.json").c_str());
    rmdir((run.path() + "/news").c_str());
    const WebReply third = web.request("GET", "/metrics");
    EXPECT_EQ(third.body.find("station=\"news\""), std::string::npos) << third.body;
    EXPECT_NE(third.body.find("tarnel_web_stations 1\n"), std::string::npos);

    // SIGTERM ends it cleanly.
    web.process().signal(SIGTERM);
    EXPECT_EQ(web.process().wait(10000), 0) << web.output();
}

// A stand-in station with a queue: it answers GET /status, /history and the control requests
// as a station would, and records them.
struct FakeStation {
    json status;
    std::string directory;
    std::vector<std::string> queue;

    ControlAnswer operator()(const ControlRequest& request) {
        if (request.method == "GET" && request.target == "/status") {
            json full = status;
            full["directory"] = directory;
            full["next"] =
                queue.empty() ? json(nullptr) : json{{"entry", queue[0]}, {"queued", true}};
            full["queue"] = json::array();
            for (const std::string& entry : queue) {
                full["queue"].push_back({{"entry", entry}});
            }
            return {200, full.dump()};
        }
        if (request.method == "GET" && request.target.rfind("/history", 0) == 0) {
            json items = json::array();
            for (int i = 1; i <= 7; ++i) {
                items.push_back({{"entry", "media/" + std::to_string(i) + ".nsv"},
                                 {"title", "Item " + std::to_string(i)},
                                 {"ended", "played"}});
            }
            return {200, json{{"items", items}}.dump()};
        }
        if (request.method == "POST" && request.target == "/skip") {
            status["title"] = "After skip";
            return {200, R"({"ok": true})"};
        }
        if (request.method == "POST" && request.target == "/queue") {
            queue.push_back(json::parse(request.body).at("entry").get<std::string>());
            return {200, R"({"queue": []})"};
        }
        if (request.method == "POST" && request.target == "/title") {
            return control_error(400, "no title today");
        }
        return control_error(404, "no such request");
    }
};

class TarnelWebControlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The station's directory: media in it and below it, one link that leads out.
        media_.write("top.nsv", "NSVf");
        mkdir(media_.file("music").c_str(), 0755);
        media_.write("music/song.nsv", "NSVf");
        media_.write("notes.txt", "text");
        outside_.write("secret.nsv", "NSVf");
        symlink(outside_.file("secret.nsv").c_str(), media_.file("link.nsv").c_str());

        station_ = std::make_shared<FakeStation>();
        station_->status = station_status("Before skip", 30);
        station_->directory = media_.path();
        run_.station("news", station_->status);
        run_.station("plain", station_status("No socket", 5));
        stub_.serve(
            run_.path() + "/news/control.sock",
            [station = station_](const ControlRequest& request) { return (*station)(request); });
    }

    // The requests the station received, as "METHOD TARGET BODY".
    std::vector<std::string> received() const {
        std::vector<std::string> lines;
        for (const auto& [socket, request] : stub_.requests()) {
            if (request.target != "/status" && request.target.rfind("/history", 0) != 0) {
                lines.push_back(request.method + " " + request.target + " " + request.body);
            }
        }
        return lines;
    }

    RunDirectory run_;
    TempDir media_;
    TempDir outside_;
    std::shared_ptr<FakeStation> station_;
    ControlSocketStub stub_;
};

TEST_F(TarnelWebControlTest, ThePageAndItsDataShowEveryStation) {
    TarnelWebRun web(run_.path());
    ASSERT_TRUE(web.ready()) << web.output();
    const WebReply page = web.request("GET", "/");
    ASSERT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("<title>Tarnel stations</title>"), std::string::npos);
    EXPECT_EQ(page.headers.at("x-frame-options"), "DENY");
    EXPECT_NE(page.headers.at("content-security-policy").find("default-src 'self'"),
              std::string::npos);
    EXPECT_EQ(web.request("GET", "/app.js").status, 200);
    EXPECT_EQ(web.request("GET", "/app.css").headers.at("content-type"), "text/css; charset=utf-8");

    const WebReply data = web.api("GET", "/api/stations");
    ASSERT_EQ(data.status, 200) << data.body;
    const json stations = json::parse(data.body).at("stations");
    ASSERT_EQ(stations.size(), 2u) << data.body;
    const json& news = stations[0];
    EXPECT_EQ(news.at("name"), "news");
    EXPECT_EQ(news.at("up"), true);
    EXPECT_EQ(news.at("state"), "streaming");
    EXPECT_EQ(news.at("title"), "Before skip");
    EXPECT_EQ(news.at("control"), true);
    EXPECT_EQ(news.at("directory"), media_.path());
    // The last five history items, oldest first.
    ASSERT_EQ(news.at("history").size(), 5u);
    EXPECT_EQ(news.at("history")[0].at("title"), "Item 3");
    EXPECT_EQ(news.at("history")[4].at("title"), "Item 7");
    const json& plain = stations[1];
    EXPECT_EQ(plain.at("name"), "plain");
    EXPECT_EQ(plain.at("title"), "No socket");
    EXPECT_EQ(plain.at("control"), false);
}

TEST_F(TarnelWebControlTest, ButtonsGoThroughTheControlSocket) {
    TarnelWebRun web(run_.path());
    ASSERT_TRUE(web.ready()) << web.output();

    const WebReply skip = web.api("POST", "/api/stations/news/skip", "{}");
    EXPECT_EQ(skip.status, 200) << skip.body;
    const json after = json::parse(web.api("GET", "/api/stations").body).at("stations")[0];
    EXPECT_EQ(after.at("title"), "After skip");

    // A file of the picker is queued by its real path.
    const WebReply queued =
        web.api("POST", "/api/stations/news/queue", R"({"entry": "music/song.nsv"})");
    EXPECT_EQ(queued.status, 200) << queued.body;
    char real[PATH_MAX];
    ASSERT_NE(realpath(media_.file("music/song.nsv").c_str(), real), nullptr);

    // The station's refusal comes back with its status and message.
    const WebReply title = web.api("POST", "/api/stations/news/title", R"({"title": "T"})");
    EXPECT_EQ(title.status, 400);
    EXPECT_EQ(json::parse(title.body).at("error"), "no title today");

    EXPECT_EQ(received(), (std::vector<std::string>{"POST /skip {}",
                                                    "POST /queue " + json{{"entry", real}}.dump(),
                                                    "POST /title {\"title\":\"T\"}"}));

    // A station without a control socket cannot be controlled, nor one that is not there.
    EXPECT_EQ(web.api("POST", "/api/stations/plain/skip", "{}").status, 404);
    EXPECT_EQ(web.api("POST", "/api/stations/nowhere/skip", "{}").status, 404);
}

TEST_F(TarnelWebControlTest, ThePickerCannotLeaveTheStationsDirectory) {
    TarnelWebRun web(run_.path());
    ASSERT_TRUE(web.ready()) << web.output();
    const WebReply top = web.api("GET", "/api/stations/news/files?path=");
    ASSERT_EQ(top.status, 200) << top.body;
    EXPECT_EQ(json::parse(top.body).at("entries"),
              json::parse(R"([{"name": "music", "folder": true},
                              {"name": "link.nsv", "folder": false},
                              {"name": "top.nsv", "folder": false}])"));
    EXPECT_EQ(web.api("GET", "/api/stations/news/files?path=music").status, 200);

    for (const char* outside : {"..", "../..", "/etc", "music/../..", "link.nsv"}) {
        const WebReply listing =
            web.api("GET", std::string("/api/stations/news/files?path=") + outside);
        EXPECT_EQ(listing.status, 400) << outside << " " << listing.body;
        for (const char* action : {"queue", "play"}) {
            const WebReply refused = web.api("POST", std::string("/api/stations/news/") + action,
                                             json{{"entry", outside}}.dump());
            EXPECT_EQ(refused.status, 400) << action << " " << outside << " " << refused.body;
        }
    }
    EXPECT_EQ(received(), std::vector<std::string>{});
}

TEST_F(TarnelWebControlTest, ControlNeedsThePagesTokenAndAHostOfThisMachine) {
    TarnelWebRun web(run_.path());
    ASSERT_TRUE(web.ready()) << web.output();
    const std::string token = web.page_token();
    ASSERT_EQ(token.size(), 64u);

    EXPECT_EQ(web.request("POST", "/api/stations/news/skip", {}, "{}").status, 403);
    EXPECT_EQ(web.request("POST", "/api/stations/news/skip",
                          {{"X-Tarnel-Token", std::string(64, '0')}}, "{}")
                  .status,
              403);
    EXPECT_EQ(web.request("GET", "/api/stations").status, 403);
    // Another site's page, even with the token: its Origin gives it away.
    EXPECT_EQ(web.request("POST", "/api/stations/news/skip",
                          {{"X-Tarnel-Token", token}, {"Origin", "http://evil.example"}}, "{}")
                  .status,
              403);
    // A rebinding name: the browser sends its own Host.
    EXPECT_EQ(web.request("GET", "/", {{"Host", "evil.example:8600"}}).status, 403);
    EXPECT_EQ(web.request("GET", "/metrics", {{"Host", "localhost:9000"}}).status, 200);
    EXPECT_EQ(received(), std::vector<std::string>{});

    EXPECT_EQ(web.request("POST", "/api/stations/news/skip",
                          {{"X-Tarnel-Token", token}, {"Origin", web.url()}}, "{}")
                  .status,
              200);
    EXPECT_EQ(received(), std::vector<std::string>{"POST /skip {}"});
}

TEST(TarnelWebSecurityTest, CredentialsFromTheConfigurationFileGuardEveryRequest) {
    RunDirectory run;
    TarnelWebRun web(run.path(), "User=ops\nPassword=s3cret\n");
    ASSERT_TRUE(web.ready()) << web.output();
    const WebReply refused = web.request("GET", "/metrics");
    EXPECT_EQ(refused.status, 401);
    EXPECT_EQ(refused.headers.at("www-authenticate"),
              "Basic realm=\"tarnel-web\", charset=\"UTF-8\"");
    EXPECT_EQ(web.request("GET", "/", {{"Authorization", "Basic b3BzOndyb25n"}}).status, 401);
    // ops:s3cret
    EXPECT_EQ(web.request("GET", "/metrics", {{"Authorization", "Basic b3BzOnMzY3JldA=="}}).status,
              200);
}

TEST(TarnelWebSecurityTest, RefusesToStartWhereItWouldBeOpenOrItsPasswordReadable) {
    RunDirectory run;
    {
        // Any address but loopback needs credentials; nothing is bound.
        TarnelWebRun web(run.path(), "", {"--listen", "0.0.0.0:1"});
        EXPECT_EQ(web.process().wait(10000), 2);
        EXPECT_NE(web.output().find("tarnel-web: listening on 0.0.0.0:1 lets other machines in: "
                                    "it needs User= and Password= in the configuration file"),
                  std::string::npos)
            << web.output();
    }
    {
        TempDir dir;
        const std::string config = dir.write("web.conf", "User=ops\nPassword=s3cret\n");
        chmod(config.c_str(), 0644);
        TarnelWebRun web(run.path(), "", {"--config", config});
        EXPECT_EQ(web.process().wait(10000), 2);
        EXPECT_NE(web.output().find("holds a password and every user can read it"),
                  std::string::npos)
            << web.output();
    }
    {
        TarnelWebRun web(run.path(), "", {"--config", "/nonexistent/web.conf"});
        EXPECT_EQ(web.process().wait(10000), 2);
        EXPECT_NE(web.output().find("cannot read the configuration file /nonexistent/web.conf"),
                  std::string::npos)
            << web.output();
    }
}

}  // namespace
}  // namespace tarnel::test
