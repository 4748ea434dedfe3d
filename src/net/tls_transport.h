#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <cstddef>
#include <exception>
#include <memory>
#include <string>

#include "net/client_socket.h"
#include "net/tls_context.h"
#include "net/transport.h"

namespace tarnel {

// TLS over a connected ClientSocket. OpenSSL reads from a memory buffer and writes each record
// straight through the ClientSocket: every byte goes through it, so its bounded waits, complete
// sends and MSG_NOSIGNAL hold for TLS too.
//
// The server's certificate chain is verified against the context's trusted certificates (a PEM
// file, or the system's trust store), and its name against the host (SNI is sent for a name);
// TLS 1.2 is the oldest version taken. There is no way to turn verification off. A session that
// the context kept for the host and port is offered, so the handshake can resume it.
class TlsTransport final : public Transport {
  public:
    // Runs the handshake for host (a name, or an IPv4 or IPv6 address) and port over socket,
    // with context; gives up at handshake_end. Throws SocketException with a "TLS: " text that
    // says what failed.
    TlsTransport(ClientSocket socket, const std::string& host, int port_number,
                 std::shared_ptr<TlsClientContext> context, Clock::time_point handshake_end);
    ~TlsTransport() override;
    TlsTransport(const TlsTransport&) = delete;
    TlsTransport& operator=(const TlsTransport&) = delete;

    // Encrypts and sends every byte, in records of at most 16 KiB.
    void write_all(const char* data, size_t length) override;
    std::string read_some() override;
    bool readable_within(std::chrono::milliseconds timeout) const override;
    void finish_unanswered() override;
    int wait_descriptor() const override { return socket_.descriptor(); }
    std::string read_available() override;
    void set_deadline(Clock::time_point deadline) override { socket_.set_deadline(deadline); }
    Clock::time_point deadline() const override { return socket_.deadline(); }

    // Whether the handshake resumed a session (tests).
    bool resumed() const { return SSL_session_reused(ssl_.get()) == 1; }

  private:
    struct SslFree {
        void operator()(SSL* ssl) const { SSL_free(ssl); }
    };

    void handshake();
    // The BIO that TLS writes to sends each record straight through the socket, without the copy
    // into a memory buffer (which OpenSSL also clears after each record) that reading needs.
    static BIO_METHOD* socket_writer_method();
    // Its write: sends all of data through the socket of the transport that is the BIO's data.
    static int write_to_socket(BIO* bio, const char* data, int length);
    // Throws the failure of a send that TLS made through the socket, if one failed.
    void throw_write_failure() const;
    // One receive from the socket into TLS; throws "Could not read from socket.".
    void fill() const;
    // One receive that is waiting already into TLS, without a word on a failure; false when the
    // peer closed or the receive failed.
    bool fill_quietly() const;
    // Notes a TLS protocol failure of an SSL call that returned result: its session must not be
    // resumed.
    void note_failure(int result) const;

    ClientSocket socket_;
    // Both outlive ssl_, which refers to them.
    std::shared_ptr<TlsClientContext> context_;
    std::string peer_;                   // "host:port", the key of the kept sessions
    std::unique_ptr<SSL, SslFree> ssl_;  // owns the memory buffer below and the socket writer
    BIO* from_peer_ = nullptr;
    mutable std::exception_ptr write_failure_;
    bool more_to_write_ = false;  // the record being written is not write_all's last
    mutable bool protocol_failed_ = false;
};

}  // namespace tarnel
