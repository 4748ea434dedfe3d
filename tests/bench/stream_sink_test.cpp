#include "stream_sink.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <string>

#include "net/transport.h"
#include "support/loopback_listener.h"
#include "support/process.h"
#include "support/test_pki.h"

namespace tarnel::bench {
namespace {

using test::connect_loopback;
using test::Descriptor;

void send_text(const Descriptor& connection, const std::string& text) {
    ASSERT_EQ(::send(connection.get(), text.data(), text.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(text.size()));
}

std::string receive_all(const Descriptor& connection) {
    std::string received;
    char buffer[256];
    for (ssize_t got; (got = ::recv(connection.get(), buffer, sizeof buffer, 0)) > 0;) {
        received.append(buffer, static_cast<size_t>(got));
        if (received.find("\r\n\r\n") != std::string::npos) {
            break;
        }
    }
    return received;
}

TEST(StreamSinkTest, SourceLoginTitlesAndRawStreams) {
    StreamSink sink;
    const size_t source = sink.add_source();
    const size_t raw = sink.add_raw(true);
    sink.start();

    // The login: the password line is answered, the header block is not counted.
    const Descriptor stream = connect_loopback(sink.port(source) + 1);
    ASSERT_NE(stream.get(), -1);
    send_text(stream, "swapthis\r\n");
    EXPECT_EQ(receive_all(stream), "OK2\r\nicy-caps:11\r\n\r\n");
    send_text(stream, "icy-name:x\r\nicy-reset:1\r\n\r\nNSVs");
    // Two arrivals: the second is sent only once the sink has taken the first.
    ASSERT_TRUE(test::wait_until([&] { return sink.stream_bytes(source) == 4; }, 5000));
    send_text(stream, "more");
    EXPECT_TRUE(test::wait_until([&] { return sink.stream_bytes(source) == 8; }, 5000));

    const Descriptor title = connect_loopback(sink.port(source));
    ASSERT_NE(title.get(), -1);
    send_text(title, "GET /admin.cgi?pass=swapthis&mode=updinfo&song=A HTTP/1.0\r\n\r\n");
    EXPECT_EQ(receive_all(title).rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
    EXPECT_EQ(sink.title_requests(source), 1u);

    const Descriptor pushed = connect_loopback(sink.port(raw));
    ASSERT_NE(pushed.get(), -1);
    send_text(pushed, "\x47raw bytes");
    EXPECT_TRUE(test::wait_until([&] { return sink.stream_bytes(raw) == 10; }, 5000));

    sink.stop();
    const auto& arrivals = sink.arrivals(source);
    ASSERT_EQ(arrivals.size(), 2u);
    EXPECT_EQ(arrivals[0].offset, 0u);
    EXPECT_EQ(arrivals[0].length, 4u);
    EXPECT_EQ(arrivals[1].offset, 4u);
    EXPECT_GT(arrivals[1].wall_ns, arrivals[0].wall_ns);
    EXPECT_TRUE(sink.kept_bytes(source).empty());
    EXPECT_EQ(sink.kept_bytes(raw), "\x47raw bytes");
}

// A TLS source endpoint: the same log-in and titles, in TLS; the stream bytes are counted and
// recorded as they decrypt.
TEST(StreamSinkTest, ATlsSourceSpeaksTheSameProtocolInTls) {
    const test::TestPki pki;
    const test::TestPki::Server certificate = pki.loopback_server();
    StreamSink sink;
    sink.use_tls(certificate.certificate, certificate.key);
    const size_t source = sink.add_source(true);
    sink.start();

    const auto connect_tls = [&](int port) {
        return tarnel::open_transport("127.0.0.1", port, true, pki.ca_file(),
                                      Transport::Clock::now() + std::chrono::seconds(10));
    };
    const std::unique_ptr<Transport> stream = connect_tls(sink.port(source) + 1);
    stream->write_text("swapthis\r\n");
    EXPECT_EQ(stream->read_some().rfind("OK2\r\n", 0), 0u);
    stream->write_text("icy-reset:1\r\n\r\nNSVs");
    EXPECT_TRUE(test::wait_until([&] { return sink.stream_bytes(source) == 4; }, 5000));

    const std::unique_ptr<Transport> title = connect_tls(sink.port(source));
    title->write_text("GET /admin.cgi?pass=swapthis&mode=updinfo&song=A HTTP/1.0\r\n\r\n");
    EXPECT_EQ(title->read_some().rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
    EXPECT_EQ(sink.title_requests(source), 1u);
    sink.stop();
    ASSERT_EQ(sink.arrivals(source).size(), 1u);
    EXPECT_EQ(sink.arrivals(source)[0].length, 4u);
}

}  // namespace
}  // namespace tarnel::bench
