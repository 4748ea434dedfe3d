// The real tarnelctl against the real program's control socket: its output, its JSON and its exit
// statuses.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "support/control_client.h"
#include "support/loopback_server.h"
#include "support/nsv_writer.h"
#include "support/process.h"
#include "support/tarnel_run.h"

namespace tarnel::test {
namespace {

using std::chrono::seconds;

struct Outcome {
    int status;
    std::string output;  // standard output and error together
};

Outcome tarnelctl(const TempDir& dir, const std::vector<std::string>& args) {
    const std::string out = dir.file("tarnelctl.txt");
    const int status = run_program(TARNELCTL_BINARY, args, dir.path(), out, 60000);
    return {status, read_file(out)};
}

class TarnelctlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NsvWriter clip;
        clip.file_header("TITLE='Clip A'").frames(600, 0x1E, 200, 40, 30);
        clip.write(run_.dir().file("a.nsv"));
        clip.write(run_.dir().file("b.nsv"));
        run_.configure("ControlSocket=control.sock\nAsRunLog=as-run.jsonl\n");
        run_.playlist("#Mode=basic\na.nsv\n");
        run_.start();
        ASSERT_TRUE(wait_until(
            [&] { return control_request(socket(), "GET", "/status").body["entry"] == "a.nsv"; },
            15000))
            << run_.log();
    }
    void TearDown() override { run_.process().kill(); }

    std::string socket() const { return run_.dir().file("control.sock"); }
    Outcome ctl(std::vector<std::string> args) {
        args.insert(args.begin(), {"-s", socket()});
        return tarnelctl(run_.dir(), args);
    }

    LoopbackServer server_;
    TarnelRun run_{server_};
};

TEST_F(TarnelctlTest, StatusForPeopleAndForPrograms) {
    const Outcome text = ctl({"status"});
    EXPECT_EQ(text.status, 0) << text.output;
    EXPECT_EQ(text.output.rfind("State:           streaming\n"
                                "Playing:         Clip A (a.nsv), second ",
                                0),
              0u)
        << text.output;
    EXPECT_NE(text.output.find("\nNext:            a.nsv (from the playlist)\n"),
              std::string::npos);

    const Outcome json = ctl({"--json", "status"});
    EXPECT_EQ(json.status, 0);
    const nlohmann::json parsed = nlohmann::json::parse(json.output);
    EXPECT_EQ(parsed["entry"], "a.nsv");
    EXPECT_EQ(parsed["position"]["mode"], "basic");
}

TEST_F(TarnelctlTest, QueueUnqueueAndNext) {
    Outcome queued = ctl({"queue", "b.nsv"});
    EXPECT_EQ(queued.status, 0) << queued.output;
    EXPECT_EQ(queued.output, "Queued b.nsv; the queue holds 1 entry.\n");
    EXPECT_EQ(ctl({"next"}).output, "b.nsv (queued)\n");
    EXPECT_EQ(ctl({"queue"}).output, "1. b.nsv\n");
    EXPECT_EQ(ctl({"unqueue", "1"}).output, "Removed item 1; the queue holds 0 entries.\n");
    EXPECT_EQ(nlohmann::json::parse(ctl({"next", "--json"}).output),
              nlohmann::json::parse(R"({"next": {"entry": "a.nsv", "queued": false}})"));
}

TEST_F(TarnelctlTest, ARefusalExitsOneWithTheStationsReason) {
    const Outcome missing = ctl({"queue", "missing.nsv"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.output,
              "tarnelctl: the station refused the request: missing.nsv cannot be opened: No such "
              "file or directory (400 Bad Request)\n");
    const Outcome json = ctl({"--json", "unqueue", "4"});
    EXPECT_EQ(json.status, 1);
    EXPECT_NE(json.output.find("\"error\": \"there is no item 4 in the queue (it holds 0)\""),
              std::string::npos)
        << json.output;
}

TEST_F(TarnelctlTest, PlayTitleReloadAndHistoryAreCarriedOut) {
    EXPECT_EQ(ctl({"title", "Breaking", "news"}).output, "Title sent: Breaking news\n");
    EXPECT_EQ(ctl({"reload", "playlist"}).output, "Playlist list.plo loaded: 1 entries\n");
    EXPECT_EQ(ctl({"play", "b.nsv"}).output, "Playing b.nsv after the second in progress.\n");
    ASSERT_TRUE(run_.wait_for_log("Opened b.nsv successfully!", seconds(10)));
    const Outcome history = ctl({"history", "1"});
    EXPECT_EQ(history.status, 0);
    EXPECT_NE(history.output.find("  skipped by request  Clip A (a.nsv)\n"), std::string::npos)
        << history.output;
    EXPECT_EQ(ctl({"skip"}).status, 0);
    EXPECT_TRUE(run_.wait_for_log("Opened a.nsv successfully!", seconds(10), 2));
}

TEST(TarnelctlReachTest, UsageErrorsAndAnUnreachableStationExitTwo) {
    const TempDir dir;
    const Outcome usage = tarnelctl(dir, {"news"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(usage.output.rfind("tarnelctl: no command given\n\nUsage: tarnelctl", 0), 0u)
        << usage.output;

    const Outcome missing = tarnelctl(dir, {"-s", dir.file("control.sock"), "status"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.output,
              "tarnelctl: the station was not reached: there is no control socket at " +
                  dir.file("control.sock") + " (is the station running, with ControlSocket=" +
                  dir.file("control.sock") + "?)\n");

    // The socket file of a station that was killed.
    {
        const Descriptor stale(::socket(AF_UNIX, SOCK_STREAM, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, dir.file("control.sock").c_str());
        ASSERT_EQ(::bind(stale.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address),
                  0);
    }
    const Outcome stale = tarnelctl(dir, {"-s", dir.file("control.sock"), "skip"});
    EXPECT_EQ(stale.status, 2);
    EXPECT_NE(stale.output.find("nothing answers on " + dir.file("control.sock") +
                                " (the station is not running)"),
              std::string::npos);

    const Outcome help = tarnelctl(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.output.rfind("Usage: tarnelctl", 0), 0u);
    EXPECT_EQ(tarnelctl(dir, {"--version"}).output, "tarnelctl " TARNEL_VERSION "\n");
}

}  // namespace
}  // namespace tarnel::test
