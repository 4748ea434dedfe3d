// The real program as a service: the status file read by a monitor at any moment, the messages
// to the service manager over a stand-in notify socket, and the log lines given to the journal.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "support/console_capture.h"
#include "support/http_loopback_server.h"
#include "support/loopback_server.h"
#include "support/notify_listener.h"
#include "support/nsv_writer.h"
#include "support/scoped_environment.h"
#include "support/tarnel_run.h"

namespace tarnel::test {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;
using std::chrono::seconds;

// A clip of `length` seconds at 30 frames per second, titled "Clip".
void write_clip(const TarnelRun& run, int length) {
    NsvWriter clip;
    clip.file_header("TITLE='Clip'").frames(30 * length, 0x1E, 200, 40, 30);
    clip.write(run.dir().file("clip.nsv"));
    run.playlist("#Mode=basic\nclip.nsv\n");
}

// Reads the status file as a monitor would, as often as it likes: every read must be one whole
// JSON object. An empty file is a bad read too: it is what a monitor sees of a writer that empties
// the file and then fills it. Keeps the states seen, in order, without repeats.
class StatusMonitor {
  public:
    explicit StatusMonitor(std::string path) : path_(std::move(path)) {}

    // Reads the file once (if it exists yet); false when what was read is empty or no valid JSON.
    bool read() {
        if (!file_exists(path_)) {
            return true;
        }
        const std::string text = read_file(path_);
        ++reads_;
        if (!json::accept(text)) {
            bad_ = text.empty() ? "(an empty file)" : text;
            return false;
        }
        last_ = json::parse(text);
        const std::string state = last_["state"];
        if (states_.empty() || states_.back() != state) {
            states_.push_back(state);
        }
        return true;
    }

    const json& last() const { return last_; }
    const std::vector<std::string>& states() const { return states_; }
    const std::string& bad() const { return bad_; }
    size_t reads() const { return reads_; }

  private:
    std::string path_;
    json last_;
    std::vector<std::string> states_;
    std::string bad_;
    size_t reads_ = 0;
};

TEST(ServiceEndToEndTest, StatusFileAndManagerFollowAFailedConnectionTheCountdownAndTheStream) {
    LoopbackServer server;
    server.set_rejecting(true);  // the first attempt fails
    TarnelRun run(server);
    run.configure("AutoReconnect=yes\nStatusFile=status.json\nRealTime=no\nScreenLog=no\n");
    write_clip(run, 60);
    NotifyListener manager(run.dir().file("notify"));
    const ScopedEnvironment notify_socket("NOTIFY_SOCKET", manager.name());
    const ScopedEnvironment watchdog("WATCHDOG_USEC", "4000000");
    run.start();

    // A monitor reads the file every few milliseconds; the manager's messages are taken as they
    // come, so its small queue never fills.
    StatusMonitor monitor(run.dir().file("status.json"));
    std::vector<std::string> messages;
    auto watch_until = [&](auto done, milliseconds timeout) {
        return wait_until(
            [&] {
                for (std::string m = manager.receive(milliseconds(0)); !m.empty();
                     m = manager.receive(milliseconds(0))) {
                    messages.push_back(m);
                }
                return !monitor.read() || done();
            },
            static_cast<int>(timeout.count()));
    };
    auto state_is = [&](const std::string& state) {
        return monitor.reads() > 0 && monitor.last()["state"] == state;
    };

    ASSERT_TRUE(watch_until([&] { return state_is("waiting to reconnect"); }, milliseconds(20000)))
        << run.log();
    ASSERT_EQ(monitor.bad(), "");
    const size_t error_at = run.log().find("Error: ");
    ASSERT_NE(error_at, std::string::npos) << run.log();
    const std::string error =
        run.log().substr(error_at + 7, run.log().find('\n', error_at) - error_at - 7);
    {
        const json& status = monitor.last();
        EXPECT_EQ(status["last_error"], error);
        EXPECT_FALSE(status["last_error_time"].is_null());
        EXPECT_TRUE(status["connected_since"].is_null());
        EXPECT_EQ(status["reconnections"], 0);
        EXPECT_EQ(status["server"], "127.0.0.1");
        EXPECT_EQ(status["port"], server.base_port());
        EXPECT_TRUE(status["entry"].is_null());
    }

    // The countdown ends in a new attempt, which the server now accepts; then the clip streams.
    server.set_rejecting(false);
    ASSERT_TRUE(watch_until([&] { return state_is("streaming") && monitor.last()["second"] >= 3; },
                            seconds(50)))
        << run.log() << monitor.bad();
    ASSERT_EQ(monitor.bad(), "");
    const json streaming = monitor.last();
    EXPECT_EQ(streaming["reconnections"], 1);
    EXPECT_FALSE(streaming["connected_since"].is_null());
    EXPECT_EQ(streaming["entry"], "clip.nsv");
    EXPECT_EQ(streaming["title"], "Clip");
    EXPECT_EQ(streaming["last_error"], error);
    EXPECT_EQ(streaming["seconds_sent"], streaming["second"]);
    EXPECT_GT(streaming["bytes_sent"].get<uint64_t>(), 3u * 30 * 240);
    EXPECT_LE(streaming["bytes_sent"].get<size_t>(), server.stream_bytes(0).size());
    EXPECT_EQ(streaming["pid"], run.process().pid());
    EXPECT_TRUE(streaming["mount"].is_null());

    // The states in the order they came. A monitor may miss one that lasts a few milliseconds
    // ("starting", or a first attempt refused at once), never the order; the log-in of the second
    // attempt takes a fifth of a second, so that "connecting" is seen.
    const std::vector<std::string> order = {"starting", "connecting", "waiting to reconnect",
                                            "connecting", "streaming"};
    const std::vector<std::string>& states = monitor.states();
    size_t matched = 0;
    for (const std::string& state : states) {
        while (matched < order.size() && order[matched] != state) {
            ++matched;
        }
        ASSERT_LT(matched++, order.size()) << "out of order: " << state;
    }
    ASSERT_GE(states.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(states.end() - 3, states.end()),
              (std::vector<std::string>{"waiting to reconnect", "connecting", "streaming"}));

    // The manager: READY once start-up is done, then a status line for each change and each
    // step of the countdown, the last error until a second has been sent again, and keep-alive
    // pings in every wait.
    const std::string address = "127.0.0.1:" + server.port_text();
    const std::string last_error = "; last error: " + error;
    std::vector<std::string> expected = {"STATUS=Starting", "READY=1",
                                         "STATUS=Connecting to " + address};
    for (int n = 30; n >= 1; --n) {
        expected.push_back("STATUS=Waiting to reconnect [" + std::to_string(n) + "]" + last_error);
    }
    expected.insert(expected.end(), {"STATUS=Reconnecting to " + address + last_error,
                                     "STATUS=Connecting to " + address + last_error,
                                     "STATUS=Connected to " + address + last_error,
                                     "STATUS=Streaming Clip (clip.nsv)" + last_error,
                                     // a second went out: the station has recovered
                                     "STATUS=Streaming Clip (clip.nsv)"});
    std::vector<std::string> statuses;
    size_t pings = 0;
    for (const std::string& message : messages) {
        if (message == "WATCHDOG=1") {
            ++pings;
        } else {
            statuses.push_back(message);
        }
    }
    EXPECT_EQ(statuses, expected);
    EXPECT_GE(pings, 30u);  // at least one for each second of the countdown

    // While it streams: a ping each second, and no new status line while the clip plays on.
    const std::vector<std::string> streaming_messages = manager.receive_for(milliseconds(3500));
    EXPECT_GE(streaming_messages.size(), 3u);
    EXPECT_LE(streaming_messages.size(), 7u);
    for (const std::string& message : streaming_messages) {
        EXPECT_EQ(message, "WATCHDOG=1");
    }
}

TEST(ServiceEndToEndTest, AStatusFileThatCannotBeWrittenIsLoggedOnceAndTheStreamGoesOn) {
    LoopbackServer server;
    TarnelRun run(server);
    // The status file's directory is replaced by a plain file while the clip streams, then comes
    // back. (A directory without write permission would do the same for any user but root.)
    run.configure("StatusFile=status/now.json\nRealTime=no\nScreenLog=no\n");
    write_clip(run, 60);
    const std::string directory = run.dir().file("status");
    ASSERT_TRUE(std::filesystem::create_directory(directory));
    run.start();
    StatusMonitor monitor(directory + "/now.json");
    ASSERT_TRUE(wait_until(
        [&] { return monitor.read() && monitor.reads() > 0 && monitor.last()["second"] >= 1; },
        10000))
        << run.log();

    std::filesystem::remove_all(directory);
    run.dir().write("status", "not a directory\n");
    const std::string warning =
        "Warning: could not write the status file status/now.json: Not a directory";
    ASSERT_TRUE(run.wait_for_log(warning, milliseconds(5000))) << run.log();
    ASSERT_TRUE(server.wait_for_connections(1, milliseconds(1000)));
    const size_t streamed = server.stream_bytes(0).size();
    EXPECT_TRUE(
        server.wait_for_bytes(0, server.bytes(0).size() + 2 * 30 * 240, milliseconds(5000)));
    EXPECT_GT(server.stream_bytes(0).size(), streamed);
    EXPECT_EQ(count_of(run.log(), warning), 1u) << run.log();
    EXPECT_TRUE(run.process().running());

    // Once the directory is back, a new read (not the last one from before it went away) finds
    // the stream further on.
    const size_t reads_before = monitor.reads();
    const int second_before = monitor.last()["second"].get<int>();
    std::filesystem::remove(directory);
    ASSERT_TRUE(std::filesystem::create_directory(directory));
    ASSERT_TRUE(
        wait_until([&] { return !monitor.read() || monitor.reads() > reads_before; }, 5000));
    ASSERT_EQ(monitor.bad(), "");
    EXPECT_EQ(monitor.last()["state"], "streaming");
    EXPECT_GT(monitor.last()["second"], second_before);
    EXPECT_EQ(count_of(run.log(), warning), 1u);
}

TEST(ServiceEndToEndTest, TheStatusFileNamesTheMountOfIcecastsProtocol) {
    const HttpLoopbackServer server;
    TarnelRun run(server.port());
    run.configure("Mount=/live\nStatusFile=status.json\nRealTime=no\nScreenLog=no\n");
    write_clip(run, 10);
    run.start();
    StatusMonitor monitor(run.dir().file("status.json"));
    ASSERT_TRUE(wait_until(
        [&] { return monitor.read() && monitor.reads() > 0 && monitor.last()["second"] >= 1; },
        10000))
        << run.log();
    EXPECT_EQ(monitor.last()["state"], "streaming");
    EXPECT_EQ(monitor.last()["mount"], "/live");
    EXPECT_EQ(monitor.last()["port"], server.port());
}

TEST(ServiceEndToEndTest, TheJournalGetsBareLogLinesAndNoStatusLine) {
    LoopbackServer server;
    TarnelRun run(server);
    run.configure("RealTime=yes\nScreenLog=yes\n");
    write_clip(run, 60);
    // Standard output is a file whose device and inode JOURNAL_STREAM names, as systemd does for
    // the journal's stream (the file is created first, and kept by the child's open).
    const std::string console = run.dir().write("console.txt", "");
    struct stat output {};
    ASSERT_EQ(stat(console.c_str(), &output), 0);
    const ScopedEnvironment journal(
        "JOURNAL_STREAM", std::to_string(output.st_dev) + ":" + std::to_string(output.st_ino));
    run.start();
    ASSERT_TRUE(server.wait_for_bytes(0, 3 * 30 * 240, milliseconds(10000)));
    ASSERT_TRUE(run.wait_for_log("Title Updated", milliseconds(5000)));
    sleep_ms(1500);
    run.process().kill();

    const std::string text = run.console();
    const std::string log_lines = text.substr(text.find("\n\n") + 2);  // after the banner
    EXPECT_EQ(log_lines, run.log());  // each log line as it is in the file, without stamp
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.find("Video: "), std::string::npos);
}

}  // namespace
}  // namespace tarnel::test
