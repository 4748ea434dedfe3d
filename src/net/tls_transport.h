#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "net/client_socket.h"
#include "net/transport.h"

namespace tarnel {

// TLS over a connected ClientSocket. OpenSSL works on memory buffers and every byte goes through
// the ClientSocket, so its bounded waits, complete sends and MSG_NOSIGNAL hold for TLS too.
//
// The server's certificate chain is verified against a PEM file of trusted certificates, or the
// system's trust store when there is none, and its name against the host (SNI is sent for a
// name); TLS 1.2 is the oldest version taken. There is no way to turn verification off.
class TlsTransport final : public Transport {
  public:
    // Runs the handshake for host (a name, or an IPv4 or IPv6 address) over socket, trusting the
    // certificates of ca_file or, when it is empty, the system's store; gives up at
    // handshake_end. Throws SocketException with a "TLS: " text that says what failed.
    TlsTransport(ClientSocket socket, const std::string& host, const std::string& ca_file,
                 Clock::time_point handshake_end);

    // Encrypts and sends every byte, in records of at most 16 KiB.
    void write_all(const char* data, size_t length) override;
    std::string read_some() override;
    bool readable_within(std::chrono::milliseconds timeout) const override;
    void finish_unanswered() override;
    int wait_descriptor() const override { return socket_.descriptor(); }
    std::string read_available() override;

  private:
    struct SslFree {
        void operator()(SSL* ssl) const { SSL_free(ssl); }
    };

    void handshake();
    // Sends what TLS has written for the peer.
    void flush() const;
    // One receive from the socket into TLS; throws "Could not read from socket.".
    void fill() const;

    ClientSocket socket_;
    std::unique_ptr<SSL, SslFree> ssl_;  // owns both memory buffers below
    BIO* from_peer_ = nullptr;
    BIO* to_peer_ = nullptr;
};

}  // namespace tarnel
