#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "stream_figures.h"

namespace tarnel::bench {

// A stand-in for many streaming servers at once on 127.0.0.1, served by one background thread
// with epoll so that a hundred streams cost the measurement next to nothing. Each endpoint
// records, for every receive of its stream bytes, when they reached the socket (the kernel's
// wall-clock time stamp) and where they lie in its stream; bytes are discarded unless kept on
// request.
//
// A source endpoint behaves like the server Tarnel logs in to: titles on port P (each request
// answered with HTTP 200), the source on P + 1 (the password line is answered with "OK2"; the
// header block up to its empty line is not counted as stream bytes). A raw endpoint takes
// whatever a connection sends, all of it stream bytes.
class StreamSink {
  public:
    StreamSink();
    ~StreamSink();
    StreamSink(const StreamSink&) = delete;
    StreamSink& operator=(const StreamSink&) = delete;

    // Makes the sink speak TLS on the endpoints added with tls set, with this certificate chain
    // and key (PEM files); before those are added.
    void use_tls(const std::string& certificate, const std::string& key);

    // Endpoints are added before start(); each returns its number. A TLS source endpoint takes
    // both its connections in TLS; its records are decrypted as they come, and each arrival is
    // stamped with the time its encrypted bytes reached the socket.
    size_t add_source(bool tls = false);
    size_t add_raw(bool keep_bytes);
    // P for a source endpoint, the listening port for a raw one.
    int port(size_t endpoint) const;

    void start();
    // Stops and joins the thread; the recordings below are complete from then on.
    void stop();

    // Stream bytes received so far (also while running).
    std::uint64_t stream_bytes(size_t endpoint) const;
    // Title requests answered so far (also while running).
    size_t title_requests(size_t endpoint) const;

    const std::vector<Arrival>& arrivals(size_t endpoint) const;
    const std::string& kept_bytes(size_t endpoint) const;

  private:
    struct Endpoint;
    struct Connection;

    void run();
    void watch(int descriptor, void* owner);
    void accept_from(Endpoint& endpoint, int listener, bool titles);
    void receive(Connection& connection, const char* data, size_t length, std::int64_t stamp_ns);
    // Raw bytes of a TLS connection: into its TLS state, and what they decrypt to into receive.
    void receive_tls(Connection& connection, const char* data, size_t length,
                     std::int64_t stamp_ns);
    void reply(Connection& connection, const std::string& text);
    void close_connection(Connection& connection);

    struct TlsContext;
    std::unique_ptr<TlsContext> tls_;

    int epoll_ = -1;
    std::vector<std::unique_ptr<Endpoint>> endpoints_;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::vector<char> receive_buffer_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace tarnel::bench
