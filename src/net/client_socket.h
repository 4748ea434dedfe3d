#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "net/socket.h"
#include "net/transport.h"

namespace tarnel {

// A connected TCP client that turns every failure of the socket layer into a SocketException
// with a fixed text. Move-only; destruction closes the connection. As a Transport it is the
// plain (not encrypted) connection.
class ClientSocket : private Socket, public Transport {
  public:
    using Clock = std::chrono::steady_clock;

    // An unconnected object (no descriptor).
    ClientSocket() = default;
    // Creates and connects; throws "Could not create client socket." or "Could not bind to
    // port." (every failed connection, name lookup included).
    ClientSocket(std::string host, int port);
    // The same, with an overall deadline for the connection attempt and every later wait.
    ClientSocket(std::string host, int port, Clock::time_point deadline);
    ~ClientSocket() override = default;
    ClientSocket(ClientSocket&&) noexcept = default;
    ClientSocket& operator=(ClientSocket&&) noexcept = default;

    // Sends the whole string; throws "Could not write to socket.".
    const ClientSocket& operator<<(const std::string& text) const;
    // One receive of at most 500 bytes replaces text; throws "Could not read from socket." when
    // the peer closed, the receive failed or nothing arrived in time.
    const ClientSocket& operator>>(std::string& text) const;
    // Sends every byte; throws "Could not write to socket.". more: as for Socket::bsend.
    bool swrite(const char* data, size_t length, bool more = false) const;
    // One receive into buffer; throws "Could not read from socket." when nothing came.
    int sread(char* buffer, size_t length) const;
    // One line of at most limit bytes; throws "Could not read line from socket.".
    void sgets(std::string& line, int limit) const;
    bool inbuffer() const { return Socket::inbuffer(); }

    // Whether bytes (or a close) arrive within timeout, without consuming them.
    bool readable_within(std::chrono::milliseconds timeout) const override {
        return Socket::readable_within(timeout);
    }

    // The Transport: swrite, and one sread of at most 500 bytes, every byte of it.
    void write_all(const char* data, size_t length) override { swrite(data, length); }
    std::string read_some() override;
    int wait_descriptor() const override { return Socket::descriptor(); }
    std::string read_available() override;

    void set_deadline(Clock::time_point deadline) override { Socket::set_deadline(deadline); }
    Clock::time_point deadline() const override { return Socket::deadline(); }

    // For a layer that runs its own protocol over this connection (TLS): the descriptor stays
    // owned here, and the deadline bounds every later wait.
    using Socket::descriptor;
    using Socket::receive_timed_out;
};

}  // namespace tarnel
