#pragma once

#include <openssl/ssl.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "net/tls_trust.h"

namespace tarnel {

// The TLS client context that every connection of the process shares: the source connection and
// each title update. Making a context and loading a trust store costs far more than a connection
// (the system's bundle is about 140 certificates, parsed whole), so it is done once, and again
// only when TLSCAFile= names another file or its file was replaced.
//
// Trust: the certificates of TLSCAFile=, or the system's store (see trust_system_store): its hashed
// certificate directory is looked up on demand, for the issuers a server's chain names, and a
// bundle file is read once into an index of which only the certificates a chain names are
// decoded. Verification is the same for every connection: the chain, the host name, TLS 1.2 or
// later, no renegotiation.
//
// Sessions: each session a server hands out (a TLS 1.3 ticket, or a TLS 1.2 session) is kept for
// its host and port, and the next connection there offers it, so a title update resumes the
// session instead of running the whole handshake and checking the chain again. A TLS 1.3 ticket
// is offered once; the resumed connection brings the next.
//
// Thread safety: the context is complete before it is shared; OpenSSL's SSL_CTX is safe for
// SSL_new from several threads, and the kept sessions are guarded by a mutex, so connections may
// be opened from two threads at once.
class TlsClientContext {
  public:
    // Sets the context up; throws SocketException "TLS: the certificates of TLSCAFile could not
    // be read." when the trusted certificates cannot be loaded.
    explicit TlsClientContext(const std::string& ca_file);
    ~TlsClientContext();
    TlsClientContext(const TlsClientContext&) = delete;
    TlsClientContext& operator=(const TlsClientContext&) = delete;

    SSL_CTX* get() const { return context_.get(); }

    // Prepares ssl (made from this context) for a connection to peer ("host:port"): the session
    // kept for peer, if any, is offered, and the sessions the server hands out on this connection
    // are kept for peer. peer must stay valid as long as ssl.
    void prepare(SSL* ssl, const std::string* peer);

    // The number of sessions kept, and whether one is kept for peer (tests).
    size_t kept_sessions() const;
    bool has_session(const std::string& peer) const;

  private:
    struct ContextFree {
        void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
    };
    struct SessionFree {
        void operator()(SSL_SESSION* session) const { SSL_SESSION_free(session); }
    };
    using Session = std::unique_ptr<SSL_SESSION, SessionFree>;

    static int on_new_session(SSL* ssl, SSL_SESSION* session);
    void keep(const std::string& peer, Session session);

    // The index of the system's bundle, when the trust uses one: the context's store looks it
    // up, so it goes after the context.
    std::unique_ptr<BundleIndex> bundle_index_;
    std::unique_ptr<SSL_CTX, ContextFree> context_;
    mutable std::mutex sessions_mutex_;
    std::map<std::string, Session> sessions_;
};

// The process's context for the trust that ca_file names (empty: the system's store): made at
// the first call, and made again when ca_file differs from the last call's or its file was
// replaced (another inode, size or modification time). A connection holds the context it started
// with, so a reload never pulls one from under it. Safe to call from several threads. Throws as
// the constructor does.
std::shared_ptr<TlsClientContext> tls_client_context(const std::string& ca_file);

// Forgets the process's context (tests).
void reset_tls_client_context();

}  // namespace tarnel
