#include "driver/title_updater.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "config/settings.h"
#include "driver/loop_wait.h"
#include "net/net_timeouts.h"
#include "support/console_capture.h"
#include "support/http_loopback_server.h"
#include "support/loopback_server.h"
#include "support/net_settings.h"

namespace tarnel::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

class TitleUpdaterTest : public ::testing::Test {
  protected:
    TitleUpdaterTest() { reset_loop_wait(); }
    ~TitleUpdaterTest() override { reset_loop_wait(); }

    std::string log() const { return without_stamps(console_.text()); }
    static void point_at(const std::string& base_port) {
        server = "127.0.0.1";
        port = base_port;
    }

    // Waits (the main flow's way) until the log holds text, or the timeout passes.
    bool serve_until_logged(const std::string& text, milliseconds timeout) const {
        const auto end = Clock::now() + timeout;
        while (log().find(text) == std::string::npos) {
            if (Clock::now() >= end) {
                return false;
            }
            wait_once(WaitDeadline::steady(end));
        }
        return true;
    }

    ScopedNetSettings settings_;
    ConsoleCapture console_;
};

// The update runs on its own thread; its outcome is logged by the main flow's wait, and nothing is
// logged before the wait serves it.
TEST_F(TitleUpdaterTest, TheOutcomeIsLoggedWhenTheWaitServesTheEndedUpdate) {
    const LoopbackServer server;
    point_at(server.port_text());
    TitleUpdater updater;
    updater.start(title_update_job("Song", "http://x.org/", ServerRoute{}));
    ASSERT_TRUE(server.wait_for_admin_requests(1, milliseconds(5000)));
    EXPECT_EQ(log(), "");
    ASSERT_TRUE(serve_until_logged("Title Updated (Song)", milliseconds(5000))) << log();
    EXPECT_EQ(log(), "\rTitle Updated (Song)\n");
    EXPECT_FALSE(updater.running());
    updater.settle();  // nothing left to settle
    EXPECT_EQ(log(), "\rTitle Updated (Song)\n");
}

// A server that accepts and never answers: the update is given up when the next one starts (or
// the next entry comes), long before its own time limit, with the usual failure line, and the
// next update runs as usual.
TEST_F(TitleUpdaterTest, AnUpdateThatStillRunsIsGivenUpByTheNextOne) {
    HttpScript silent;
    silent.metadata_answer = {{}, false};
    const HttpLoopbackServer admin(silent);
    point_at(admin.port_text());
    net_timeouts.title_update = milliseconds(30000);
    TitleUpdater updater;
    updater.start(title_update_job("First", "", ServerRoute{"/live", false}));
    ASSERT_TRUE(admin.wait_for_heads(1, milliseconds(5000)));
    EXPECT_TRUE(updater.running());
    const auto start = Clock::now();
    updater.start(title_update_job("Second", "", ServerRoute{"/live", false}));
    EXPECT_LT(Clock::now() - start, milliseconds(5000));
    // The socket layer's line for a receive that ended (ETIMEDOUT) comes first, as it does when
    // the update's own time limit runs out.
    const std::string given_up =
        "status == -1   errno == 110  in Socket::recv\n\rError Updating Title(Could not read "
        "from socket.)\n";
    EXPECT_EQ(log(), given_up);
    ASSERT_TRUE(admin.wait_for_heads(2, milliseconds(5000)));
    updater.settle();
    EXPECT_LT(Clock::now() - start, milliseconds(10000));
    EXPECT_EQ(log(), given_up +
                         "status == -1   errno == 110  in Socket::recv\n"
                         "Error Updating Title(Could not read from socket.)\n");
    EXPECT_FALSE(updater.running());
}

// What the socket layer prints on the console from the update's thread is written out by the
// main flow, just before the outcome line, as when the update ran there.
TEST_F(TitleUpdaterTest, TheSocketLayersConsoleTextComesFromTheMainFlowBeforeTheOutcome) {
    server = "no-such-host.invalid";
    TitleUpdater updater;
    updater.start(title_update_job("Song", "", ServerRoute{}));
    ASSERT_TRUE(serve_until_logged("Error Updating Title(", milliseconds(30000))) << log();
    EXPECT_EQ(log(), "\nLookup failed\n\rError Updating Title(Could not bind to port.)\n");
}

// A status line due while the update runs is shown right after its outcome line, as when the
// update ran in the main flow; with no update running it is shown at once.
TEST_F(TitleUpdaterTest, AStatusLineWaitsForTheOutcomeLine) {
    realtime = true;
    HttpScript silent;
    silent.metadata_answer = {{}, false};
    const HttpLoopbackServer admin(silent);
    point_at(admin.port_text());
    TitleUpdater updater;
    updater.start(title_update_job("Song", "", ServerRoute{"/live", false}));
    ASSERT_TRUE(admin.wait_for_heads(1, milliseconds(5000)));
    updater.display_status("Video: first");
    updater.display_status("Video: second");
    EXPECT_EQ(log(), "");
    updater.settle();
    // (A status line is padded with spaces over the longer line before it.)
    EXPECT_EQ(log().rfind("status == -1   errno == 110  in Socket::recv\n\rError Updating "
                          "Title(Could not read from socket.)\n\rVideo: second  ",
                          0),
              0u)
        << log();
    EXPECT_EQ(log().find("first"), std::string::npos);
    updater.display_status("Video: third");
    EXPECT_NE(log().find("\rVideo: third"), std::string::npos);
}

// Destroying the updater (the run ends by an exception) ends the update without a line.
TEST_F(TitleUpdaterTest, DestructionGivesTheUpdateUpQuietly) {
    HttpScript silent;
    silent.metadata_answer = {{}, false};
    const HttpLoopbackServer admin(silent);
    point_at(admin.port_text());
    net_timeouts.title_update = milliseconds(30000);
    const auto start = Clock::now();
    {
        TitleUpdater updater;
        updater.start(title_update_job("Song", "", ServerRoute{"/live", false}));
        ASSERT_TRUE(admin.wait_for_heads(1, milliseconds(5000)));
    }
    EXPECT_LT(Clock::now() - start, milliseconds(10000));
    EXPECT_EQ(log(), "");
}

}  // namespace
}  // namespace tarnel::test
