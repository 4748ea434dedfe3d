#include "net/tls_transport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "config/settings.h"
#include "net/http_client.h"
#include "net/net_timeouts.h"
#include "net/socket_exception.h"
#include "support/console_capture.h"
#include "support/http_loopback_server.h"
#include "support/net_settings.h"
#include "support/socket_failure.h"
#include "support/test_pki.h"
#include "support/trickle_server.h"

namespace tarnel::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// The test authority, and one that the tests never trust; made once for all tests.
const TestPki& pki() {
    static const TestPki made;
    return made;
}
const TestPki& other_pki() {
    static const TestPki made("Some Other CA");
    return made;
}

class TlsTransportTest : public ::testing::Test {
  protected:
    ScopedNetSettings settings_;
    ConsoleCapture console_;
};

TEST_F(TlsTransportTest, AVerifiedServerGetsEveryByteAndItsAnswerIsRead) {
    const HttpLoopbackServer server({}, tls_server_options(pki().loopback_server()));
    tls_ca_file = pki().ca_file();
    for (const char* host : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host);
        std::unique_ptr<Transport> connection = open_transport(host, server.port(), true);
        connection->write_text("GET /admin/metadata HTTP/1.0\r\n\r\n");
        const HttpReply reply = read_http_reply(*connection);
        EXPECT_EQ(reply.state, HttpReply::State::kComplete);
        EXPECT_EQ(reply.status, 200);
    }

    // A large body in many records, through a server that reads it as it comes.
    std::mt19937 random(7);
    std::string body(1 << 20, '\0');
    for (char& byte : body) {
        byte = static_cast<char>(random() & 0xFF);
    }
    const HttpLoopbackServer sink({}, tls_server_options(pki().loopback_server()));
    {
        std::unique_ptr<Transport> connection = open_transport("127.0.0.1", sink.port(), true);
        connection->write_text("PUT /m HTTP/1.1\r\n\r\n");
        EXPECT_EQ(read_http_reply(*connection).status, 100);
        connection->write_all(body.data(), body.size());
        ASSERT_TRUE(sink.wait_for_body(0, body.size(), milliseconds(10000)));
    }
    EXPECT_TRUE(sink.exchanges()[0].body == body);
}

TEST_F(TlsTransportTest, AnIpv6ServerIsVerifiedByItsAddress) {
    HttpServerOptions options = tls_server_options(pki().loopback_server());
    options.ipv6 = true;
    const HttpLoopbackServer server({}, options);
    tls_ca_file = pki().ca_file();
    for (const char* host : {"::1", "[::1]"}) {
        std::unique_ptr<Transport> connection = open_transport(host, server.port(), true);
        connection->write_text("GET / HTTP/1.0\r\n\r\n");
        EXPECT_EQ(read_http_reply(*connection).status, 200) << host;
    }
}

TEST_F(TlsTransportTest, EachCertificateFaultIsRefusedWithItsOwnText) {
    struct Case {
        const char* name;
        TestPki::Server certificate;
        std::string trusted;
        const char* failure;
    };
    const std::vector<Case> cases = {
        {"signed by another authority", other_pki().loopback_server(), pki().ca_file(),
         "TLS: the server's certificate is not trusted."},
        {"for another host name", pki().issue("elsewhere", {"DNS:stream.example.org"}),
         pki().ca_file(), "TLS: the server's certificate is not for this host name."},
        {"expired", pki().issue("expired", {"IP:127.0.0.1"}, -7200, -3600), pki().ca_file(),
         "TLS: the server's certificate has expired."},
        {"not valid yet", pki().issue("future", {"IP:127.0.0.1"}, 3600, 7200), pki().ca_file(),
         "TLS: the server's certificate is not valid yet."},
        {"no trust store file", pki().loopback_server(), "/nonexistent/ca.pem",
         "TLS: the certificates of TLSCAFile could not be read."},
        // Without TLSCAFile the system's store is used, which knows nothing of the test CA.
        {"the system's store", pki().loopback_server(), "",
         "TLS: the server's certificate is not trusted."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const HttpLoopbackServer server({}, tls_server_options(c.certificate));
        tls_ca_file = c.trusted;
        EXPECT_EQ(failure_of([&] { open_transport("127.0.0.1", server.port(), true); }), c.failure);
        // The name is checked for a name too, not only for an address.
        if (std::string(c.name) == "for another host name") {
            EXPECT_EQ(failure_of([&] { open_transport("localhost", server.port(), true); }),
                      c.failure);
        }
    }
}

// A server that answers with something else than TLS, or closes, fails the handshake at once. One
// that stalls (a plain port waiting for the rest of a request, a frozen process) or trickles is
// given up at the connection limit, however its bytes come, and says so.
TEST_F(TlsTransportTest, AHandshakeThatTimesOutIsToldApartFromOneThatFails) {
    net_timeouts.connect = milliseconds(600);
    tls_ca_file = pki().ca_file();
    // A plain HTTP server takes the ClientHello for the start of a request and waits for the
    // rest of it.
    HttpScript silent;
    silent.source_answers = {{{}, false}};
    const HttpLoopbackServer plain(silent);
    const TrickleServer plain_answer("HTTP/1.0 400 Bad Request\r\n\r\n", milliseconds(0), true);
    const TrickleServer closes("", milliseconds(0), true);
    // The header of a 16 KiB handshake record, then its bytes one every 20 ms.
    const TrickleServer trickles(std::string("\x16\x03\x03\x40\x00", 5) + std::string(500, 'x'),
                                 milliseconds(20));
    constexpr const char* kFailed =
        "TLS: handshake failed; the server may not speak TLS on this port.";
    constexpr const char* kTimedOut =
        "TLS: handshake timed out; the server did not complete it in time.";
    struct Case {
        const char* name;
        int port;
        const char* failure;
        bool waits;  // for the connection limit
    };
    const std::vector<Case> cases = {
        {"a plain server waiting for a request", plain.port(), kTimedOut, true},
        {"a plain answer", plain_answer.port(), kFailed, false},
        {"a close", closes.port(), kFailed, false},
        {"a trickled record", trickles.port(), kTimedOut, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = Clock::now();
        EXPECT_EQ(failure_of([&] { open_transport("127.0.0.1", c.port, true); }), c.failure);
        const auto waited = Clock::now() - start;
        if (c.waits) {
            EXPECT_GE(waited, milliseconds(500));
        }
        EXPECT_LT(waited, milliseconds(5000));
    }
}

TEST_F(TlsTransportTest, SendingToAClosedPeerThrowsInsteadOfRaisingSigpipe) {
    HttpScript closes;
    closes.source_answers = {{{"HTTP/1.1 100 Continue\r\n\r\n"}, true}};
    const HttpLoopbackServer server(closes, tls_server_options(pki().loopback_server()));
    tls_ca_file = pki().ca_file();
    std::unique_ptr<Transport> connection = open_transport("127.0.0.1", server.port(), true);
    connection->write_text("PUT /m HTTP/1.1\r\n\r\n");
    EXPECT_EQ(read_http_reply(*connection).status, 100);
    ASSERT_TRUE(server.wait_for_close(0, milliseconds(5000)));
    const std::string second(64 * 1024, 'x');
    EXPECT_EQ(failure_of([&] {
                  for (int i = 0; i < 200; ++i) {
                      connection->write_all(second.data(), second.size());
                  }
              }),
              "Could not write to socket.");
    EXPECT_EQ(failure_of([&] { connection->read_some(); }), "Could not read from socket.");
}

}  // namespace
}  // namespace tarnel::test
