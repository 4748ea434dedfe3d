#include "net/client_socket.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "support/console_capture.h"
#include "support/loopback_server.h"
#include "support/net_settings.h"
#include "support/socket_failure.h"
#include "support/stalled_listener.h"

namespace tarnel::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

std::string random_bytes(size_t count) {
    std::mt19937 generator(12345);
    std::string bytes(count, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}

class ClientSocketTest : public ::testing::Test {
  protected:
    ScopedNetSettings settings_;
    ConsoleCapture console_;
};

TEST_F(ClientSocketTest, ConnectsToADottedAddressAndToALocalName) {
    SourceScript script;
    script.behaviour = SourceBehaviour::kNeverAnswer;
    LoopbackServer server(script);
    {
        const ClientSocket by_address("127.0.0.1", server.source_port());
        by_address << "one";
        ASSERT_TRUE(server.wait_for_bytes(0, 3, milliseconds(5000)));
    }
    {
        const ClientSocket by_name("localhost", server.source_port());
        by_name << "two";
        ASSERT_TRUE(server.wait_for_bytes(1, 3, milliseconds(5000)));
    }
    EXPECT_EQ(server.bytes(0), "one");
    EXPECT_EQ(server.bytes(1), "two");
    EXPECT_EQ(console_.text(), "");
}

TEST_F(ClientSocketTest, EveryFailedConnectionIsCouldNotBindToPort) {
    LoopbackServer server;
    server.close_admin();
    const int closed_port = server.base_port();
    struct Case {
        const char* host;
        int port;
    };
    for (const Case& c : {Case{"127.0.0.1", closed_port}, Case{"127.0.0.1", 0},
                          Case{"127.0.0.1", 70000}, Case{"nosuch.invalid", 8000}}) {
        SCOPED_TRACE(std::string(c.host) + ":" + std::to_string(c.port));
        EXPECT_EQ(failure_of([&] { ClientSocket(c.host, c.port); }), "Could not bind to port.");
    }
    // Only the name that did not resolve says so on standard output.
    EXPECT_EQ(console_.text(), "\nLookup failed\n");
}

TEST_F(ClientSocketTest, AConnectionAttemptThatHangsGivesUp) {
    net_timeouts.connect = milliseconds(300);
    const StalledListener stalled;
    const auto start = Clock::now();
    EXPECT_EQ(failure_of([&] { ClientSocket("127.0.0.1", stalled.port()); }),
              "Could not bind to port.");
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, milliseconds(250));
    EXPECT_LT(waited, milliseconds(5000));
}

TEST_F(ClientSocketTest, ReadingFromAClosedConnectionThrowsAndEmptiesTheString) {
    SourceScript script;
    script.behaviour = SourceBehaviour::kCloseAtOnce;
    LoopbackServer server(script);
    const ClientSocket client("127.0.0.1", server.source_port());
    std::string reply = "old";
    EXPECT_EQ(failure_of([&] { client >> reply; }), "Could not read from socket.");
    EXPECT_EQ(reply, "");
    char buffer[16];
    EXPECT_EQ(failure_of([&] { client.sread(buffer, sizeof buffer); }),
              "Could not read from socket.");
    std::string line;
    EXPECT_EQ(failure_of([&] { client.sgets(line, 10); }), "Could not read line from socket.");
}

TEST_F(ClientSocketTest, APeerThatNeverAnswersEndsTheReceiveInBoundedTime) {
    net_timeouts.receive = milliseconds(300);
    SourceScript script;
    script.behaviour = SourceBehaviour::kNeverAnswer;
    LoopbackServer server(script);
    const ClientSocket client("127.0.0.1", server.source_port());
    client << "swapthis"
           << "\r\n";
    const auto start = Clock::now();
    std::string reply;
    EXPECT_EQ(failure_of([&] { client >> reply; }), "Could not read from socket.");
    EXPECT_LT(Clock::now() - start, milliseconds(5000));
}

TEST_F(ClientSocketTest, SendingToAClosedPeerThrowsInsteadOfRaisingSigpipe) {
    // With the default disposition a SIGPIPE would end the test program.
    const auto previous = std::signal(SIGPIPE, SIG_DFL);
    SourceScript script;
    script.behaviour = SourceBehaviour::kNeverAnswer;
    script.close_after = 1000;
    LoopbackServer server(script);
    const ClientSocket client("127.0.0.1", server.source_port());
    const std::string block(4096, 'x');
    std::string failure;
    for (int attempt = 0; attempt < 1000 && failure.empty(); ++attempt) {
        failure = failure_of([&] { client.swrite(block.data(), block.size()); });
        std::this_thread::sleep_for(milliseconds(2));
    }
    std::signal(SIGPIPE, previous);
    EXPECT_EQ(failure, "Could not write to socket.");
    EXPECT_EQ(server.bytes(0), std::string(1000, 'x'));
}

TEST_F(ClientSocketTest, ASendThatMakesNoProgressGivesUp) {
    net_timeouts.send_progress = milliseconds(300);
    SourceScript script;
    script.behaviour = SourceBehaviour::kNeverAnswer;
    LoopbackServer server(script);
    server.set_reading(false);
    const ClientSocket client("127.0.0.1", server.source_port());
    // Far more than the socket buffers of both ends hold.
    const std::string block(64 * 1024 * 1024, 'x');
    const auto start = Clock::now();
    EXPECT_EQ(failure_of([&] { client.swrite(block.data(), block.size()); }),
              "Could not write to socket.");
    EXPECT_LT(Clock::now() - start, milliseconds(20000));
}

// Fires SIGALRM at one thread every millisecond, with a handler installed without SA_RESTART, so
// the blocking calls of that thread are interrupted again and again.
class SignalStorm {
  public:
    explicit SignalStorm(pthread_t target) {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        sigaction(SIGALRM, &action, &previous_);
        thread_ = std::thread([this, target] {
            while (!stop_) {
                pthread_kill(target, SIGALRM);
                std::this_thread::sleep_for(milliseconds(1));
            }
        });
    }
    ~SignalStorm() {
        stop_ = true;
        thread_.join();
        sigaction(SIGALRM, &previous_, nullptr);
    }
    SignalStorm(const SignalStorm&) = delete;
    SignalStorm& operator=(const SignalStorm&) = delete;

  private:
    struct sigaction previous_ {};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(ClientSocketTest, ASlowReaderReceivesEveryByteIntactDespiteSignals) {
    SourceScript script;
    script.behaviour = SourceBehaviour::kNeverAnswer;
    script.receive_buffer = 4096;
    script.read_size = 1500;
    script.read_pause = std::chrono::microseconds(100);
    LoopbackServer server(script);
    const std::string data = random_bytes(3 * 1024 * 1024);
    {
        const ClientSocket client("127.0.0.1", server.source_port());
        const SignalStorm storm(pthread_self());
        // Several sends of odd sizes, each far larger than the reader's buffer.
        size_t offset = 0;
        for (const size_t size : {size_t{1}, size_t{700000}, size_t{1234567}}) {
            EXPECT_TRUE(client.swrite(data.data() + offset, size));
            offset += size;
        }
        EXPECT_TRUE(client.swrite(data.data() + offset, data.size() - offset));
    }
    ASSERT_TRUE(server.wait_for_close(0, milliseconds(60000)));
    EXPECT_TRUE(server.bytes(0) == data) << "received " << server.bytes(0).size() << " bytes";
    EXPECT_GT(server.chunks(0).size(), 100u);  // it really arrived in small pieces
}

TEST(NetTimeoutsTest, DefaultsAreRestoredByTheReset) {
    net_timeouts.connect = milliseconds(1);
    net_timeouts.receive = milliseconds(1);
    net_timeouts.send_progress = milliseconds(1);
    net_timeouts.title_update = milliseconds(1);
    net_timeouts.early_reply = milliseconds(1);
    reset_net_timeouts();
    EXPECT_EQ(net_timeouts.connect, milliseconds(15000));
    EXPECT_EQ(net_timeouts.receive, milliseconds(15000));
    EXPECT_EQ(net_timeouts.send_progress, milliseconds(30000));
    EXPECT_EQ(net_timeouts.title_update, milliseconds(5000));
    EXPECT_EQ(net_timeouts.early_reply, milliseconds(2000));
}

// The default receive bound, measured for real (about 15 s).
TEST_F(ClientSocketTest, TheDefaultReceiveBoundIsAbout15Seconds) {
    SourceScript script;
    script.behaviour = SourceBehaviour::kNeverAnswer;
    LoopbackServer server(script);
    const ClientSocket client("127.0.0.1", server.source_port());
    const auto start = Clock::now();
    std::string reply;
    EXPECT_EQ(failure_of([&] { client >> reply; }), "Could not read from socket.");
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, milliseconds(14500));
    EXPECT_LT(waited, milliseconds(20000));
}

}  // namespace
}  // namespace tarnel::test
