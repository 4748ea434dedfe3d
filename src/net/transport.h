#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace tarnel {

// A connected byte stream to the streaming server: a plain TCP connection (ClientSocket) or TLS
// over one (TlsTransport). The protocols, the source log-ins and the title updates, are written
// against this alone, so each runs over either. Every failure throws SocketException with a
// fixed text.
class Transport {
  public:
    using Clock = std::chrono::steady_clock;

    virtual ~Transport() = default;

    // Sends every byte; throws "Could not write to socket.".
    virtual void write_all(const char* data, size_t length) = 0;
    // One receive of at most 500 bytes, every byte of it: a NUL byte in a reply makes the reply
    // malformed, so the bytes after it are not dropped. Throws "Could not read from socket." when
    // the peer closed, the receive failed or nothing arrived in time.
    virtual std::string read_some() = 0;
    // Whether bytes (or a close) arrive within timeout, without consuming them.
    virtual bool readable_within(std::chrono::milliseconds timeout) const = 0;

    // The connection's descriptor, for a wait that watches it: readable when the peer has sent
    // something or closed.
    virtual int wait_descriptor() const = 0;
    // What the peer has sent, without waiting: the bytes that have arrived, cut at nothing
    // (empty when none did, or when only TLS records without data came); throws "Could not read
    // from socket." when the peer has closed or the connection failed.
    virtual std::string read_available() = 0;

    // An overall end for every later wait on the connection (sends, receives, TLS records);
    // Clock::time_point::max() for none. A step with a limit of its own sets it with StepDeadline.
    virtual void set_deadline(Clock::time_point deadline) = 0;
    virtual Clock::time_point deadline() const = 0;

    void write_text(const std::string& text) { write_all(text.data(), text.size()); }

    // Ends a request whose answer is not read, so that all of it reaches the server. A plain
    // connection is simply closed when the object goes (nothing to do here). Over TLS the server
    // sends records of its own after the handshake (session tickets): a connection closed with
    // them unread is reset by the system, and the server can lose the request with it. TLS
    // therefore says it is done, stops sending, and reads until the server closes or the
    // connection's deadline passes.
    virtual void finish_unanswered() {}

  protected:
    Transport() = default;
    Transport(const Transport&) = default;
    Transport(Transport&&) = default;
    Transport& operator=(const Transport&) = default;
    Transport& operator=(Transport&&) = default;
};

// Bounds a whole step on a connection (a reply that must come complete within a limit, however
// slowly its bytes trickle in): every wait ends at limit from now, or at the connection's own
// deadline if that is sooner, until the object goes and puts the former deadline back.
class StepDeadline {
  public:
    StepDeadline(Transport& connection, std::chrono::milliseconds limit)
        : connection_(connection), former_(connection.deadline()) {
        connection.set_deadline(std::min(former_, Transport::Clock::now() + limit));
    }
    ~StepDeadline() { connection_.set_deadline(former_); }
    StepDeadline(const StepDeadline&) = delete;
    StepDeadline& operator=(const StepDeadline&) = delete;

  private:
    Transport& connection_;
    Transport::Clock::time_point former_;
};

// Connects to host and port and, with use_tls, runs the TLS handshake (with the process's TLS
// context for the settings' TLSCAFile, see tls_context.h) within the connection time-out. Every
// later wait also ends at deadline. Throws SocketException: the connection's texts, or the TLS
// failure's.
std::unique_ptr<Transport> open_transport(
    const std::string& host, int port_number, bool use_tls,
    Transport::Clock::time_point deadline = Transport::Clock::time_point::max());
// The same, trusting the certificates of ca_file (the system's store when it is empty) instead
// of the TLSCAFile setting, for work that must not read the settings (a thread of its own).
std::unique_ptr<Transport> open_transport(const std::string& host, int port_number, bool use_tls,
                                          const std::string& ca_file,
                                          Transport::Clock::time_point deadline);

}  // namespace tarnel
