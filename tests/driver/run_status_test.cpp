#include "driver/run_status.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "config/settings.h"
#include "config/wall_clock.h"
#include "driver/service_notify.h"
#include "support/console_capture.h"
#include "support/notify_listener.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

using std::chrono::milliseconds;

RunStatus with(RunState state, const std::string& error = "") {
    RunStatus status;
    status.state = state;
    status.server = "radio.example";
    status.port = "8000";
    status.last_error = error;
    return status;
}

TEST(StatusSummaryTest, SaysWhatTheProgramDoes) {
    RunStatus streaming = with(RunState::kStreaming);
    streaming.entry = "media/news.nsv";
    streaming.title = "News";
    RunStatus counting = with(RunState::kWaitingToReconnect, "Invalid Password");
    counting.countdown = 17;
    RunStatus reconnecting = counting;
    reconnecting.countdown = 0;
    const std::pair<RunStatus, std::string> cases[] = {
        {with(RunState::kStarting), "Starting"},
        {with(RunState::kConnecting), "Connecting to radio.example:8000"},
        {with(RunState::kStreaming), "Connected to radio.example:8000"},
        {streaming, "Streaming News (media/news.nsv)"},
        {counting, "Waiting to reconnect [17]; last error: Invalid Password"},
        {reconnecting, "Reconnecting to radio.example:8000; last error: Invalid Password"},
        {with(RunState::kIdle), "Idle: nothing in the playlist could be played"},
        {with(RunState::kStopped, "Playlist (x) could not be loaded"),
         "Stopped; last error: Playlist (x) could not be loaded"},
    };
    for (const auto& [status, summary] : cases) {
        EXPECT_EQ(status_summary(status), summary);
    }
}

TEST(StatusSummaryTest, TheSecondsSentDoNotChangeIt) {
    RunStatus status = with(RunState::kStreaming);
    status.entry = "a.nsv";
    status.title = "A";
    const std::string before = status_summary(status);
    status.second = 99;
    status.seconds_sent = 99;
    status.bytes_sent = 123456;
    EXPECT_EQ(status_summary(status), before);
}

// The summary shows the last error until a second has been sent after it: a station that
// recovered does not show an old error for months. The status file keeps it (status_json).
TEST(StatusSummaryTest, TheLastErrorGoesOnceASecondIsSentAfterIt) {
    RunStatus status = with(RunState::kStreaming);
    status.entry = "a.nsv";
    status.title = "A";
    status.seconds_sent = 40;
    record_error(status, "Could not write to socket.");
    status.state = RunState::kStreaming;
    EXPECT_EQ(status_summary(status),
              "Streaming A (a.nsv); last error: Could not write to socket.");
    ++status.seconds_sent;
    EXPECT_EQ(status_summary(status), "Streaming A (a.nsv)");
    EXPECT_EQ(status.last_error, "Could not write to socket.");
    status.state = RunState::kIdle;
    EXPECT_EQ(status_summary(status), "Idle: nothing in the playlist could be played");
    record_error(status, "Could not read from socket.");
    status.state = RunState::kWaitingToReconnect;
    status.countdown = 3;
    EXPECT_EQ(status_summary(status),
              "Waiting to reconnect [3]; last error: Could not read from socket.");
}

TEST(RecordErrorTest, KeepsTheTextAndTimeAndEndsTheConnection) {
    RunStatus status = with(RunState::kStreaming);
    status.connected_since = 1;
    const std::time_t before = wall_clock_second();
    record_error(status, "Could not read from socket.");
    EXPECT_EQ(status.last_error, "Could not read from socket.");
    ASSERT_TRUE(status.last_error_time.has_value());
    EXPECT_GE(*status.last_error_time, before);
    EXPECT_LE(*status.last_error_time, wall_clock_second());
    EXPECT_FALSE(status.connected_since.has_value());
}

class PublishStatusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_settings();
        reset_status_publication();
        unsetenv("NOTIFY_SOCKET");
        reset_service_notify();
        logfile = "NULL";
        screenlog = false;
    }
    void TearDown() override {
        reset_settings();
        reset_status_publication();
        reset_service_notify();
    }
    nlohmann::json status_in_file() const { return nlohmann::json::parse(read_file(status_file)); }
    // Waits for the start of a wall-clock second, so that the next steps share one second.
    static void start_of_second() {
        const std::time_t now = wall_clock_second();
        while (wall_clock_second() == now) {
            usleep(1000);
        }
    }

    TempDir dir_;
};

TEST_F(PublishStatusTest, WithNoStatusFileAndNoManagerNothingIsWritten) {
    publish_status(with(RunState::kStreaming));
    EXPECT_FALSE(file_exists(dir_.file("status.json")));
}

TEST_F(PublishStatusTest, CountersAreWrittenOnceASecondAndEveryOtherChangeAtOnce) {
    status_file = dir_.file("status.json");
    RunStatus status = with(RunState::kStreaming);
    status.entry = "a.nsv";
    start_of_second();
    publish_status(status);
    EXPECT_EQ(status_in_file()["second"], 0);

    status.second = 1;  // the same wall-clock second: not yet
    publish_status(status);
    EXPECT_EQ(status_in_file()["second"], 0);

    status.title = "A";  // anything else: at once
    publish_status(status);
    EXPECT_EQ(status_in_file()["title"], "A");
    EXPECT_EQ(status_in_file()["second"], 1);

    status.second = 2;
    start_of_second();  // the next second: the counters too
    publish_status(status);
    EXPECT_EQ(status_in_file()["second"], 2);

    status_file = dir_.file("moved.json");  // a new path is written at once
    publish_status(status);
    EXPECT_EQ(nlohmann::json::parse(read_file(dir_.file("moved.json")))["second"], 2);
}

TEST_F(PublishStatusTest, TheManagerGetsTheSummaryWhenItChanges) {
    NotifyListener listener(dir_.file("notify"));
    const ScopedEnvironment socket("NOTIFY_SOCKET", listener.name());
    reset_service_notify();
    RunStatus status = with(RunState::kConnecting);
    publish_status(status);
    publish_status(status);
    status.state = RunState::kStreaming;
    publish_status(status);
    status.bytes_sent = 1000;
    publish_status(status);
    EXPECT_EQ(listener.receive_for(milliseconds(300)),
              (std::vector<std::string>{"STATUS=Connecting to radio.example:8000",
                                        "STATUS=Connected to radio.example:8000"}));
    EXPECT_FALSE(file_exists(dir_.file("status.json")));
}

}  // namespace
}  // namespace tarnel::test
