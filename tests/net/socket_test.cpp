#include "net/socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "config/strformat.h"
#include "support/console_capture.h"
#include "support/loopback_server.h"
#include "support/net_settings.h"

namespace tarnel::test {
namespace {

using std::chrono::milliseconds;

// A Socket logged in to a loopback server whose reply to the password is `reply`.
class SocketReplyTest : public ::testing::Test {
  protected:
    void connect_with_reply(const std::string& reply) {
        SourceScript script;
        script.ok_reply = reply;
        server_ = std::make_unique<LoopbackServer>(script);
        ASSERT_TRUE(socket_.create());
        ASSERT_TRUE(socket_.connect("127.0.0.1", server_->source_port()));
        ASSERT_TRUE(socket_.send("swapthis\r\n"));
        ASSERT_TRUE(socket_.readable_within(milliseconds(5000)));
        // Let the whole reply arrive before the first receive.
        std::this_thread::sleep_for(milliseconds(100));
    }

    ScopedNetSettings settings_;
    ConsoleCapture console_;
    std::unique_ptr<LoopbackServer> server_;
    Socket socket_;
};

TEST_F(SocketReplyTest, RecvTakesAtMost500BytesAtATime) {
    const std::string reply = std::string(500, 'a') + std::string(200, 'b');
    connect_with_reply(reply);
    std::string text;
    EXPECT_EQ(socket_.recv(text), 500);
    EXPECT_EQ(text, std::string(500, 'a'));
    EXPECT_EQ(socket_.recv(text), 200);
    EXPECT_EQ(text, std::string(200, 'b'));
}

TEST_F(SocketReplyTest, RecvCutsTheTextAtTheFirstNul) {
    connect_with_reply(std::string("OK2\0after", 9));
    std::string text = "old";
    EXPECT_EQ(socket_.recv(text), 9);
    EXPECT_EQ(text, "OK2");
}

TEST_F(SocketReplyTest, RecvOnAClosedConnectionGivesZeroAndAnEmptyString) {
    SourceScript script;
    script.behaviour = SourceBehaviour::kCloseAtOnce;
    LoopbackServer server(script);
    Socket socket;
    ASSERT_TRUE(socket.create());
    ASSERT_TRUE(socket.connect("127.0.0.1", server.source_port()));
    std::string text = "old";
    EXPECT_EQ(socket.recv(text), 0);
    EXPECT_EQ(text, "");
}

TEST_F(SocketReplyTest, RecvlnReadsLinesWithinTheLimit) {
    // A 6-byte line, a line of exactly 10 bytes, 11 bytes without a line end, then a short line.
    connect_with_reply("hello\n123456789\n0123456789XY\n");
    std::string line;
    EXPECT_EQ(socket_.recvln(line, 10), 1);
    EXPECT_EQ(line, "hello\n");
    EXPECT_EQ(socket_.recvln(line, 10), 1);
    EXPECT_EQ(line, "123456789\n");
    // The eleventh byte ("X") is over the limit: read and lost.
    EXPECT_EQ(socket_.recvln(line, 10), 0);
    EXPECT_EQ(line, "");
    EXPECT_EQ(socket_.recvln(line, 10), 1);
    EXPECT_EQ(line, "Y\n");
}

TEST_F(SocketReplyTest, BrecvZeroesTheBufferAndInbufferDoesNotConsume) {
    connect_with_reply("abc");
    EXPECT_TRUE(socket_.inbuffer());
    char buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), 'z');
    EXPECT_EQ(socket_.brecv(buffer, sizeof buffer), 3);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string("abc\0\0\0\0\0", 8));
}

TEST_F(SocketReplyTest, AReceiveThatNeverGetsAnAnswerGivesUpWithTheDiagnosticLine) {
    net_timeouts.receive = milliseconds(200);
    SourceScript script;
    script.behaviour = SourceBehaviour::kNeverAnswer;
    LoopbackServer server(script);
    Socket socket;
    ASSERT_TRUE(socket.create());
    ASSERT_TRUE(socket.connect("127.0.0.1", server.source_port()));
    const auto start = std::chrono::steady_clock::now();
    std::string text;
    EXPECT_EQ(socket.recv(text), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(3000));
    EXPECT_EQ(console_.text(),
              strformat("status == -1   errno == %d  in Socket::recv\n", ETIMEDOUT));
}

TEST(SocketTest, OperationsWithoutADescriptorFail) {
    ScopedNetSettings settings;
    Socket socket;
    EXPECT_FALSE(socket.is_open());
    EXPECT_FALSE(socket.connect("127.0.0.1", 1));
    EXPECT_FALSE(socket.send("x"));
    EXPECT_FALSE(socket.bind(0, "127.0.0.1"));
    EXPECT_FALSE(socket.listen());
}

TEST(SocketTest, MovingHandsOverTheDescriptorAndDestructionClosesIt) {
    ScopedNetSettings settings;
    SourceScript script;
    script.behaviour = SourceBehaviour::kNeverAnswer;
    LoopbackServer server(script);
    {
        Socket first;
        ASSERT_TRUE(first.create());
        ASSERT_TRUE(first.connect("127.0.0.1", server.source_port()));
        Socket second(std::move(first));
        EXPECT_FALSE(first.is_open());
        ASSERT_TRUE(second.send("after move"));
        ASSERT_TRUE(server.wait_for_bytes(0, 10, milliseconds(5000)));
        EXPECT_FALSE(server.closed_by_peer(0));
    }
    ASSERT_TRUE(server.wait_for_close(0, milliseconds(5000)));
    EXPECT_TRUE(server.closed_by_peer(0));
    EXPECT_EQ(server.bytes(0), "after move");
}

TEST(SocketTest, ServerSideBindListenAcceptOnLoopback) {
    ScopedNetSettings settings;
    // The first free port of a small range.
    int port = 40000;
    Socket listener;
    ASSERT_TRUE(listener.create());
    for (; port < 40100 && !listener.bind(port, "127.0.0.1"); ++port) {
    }
    ASSERT_LT(port, 40100);
    ASSERT_TRUE(listener.listen());

    Socket client;
    ASSERT_TRUE(client.create());
    ASSERT_TRUE(client.connect("127.0.0.1", port));
    Socket peer;
    ASSERT_TRUE(listener.accept(peer));
    ASSERT_TRUE(peer.send("from server"));
    std::string text;
    EXPECT_EQ(client.recv(text), 11);
    EXPECT_EQ(text, "from server");
}

}  // namespace
}  // namespace tarnel::test
