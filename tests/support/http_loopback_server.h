#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_listener.h"
#include "support/test_pki.h"

namespace tarnel::test {

// How the server answers one request: the reply's pieces, piece_gap apart; then, with close, the
// connection is closed. No pieces and no close: the server never answers (and keeps reading).
struct HttpAnswer {
    std::vector<std::string> pieces;
    bool close = false;
};

struct HttpScript {
    // The n-th source request (any method but GET) gets the n-th answer; the last one repeats.
    std::vector<HttpAnswer> source_answers = {{{"HTTP/1.1 100 Continue\r\n\r\n"}, false}};
    // Every GET (title update) gets this one.
    HttpAnswer metadata_answer = {{"HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n"
                                   "<?xml version=\"1.0\"?>\n<iceresponse><message>Metadata "
                                   "update successful</message><return>1</return></iceresponse>\n"},
                                  true};
    std::chrono::milliseconds piece_gap{200};
    // A server that trickles: each answer goes out one byte at a time on the wire (over TLS, the
    // bytes of its encrypted records), piece_gap apart.
    bool trickle = false;
};

struct HttpServerOptions {
    bool ipv6 = false;  // listen on ::1 rather than 127.0.0.1
    // TLS with this certificate and key (PEM files) when both are given.
    std::string certificate;
    std::string key;
    // A busy server: it reads each request only this long after the handshake, through a receive
    // buffer of this many bytes (0: the system's). A longer request then waits in the client's
    // send queue, which the system drops if the client closes with answers unread (TLS session
    // tickets): the connection is reset and the request lost.
    std::chrono::milliseconds read_delay{0};
    int receive_buffer = 0;
    // A server that speaks TLS 1.2 at most (its sessions are resumed by session id or ticket,
    // rather than by TLS 1.3's tickets).
    bool tls12_only = false;
};

// Options for a TLS server that presents this certificate.
HttpServerOptions tls_server_options(const TestPki::Server& certificate);

// A stand-in for Icecast's HTTP port, run by background threads of the test process: it records
// each connection's request head and the bytes that follow it, and answers as scripted. The
// destructor stops and joins every thread.
class HttpLoopbackServer {
  public:
    using Millis = std::chrono::milliseconds;

    // One connection: its request head (up to and including the empty line; empty when none
    // came, a failed TLS handshake for example), the bytes after it, and whether it has ended.
    struct Exchange {
        std::string head;
        std::string body;
        bool closed = false;
    };

    explicit HttpLoopbackServer(HttpScript script = {}, HttpServerOptions options = {});
    ~HttpLoopbackServer();
    HttpLoopbackServer(const HttpLoopbackServer&) = delete;
    HttpLoopbackServer& operator=(const HttpLoopbackServer&) = delete;

    int port() const { return port_; }
    std::string port_text() const { return std::to_string(port_); }

    std::vector<Exchange> exchanges() const;
    // Until count connections have sent a whole request head.
    bool wait_for_heads(size_t count, Millis timeout) const;
    bool wait_for_body(size_t exchange, size_t bytes, Millis timeout) const;
    bool wait_for_close(size_t exchange, Millis timeout) const;
    // Until count connections were accepted.
    bool wait_for_connections(size_t count, Millis timeout) const;

  private:
    struct Tls;
    class Channel;

    void run_listener();
    void serve(Descriptor connection, size_t index);
    template <typename Predicate>
    bool wait(Millis timeout, Predicate predicate) const;

    HttpScript script_;
    std::chrono::milliseconds read_delay_;
    std::unique_ptr<Tls> tls_;
    Descriptor listener_;
    int port_ = 0;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Exchange> exchanges_;
    size_t source_requests_ = 0;
    std::vector<std::thread> workers_;
    std::atomic<bool> stopping_{false};
    std::thread listener_thread_;
};

}  // namespace tarnel::test
