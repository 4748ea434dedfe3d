#include "net/tls_transport.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "net/net_timeouts.h"
#include "net/socket.h"
#include "net/socket_exception.h"
#include "net/tls_messages.h"

namespace tarnel {

namespace {

// The largest TLS record's payload: each send goes out once it is encrypted, so the memory
// buffer never holds more than one record.
constexpr size_t kRecordBytes = 16 * 1024;

// What a failed certificate check means for the operator, as one fixed text per kind of fault.
const char* verification_failure(long result) {
    switch (result) {
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return "TLS: the server's certificate is not for this host name.";
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return "TLS: the server's certificate has expired.";
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return "TLS: the server's certificate is not valid yet.";
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_UNTRUSTED:
            return "TLS: the server's certificate is not trusted.";
        default:
            return "TLS: the server's certificate was refused.";
    }
}

bool is_address(const std::string& host) {
    in6_addr address{};
    return inet_pton(AF_INET, host.c_str(), &address) == 1 ||
           inet_pton(AF_INET6, host.c_str(), &address) == 1;
}

}  // namespace

TlsTransport::TlsTransport(ClientSocket socket, const std::string& host, int port_number,
                           std::shared_ptr<TlsClientContext> context,
                           Clock::time_point handshake_end)
    : socket_(std::move(socket)), context_(std::move(context)) {
    ERR_clear_error();
    ssl_.reset(SSL_new(context_->get()));
    from_peer_ = BIO_new(BIO_s_mem());
    BIO_METHOD* const writer = socket_writer_method();
    BIO* const to_peer = writer == nullptr ? nullptr : BIO_new(writer);
    if (!ssl_ || from_peer_ == nullptr || to_peer == nullptr) {
        BIO_free(from_peer_);
        BIO_free(to_peer);
        throw SocketException(kTlsHandshakeFailed);
    }
    BIO_set_data(to_peer, this);
    BIO_set_init(to_peer, 1);
    SSL_set_bio(ssl_.get(), from_peer_, to_peer);  // the SSL object owns both from here
    // An empty buffer is "try again later" until the socket says the peer closed.
    BIO_set_mem_eof_return(from_peer_, -1);

    const std::string name = host.size() > 2 && host.front() == '[' && host.back() == ']'
                                 ? host.substr(1, host.size() - 2)
                                 : host;
    const bool names_set =
        is_address(name)
            ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_.get()), name.c_str()) == 1
            : SSL_set_tlsext_host_name(ssl_.get(), name.c_str()) == 1 &&
                  SSL_set1_host(ssl_.get(), name.c_str()) == 1;
    if (!names_set) {
        throw SocketException(kTlsHandshakeFailed);
    }
    SSL_set_hostflags(ssl_.get(), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    SSL_set_connect_state(ssl_.get());
    peer_ = name + ":" + std::to_string(port_number);
    context_->prepare(ssl_.get(), &peer_);

    const Clock::time_point later_deadline = socket_.deadline();
    socket_.set_deadline(std::min(later_deadline, handshake_end));
    handshake();
    socket_.set_deadline(later_deadline);
}

TlsTransport::~TlsTransport() {
    // OpenSSL forgets the session of a connection freed without a close_notify sent, since a
    // fatal alert may have ended it. Most connections here end so (the source connection breaks,
    // a title update is done once its answer is read), and their sessions are good: only one
    // that met a TLS protocol failure is forgotten. Nothing is sent.
    if (ssl_ && SSL_is_init_finished(ssl_.get()) == 1 && !protocol_failed_) {
        SSL_set_shutdown(ssl_.get(), SSL_get_shutdown(ssl_.get()) | SSL_SENT_SHUTDOWN);
    }
}

void TlsTransport::note_failure(int result) const {
    if (SSL_get_error(ssl_.get(), result) == SSL_ERROR_SSL) {
        protocol_failed_ = true;
    }
}

void TlsTransport::handshake() {
    for (;;) {
        ERR_clear_error();
        const int result = SSL_do_handshake(ssl_.get());
        const int error = SSL_get_error(ssl_.get(), result);
        try {
            throw_write_failure();  // of the next flight, or of the alert that says why we stop
            if (result == 1) {
                return;
            }
            if (error == SSL_ERROR_WANT_READ) {
                fill();
                continue;
            }
        } catch (const SocketException&) {
            // A server that stalls (a frozen process, a firewall that drops) is told apart from
            // one that answers with something else than TLS.
            throw SocketException(socket_.receive_timed_out() ? kTlsHandshakeTimedOut
                                                              : kTlsHandshakeFailed);
        }
        const long verified = SSL_get_verify_result(ssl_.get());
        throw SocketException(verified != X509_V_OK ? verification_failure(verified)
                                                    : kTlsHandshakeFailed);
    }
}

// Made once; it lives as long as the process, as OpenSSL's own methods do.
BIO_METHOD* TlsTransport::socket_writer_method() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* made =
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tarnel socket writer");
        if (made != nullptr) {
            BIO_meth_set_write(made, write_to_socket);
            // A flush has nothing to do: every write was sent whole.
            BIO_meth_set_ctrl(made, [](BIO*, int command, long, void*) -> long {
                return command == BIO_CTRL_FLUSH ? 1 : 0;
            });
        }
        return made;
    }();
    return method;
}

int TlsTransport::write_to_socket(BIO* bio, const char* data, int length) {
    const auto* const self = static_cast<const TlsTransport*>(BIO_get_data(bio));
    if (self->write_failure_ || length < 0) {
        return -1;  // a connection that failed a send stays failed
    }
    try {
        self->socket_.swrite(data, static_cast<size_t>(length), self->more_to_write_);
    } catch (...) {
        // Kept for the caller of the SSL function to throw: no exception may pass through
        // OpenSSL's C code.
        self->write_failure_ = std::current_exception();
        return -1;
    }
    return length;
}

void TlsTransport::throw_write_failure() const {
    if (write_failure_) {
        std::rethrow_exception(write_failure_);
    }
}

void TlsTransport::fill() const {
    char buffer[kRecordBytes];
    const int received = socket_.sread(buffer, sizeof buffer);
    if (BIO_write(from_peer_, buffer, received) != received) {
        throw SocketException("Could not read from socket.");
    }
}

bool TlsTransport::fill_quietly() const {
    char buffer[kRecordBytes];
    for (;;) {
        const ssize_t got = ::recv(socket_.descriptor(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return got > 0 && BIO_write(from_peer_, buffer, static_cast<int>(got)) == got;
    }
}

void TlsTransport::write_all(const char* data, size_t length) {
    size_t sent = 0;
    while (sent < length) {
        const int piece = static_cast<int>(std::min(length - sent, kRecordBytes));
        ERR_clear_error();
        // The records of one call leave together: the kernel holds each back until the last
        // (one transmission for several records instead of one each).
        more_to_write_ = sent + static_cast<size_t>(piece) < length;
        const int written = SSL_write(ssl_.get(), data + sent, piece);
        more_to_write_ = false;
        throw_write_failure();
        if (written <= 0) {
            note_failure(written);
            throw SocketException("Could not write to socket.");
        }
        sent += static_cast<size_t>(written);
    }
}

std::string TlsTransport::read_some() {
    char buffer[Socket::kMaxReceive];
    for (;;) {
        ERR_clear_error();
        const int received = SSL_read(ssl_.get(), buffer, sizeof buffer);
        if (received > 0) {
            throw_write_failure();  // of what reading may have answered (a key update)
            return std::string(buffer, static_cast<size_t>(received));
        }
        if (SSL_get_error(ssl_.get(), received) != SSL_ERROR_WANT_READ) {
            note_failure(received);
            throw SocketException("Could not read from socket.");
        }
        fill();
    }
}

void TlsTransport::finish_unanswered() {
    ERR_clear_error();
    SSL_shutdown(ssl_.get());  // the close_notify alert
    if (write_failure_) {
        return;  // the connection is gone already
    }
    ::shutdown(socket_.descriptor(), SHUT_WR);
    // What the server still sends is read until it closes (or resets: a server may close with the
    // close_notify unread), or the connection's deadline passes. Through TLS first, so that the
    // session tickets among it are kept for the next connection; the rest is dropped unread.
    char buffer[kRecordBytes];
    for (;;) {
        ERR_clear_error();
        const int received = SSL_read(ssl_.get(), buffer, sizeof buffer);
        if (received > 0) {
            continue;  // the server's answer: not looked at
        }
        if (SSL_get_error(ssl_.get(), received) != SSL_ERROR_WANT_READ) {
            note_failure(received);
            break;  // the server's close_notify, or bytes that are not TLS
        }
        if (!socket_.readable_within(net_timeouts.receive) || !fill_quietly()) {
            return;
        }
    }
    while (socket_.readable_within(net_timeouts.receive)) {
        const ssize_t got = ::recv(socket_.descriptor(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            return;
        }
    }
}

std::string TlsTransport::read_available() {
    // What the socket holds now, into TLS; a close is reported once the records before it are
    // read.
    char raw[kRecordBytes];
    const ssize_t got = ::recv(socket_.descriptor(), raw, sizeof raw, MSG_DONTWAIT);
    bool closed =
        got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
    if (got > 0 && BIO_write(from_peer_, raw, static_cast<int>(got)) != got) {
        throw SocketException("Could not read from socket.");
    }
    std::string text;
    char buffer[Socket::kMaxReceive];
    for (;;) {
        ERR_clear_error();
        const int received = SSL_read(ssl_.get(), buffer, sizeof buffer);
        if (received > 0) {
            text.append(buffer, static_cast<size_t>(received));
            continue;
        }
        if (SSL_get_error(ssl_.get(), received) != SSL_ERROR_WANT_READ) {
            note_failure(received);
            closed = true;  // the server's close_notify, or a broken record
        }
        break;
    }
    throw_write_failure();  // of what reading may have answered (a key update)
    if (closed && text.empty()) {
        throw SocketException("Could not read from socket.");
    }
    return text;
}

bool TlsTransport::readable_within(std::chrono::milliseconds timeout) const {
    const Clock::time_point end = Clock::now() + timeout;
    for (;;) {
        char byte = 0;
        ERR_clear_error();
        const int peeked = SSL_peek(ssl_.get(), &byte, 1);
        if (peeked > 0 || SSL_get_error(ssl_.get(), peeked) != SSL_ERROR_WANT_READ) {
            note_failure(peeked);
            return true;  // data, or a close or failure that the next read reports
        }
        // Records that carry no data (session tickets) are read and the wait goes on.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0 || !socket_.readable_within(left)) {
            return false;
        }
        try {
            fill();
        } catch (const SocketException&) {
            return true;  // closed: the next read reports it
        }
    }
}

}  // namespace tarnel
