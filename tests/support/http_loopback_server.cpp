#include "support/http_loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <stdexcept>

namespace tarnel::test {

namespace {

constexpr int kPollMillis = 10;
constexpr size_t kHeadLimit = 64 * 1024;

bool readable(int descriptor, int timeout_ms) {
    pollfd entry{descriptor, POLLIN, 0};
    return ::poll(&entry, 1, timeout_ms) > 0;
}

Descriptor listen_loopback(bool ipv6, int receive_buffer, int& port) {
    Descriptor listener(::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (receive_buffer > 0) {  // accepted connections inherit it
        setsockopt(listener.get(), SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    }
    sockaddr_storage address{};
    socklen_t length = 0;
    if (ipv6) {
        auto* six = reinterpret_cast<sockaddr_in6*>(&address);
        six->sin6_family = AF_INET6;
        six->sin6_addr = in6addr_loopback;
        length = sizeof *six;
    } else {
        auto* four = reinterpret_cast<sockaddr_in*>(&address);
        four->sin_family = AF_INET;
        four->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *four;
    }
    if (listener.get() == -1 ||
        ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        ::listen(listener.get(), 16) != 0 ||
        getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot listen on loopback");
    }
    port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                      : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    return listener;
}

}  // namespace

struct HttpLoopbackServer::Tls {
    struct ContextFree {
        void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
    };
    std::unique_ptr<SSL_CTX, ContextFree> context;
};

// One accepted connection, plain or TLS, with reads that give up after a short wait so the
// thread sees a stop request.
class HttpLoopbackServer::Channel {
  public:
    Channel(Descriptor connection, SSL_CTX* context) : connection_(std::move(connection)) {
        // Bounded blocking: a TLS peer that stalls inside a record cannot hold the thread.
        timeval timeout{2, 0};
        setsockopt(connection_.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        setsockopt(connection_.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        if (context != nullptr) {
            ssl_.reset(SSL_new(context));
            if (!ssl_ || SSL_set_fd(ssl_.get(), connection_.get()) != 1 ||
                SSL_accept(ssl_.get()) != 1) {
                ERR_clear_error();
                ok_ = false;
            }
        }
    }
    ~Channel() {
        if (ssl_ && ok_) {
            SSL_shutdown(ssl_.get());
        }
    }
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    bool ok() const { return ok_; }

    // Bytes read, 0 when the peer closed, -1 when nothing came within the short wait.
    long read(char* buffer, size_t length) {
        if (!ok_) {
            return 0;
        }
        if (!(ssl_ && SSL_pending(ssl_.get()) > 0) && !readable(connection_.get(), kPollMillis)) {
            return -1;
        }
        if (ssl_) {
            const int got = SSL_read(ssl_.get(), buffer, static_cast<int>(length));
            if (got <= 0) {
                const int error = SSL_get_error(ssl_.get(), got);
                ERR_clear_error();
                return error == SSL_ERROR_WANT_READ ? -1 : 0;
            }
            return got;
        }
        const ssize_t got = ::recv(connection_.get(), buffer, length, 0);
        return got < 0 ? 0 : static_cast<long>(got);
    }

    // data one byte at a time on the wire, gap apart: over TLS its records are made first, and
    // their bytes trickle. Stops early when stopping is set.
    void write_trickled(const std::string& data, std::chrono::milliseconds gap,
                        const std::atomic<bool>& stopping) {
        if (!ok_) {
            return;
        }
        std::string wire = data;
        if (ssl_) {
            BIO* const memory = BIO_new(BIO_s_mem());
            BIO* const socket_side = SSL_get_wbio(ssl_.get());
            BIO_up_ref(socket_side);
            SSL_set0_wbio(ssl_.get(), memory);  // the records go to memory
            if (SSL_write(ssl_.get(), data.data(), static_cast<int>(data.size())) <= 0) {
                ERR_clear_error();
            }
            char* bytes = nullptr;
            const long length = BIO_get_mem_data(memory, &bytes);
            wire.assign(bytes, static_cast<size_t>(std::max(length, 0L)));
            SSL_set0_wbio(ssl_.get(), socket_side);  // frees the memory buffer
        }
        for (size_t i = 0; i < wire.size() && !stopping; ++i) {
            if (i > 0) {
                std::this_thread::sleep_for(gap);
            }
            ::send(connection_.get(), wire.data() + i, 1, MSG_NOSIGNAL);
        }
    }

    void write(const std::string& data) {
        if (!ok_) {
            return;
        }
        if (ssl_) {
            if (SSL_write(ssl_.get(), data.data(), static_cast<int>(data.size())) <= 0) {
                ERR_clear_error();
            }
            return;
        }
        ::send(connection_.get(), data.data(), data.size(), MSG_NOSIGNAL);
    }

  private:
    struct SslFree {
        void operator()(SSL* ssl) const { SSL_free(ssl); }
    };
    Descriptor connection_;
    std::unique_ptr<SSL, SslFree> ssl_;
    bool ok_ = true;
};

HttpServerOptions tls_server_options(const TestPki::Server& certificate) {
    HttpServerOptions options;
    options.certificate = certificate.certificate;
    options.key = certificate.key;
    return options;
}

HttpLoopbackServer::HttpLoopbackServer(HttpScript script, HttpServerOptions options)
    : script_(std::move(script)), read_delay_(options.read_delay) {
    if (!options.certificate.empty() && !options.key.empty()) {
        tls_ = std::make_unique<Tls>();
        tls_->context.reset(SSL_CTX_new(TLS_server_method()));
        if (!tls_->context ||
            SSL_CTX_use_certificate_chain_file(tls_->context.get(), options.certificate.c_str()) !=
                1 ||
            SSL_CTX_use_PrivateKey_file(tls_->context.get(), options.key.c_str(),
                                        SSL_FILETYPE_PEM) != 1) {
            throw std::runtime_error("cannot set up the test TLS server");
        }
        if (options.tls12_only) {
            SSL_CTX_set_max_proto_version(tls_->context.get(), TLS1_2_VERSION);
        }
    }
    listener_ = listen_loopback(options.ipv6, options.receive_buffer, port_);
    listener_thread_ = std::thread([this] { run_listener(); });
}

HttpLoopbackServer::~HttpLoopbackServer() {
    stopping_ = true;
    listener_thread_.join();
    std::vector<std::thread> workers;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        workers.swap(workers_);
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
}

void HttpLoopbackServer::run_listener() {
    while (!stopping_) {
        if (!readable(listener_.get(), kPollMillis)) {
            continue;
        }
        Descriptor connection(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (connection.get() == -1) {
            continue;
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        const size_t index = exchanges_.size();
        exchanges_.emplace_back();
        workers_.emplace_back([this, index](Descriptor peer) { serve(std::move(peer), index); },
                              std::move(connection));
        changed_.notify_all();
    }
}

void HttpLoopbackServer::serve(Descriptor connection, size_t index) {
    // OpenSSL writes to its socket without MSG_NOSIGNAL: a client that closed before reading the
    // answer (the legacy title update never reads it) must not raise SIGPIPE in the test process.
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
    Channel channel(std::move(connection), tls_ ? tls_->context.get() : nullptr);
    std::this_thread::sleep_for(read_delay_);
    std::string head;
    char buffer[16384];
    bool open = channel.ok();
    // The request head, up to its empty line.
    while (open && !stopping_ && head.find("\r\n\r\n") == std::string::npos &&
           head.size() < kHeadLimit) {
        const long got = channel.read(buffer, sizeof buffer);
        if (got == 0) {
            open = false;
        } else if (got > 0) {
            head.append(buffer, static_cast<size_t>(got));
        }
    }
    const size_t head_end = head.find("\r\n\r\n");
    HttpAnswer answer;
    if (head_end != std::string::npos) {
        const std::lock_guard<std::mutex> lock(mutex_);
        exchanges_[index].head = head.substr(0, head_end + 4);
        exchanges_[index].body = head.substr(head_end + 4);
        if (head.compare(0, 4, "GET ") == 0) {
            answer = script_.metadata_answer;
        } else {
            const size_t n = std::min(source_requests_++, script_.source_answers.size() - 1);
            answer = script_.source_answers[n];
        }
        changed_.notify_all();
    } else {
        open = false;
    }
    for (size_t i = 0; open && i < answer.pieces.size() && !stopping_; ++i) {
        if (i > 0) {
            std::this_thread::sleep_for(script_.piece_gap);
        }
        if (script_.trickle) {
            channel.write_trickled(answer.pieces[i], script_.piece_gap, stopping_);
        } else {
            channel.write(answer.pieces[i]);
        }
    }
    open = open && !answer.close;
    // The stream (or whatever follows), until the peer closes.
    while (open && !stopping_) {
        const long got = channel.read(buffer, sizeof buffer);
        if (got == 0) {
            break;
        }
        if (got > 0) {
            const std::lock_guard<std::mutex> lock(mutex_);
            exchanges_[index].body.append(buffer, static_cast<size_t>(got));
            changed_.notify_all();
        }
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        exchanges_[index].closed = true;
    }
    changed_.notify_all();
}

std::vector<HttpLoopbackServer::Exchange> HttpLoopbackServer::exchanges() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return exchanges_;
}

template <typename Predicate>
bool HttpLoopbackServer::wait(Millis timeout, Predicate predicate) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, predicate);
}

bool HttpLoopbackServer::wait_for_heads(size_t count, Millis timeout) const {
    return wait(timeout, [&] {
        size_t heads = 0;
        for (const Exchange& exchange : exchanges_) {
            heads += exchange.head.empty() ? 0 : 1;
        }
        return heads >= count;
    });
}

bool HttpLoopbackServer::wait_for_body(size_t exchange, size_t bytes, Millis timeout) const {
    return wait(timeout, [&] {
        return exchange < exchanges_.size() && exchanges_[exchange].body.size() >= bytes;
    });
}

bool HttpLoopbackServer::wait_for_close(size_t exchange, Millis timeout) const {
    return wait(timeout,
                [&] { return exchange < exchanges_.size() && exchanges_[exchange].closed; });
}

bool HttpLoopbackServer::wait_for_connections(size_t count, Millis timeout) const {
    return wait(timeout, [&] { return exchanges_.size() >= count; });
}

}  // namespace tarnel::test
