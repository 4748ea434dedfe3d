#include "net/tls_context.h"

#include <openssl/err.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <tuple>
#include <utility>

#include "net/socket_exception.h"
#include "net/tls_messages.h"
#include "net/tls_trust.h"

namespace tarnel {

namespace {

// Peers whose sessions are kept: the source port, the base port, and a few more after changes of
// Server= or Port=; beyond it one is forgotten for each new one.
constexpr size_t kMostKeptSessions = 8;

// What tells a replaced TLSCAFile from the one a context was made from.
struct FileIdentity {
    bool found = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long modified_seconds = 0;
    long modified_nanoseconds = 0;

    bool operator==(const FileIdentity& other) const {
        return std::tie(found, device, inode, size, modified_seconds, modified_nanoseconds) ==
               std::tie(other.found, other.device, other.inode, other.size, other.modified_seconds,
                        other.modified_nanoseconds);
    }
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

FileIdentity identity_of(const std::string& path) {
    FileIdentity identity;
    struct stat info {};
    if (!path.empty() && stat(path.c_str(), &info) == 0) {
        identity = {true,         info.st_dev,         info.st_ino,
                    info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
    }
    return identity;
}

// The process's context and what it was made from.
struct ProcessContext {
    // OpenSSL is set up before this object is complete, so that its clean-up at exit runs after
    // this object's destructor has freed the context.
    ProcessContext() { OPENSSL_init_ssl(0, nullptr); }

    std::mutex mutex;
    std::string ca_file;
    FileIdentity identity;
    std::shared_ptr<TlsClientContext> context;
};

ProcessContext& process_context() {
    static ProcessContext instance;
    return instance;
}

}  // namespace

TlsClientContext::TlsClientContext(const std::string& ca_file) {
    ERR_clear_error();
    context_.reset(SSL_CTX_new(TLS_client_method()));
    // TLS 1.3's ciphers in the order of Mozilla's recommended configurations: AES-128-GCM first,
    // which a server that follows the client's order picks, encrypts every second of the stream
    // with 10 rounds where AES-256 takes 14.
    if (!context_ || SSL_CTX_set_min_proto_version(context_.get(), TLS1_2_VERSION) != 1 ||
        SSL_CTX_set_ciphersuites(context_.get(),
                                 "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:"
                                 "TLS_CHACHA20_POLY1305_SHA256") != 1) {
        throw SocketException(kTlsHandshakeFailed);
    }
    SSL_CTX_set_verify(context_.get(), SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_options(context_.get(), SSL_OP_NO_RENEGOTIATION);
    const bool trusted =
        ca_file.empty()
            ? trust_system_store(SSL_CTX_get_cert_store(context_.get()), bundle_index_)
            : SSL_CTX_load_verify_locations(context_.get(), ca_file.c_str(), nullptr) == 1;
    ERR_clear_error();
    if (!trusted) {
        throw SocketException(kTlsCaFileUnreadable);
    }
    // Sessions are kept here, by peer, rather than in OpenSSL's cache, which a client does not
    // look up by itself.
    SSL_CTX_set_session_cache_mode(context_.get(),
                                   SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(context_.get(), on_new_session);
    SSL_CTX_set_app_data(context_.get(), this);
}

TlsClientContext::~TlsClientContext() = default;

void TlsClientContext::prepare(SSL* ssl, const std::string* peer) {
    SSL_set_app_data(ssl, const_cast<std::string*>(peer));
    Session offered;
    {
        const std::lock_guard<std::mutex> lock(sessions_mutex_);
        const auto found = sessions_.find(*peer);
        if (found != sessions_.end()) {
            if (SSL_SESSION_get_protocol_version(found->second.get()) == TLS1_3_VERSION) {
                // A ticket is offered once: a server may refuse one it has seen.
                offered = std::move(found->second);
                sessions_.erase(found);
            } else if (SSL_SESSION_up_ref(found->second.get()) == 1) {
                offered.reset(found->second.get());
            }
        }
    }
    if (offered) {
        SSL_set_session(ssl, offered.get());  // takes a reference of its own
    }
}

int TlsClientContext::on_new_session(SSL* ssl, SSL_SESSION* session) {
    auto* const self = static_cast<TlsClientContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    const auto* const peer = static_cast<const std::string*>(SSL_get_app_data(ssl));
    if (self == nullptr || peer == nullptr || SSL_SESSION_is_resumable(session) != 1) {
        return 0;
    }
    self->keep(*peer, Session(session));
    return 1;  // the session is owned here from now on
}

void TlsClientContext::keep(const std::string& peer, Session session) {
    const std::lock_guard<std::mutex> lock(sessions_mutex_);
    if (sessions_.size() >= kMostKeptSessions && sessions_.find(peer) == sessions_.end()) {
        sessions_.erase(sessions_.begin());
    }
    sessions_[peer] = std::move(session);
}

size_t TlsClientContext::kept_sessions() const {
    const std::lock_guard<std::mutex> lock(sessions_mutex_);
    return sessions_.size();
}

bool TlsClientContext::has_session(const std::string& peer) const {
    const std::lock_guard<std::mutex> lock(sessions_mutex_);
    return sessions_.find(peer) != sessions_.end();
}

std::shared_ptr<TlsClientContext> tls_client_context(const std::string& ca_file) {
    const FileIdentity identity = identity_of(ca_file);
    ProcessContext& process = process_context();
    const std::lock_guard<std::mutex> lock(process.mutex);
    if (!process.context || process.ca_file != ca_file || process.identity != identity) {
        auto made = std::make_shared<TlsClientContext>(ca_file);  // a throw keeps the old one
        process.context = std::move(made);
        process.ca_file = ca_file;
        process.identity = identity;
    }
    return process.context;
}

void reset_tls_client_context() {
    ProcessContext& process = process_context();
    const std::lock_guard<std::mutex> lock(process.mutex);
    process.context.reset();
    process.ca_file.clear();
    process.identity = FileIdentity{};
}

}  // namespace tarnel
