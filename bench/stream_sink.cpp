#include "stream_sink.h"

#include <fcntl.h>
#include <openssl/ssl.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "support/loopback_listener.h"

namespace tarnel::bench {

using test::Descriptor;

namespace {

constexpr const char* kLoginReply = "OK2\r\nicy-caps:11\r\n\r\n";
constexpr const char* kTitleAnswer =
    "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 2\r\n\r\nOK";
// A title request or login longer than this is not one; the connection is closed.
constexpr size_t kRequestLimit = 64 * 1024;
// Large enough for a whole second of a stream in one receive.
constexpr size_t kReceiveSize = 512 * 1024;
constexpr int kEpollWaitMs = 50;
constexpr int kSinkNice = -15;

std::int64_t wall_clock_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void send_text(int descriptor, const std::string& text) {
    // Small answers on loopback: one send, without waiting.
    (void)::send(descriptor, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

// One receive, with the time its bytes reached the socket: the kernel's time stamp of the latest
// segment taken (SO_TIMESTAMPNS), so a sink busy with other streams does not make a stream look
// late; the wall clock now when the kernel gives none.
ssize_t receive_stamped(int descriptor, std::vector<char>& buffer, std::int64_t& stamp_ns) {
    iovec piece{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr message{};
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = ::recvmsg(descriptor, &message, MSG_DONTWAIT);
    stamp_ns = wall_clock_ns();
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); got > 0 && header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_TIMESTAMPNS) {
            timespec stamp{};
            std::memcpy(&stamp, CMSG_DATA(header), sizeof stamp);
            stamp_ns = static_cast<std::int64_t>(stamp.tv_sec) * 1'000'000'000 + stamp.tv_nsec;
        }
    }
    return got;
}

void set_non_blocking(int descriptor) {
    const int flags = fcntl(descriptor, F_GETFL);
    fcntl(descriptor, F_SETFL, flags | O_NONBLOCK);
}

}  // namespace

// What an epoll event points at: a listener of an endpoint, or a connection.
struct Watch {
    enum class Kind { kTitleListener, kSourceListener, kRawListener, kConnection };
    Kind kind;
    void* owner;
};

struct StreamSink::TlsContext {
    struct Free {
        void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
    };
    std::unique_ptr<SSL_CTX, Free> context{SSL_CTX_new(TLS_server_method())};
};

struct StreamSink::Endpoint {
    bool raw = false;
    bool tls = false;
    bool keep_bytes = false;
    int port = 0;
    Descriptor titles;  // a source endpoint's title listener
    Descriptor stream;  // its source listener, or the raw listener
    Watch titles_watch{Watch::Kind::kTitleListener, this};
    Watch stream_watch{Watch::Kind::kSourceListener, this};
    std::atomic<std::uint64_t> bytes{0};
    std::atomic<size_t> titles_answered{0};
    std::vector<Arrival> arrivals;
    std::string kept;
};

struct StreamSink::Connection {
    enum class Role { kTitles, kLogin, kHeaders, kStream };
    struct SslFree {
        void operator()(SSL* ssl) const { SSL_free(ssl); }
    };
    // TLS over memory buffers (the connection's own reads are stamped): none for plain ones.
    std::unique_ptr<SSL, SslFree> ssl;
    BIO* from_peer = nullptr;
    BIO* to_peer = nullptr;
    Descriptor descriptor;
    Endpoint* endpoint = nullptr;
    Role role = Role::kStream;
    std::string pending;
    Watch watch{Watch::Kind::kConnection, this};
};

StreamSink::StreamSink() : epoll_(epoll_create1(EPOLL_CLOEXEC)), receive_buffer_(kReceiveSize) {
    if (epoll_ == -1) {
        throw std::runtime_error("epoll_create1 failed");
    }
}

StreamSink::~StreamSink() {
    stop();
    connections_.clear();
    endpoints_.clear();
    ::close(epoll_);
}

void StreamSink::watch(int descriptor, void* owner) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = owner;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, descriptor, &event) != 0) {
        throw std::runtime_error("epoll_ctl failed");
    }
}

void StreamSink::use_tls(const std::string& certificate, const std::string& key) {
    tls_ = std::make_unique<TlsContext>();
    if (!tls_->context ||
        SSL_CTX_use_certificate_chain_file(tls_->context.get(), certificate.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(tls_->context.get(), key.c_str(), SSL_FILETYPE_PEM) != 1) {
        throw std::runtime_error("cannot load the sink's certificate");
    }
}

size_t StreamSink::add_source(bool tls) {
    if (tls && !tls_) {
        throw std::runtime_error("a TLS endpoint needs use_tls() first");
    }
    auto endpoint = std::make_unique<Endpoint>();
    endpoint->tls = tls;
    test::ListenerPair pair = test::listen_on_pair();
    endpoint->port = pair.base_port;
    endpoint->titles = std::move(pair.admin);
    endpoint->stream = std::move(pair.source);
    set_non_blocking(endpoint->titles.get());
    set_non_blocking(endpoint->stream.get());
    watch(endpoint->titles.get(), &endpoint->titles_watch);
    watch(endpoint->stream.get(), &endpoint->stream_watch);
    endpoints_.push_back(std::move(endpoint));
    return endpoints_.size() - 1;
}

size_t StreamSink::add_raw(bool keep_bytes) {
    auto endpoint = std::make_unique<Endpoint>();
    endpoint->raw = true;
    endpoint->keep_bytes = keep_bytes;
    endpoint->stream = test::listen_on(0);
    endpoint->port = test::local_port(endpoint->stream);
    if (endpoint->port == 0) {
        throw std::runtime_error("cannot listen on loopback");
    }
    endpoint->stream_watch.kind = Watch::Kind::kRawListener;
    set_non_blocking(endpoint->stream.get());
    watch(endpoint->stream.get(), &endpoint->stream_watch);
    endpoints_.push_back(std::move(endpoint));
    return endpoints_.size() - 1;
}

int StreamSink::port(size_t endpoint) const {
    return endpoints_.at(endpoint)->port;
}

void StreamSink::start() {
    thread_ = std::thread([this] { run(); });
}

void StreamSink::stop() {
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::uint64_t StreamSink::stream_bytes(size_t endpoint) const {
    return endpoints_.at(endpoint)->bytes;
}

size_t StreamSink::title_requests(size_t endpoint) const {
    return endpoints_.at(endpoint)->titles_answered;
}

const std::vector<Arrival>& StreamSink::arrivals(size_t endpoint) const {
    return endpoints_.at(endpoint)->arrivals;
}

const std::string& StreamSink::kept_bytes(size_t endpoint) const {
    return endpoints_.at(endpoint)->kept;
}

void StreamSink::run() {
    // The sink stands for the servers, which have machines of their own: on a machine shared
    // with other work it must not fall so far behind that a stream's log-in times out. Only
    // root may raise a thread's priority; otherwise the sink runs as it is.
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), kSinkNice);
    std::vector<epoll_event> events(64);
    while (!stopping_) {
        const int count =
            epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), kEpollWaitMs);
        for (int i = 0; i < count; ++i) {
            auto* const watched = static_cast<Watch*>(events[static_cast<size_t>(i)].data.ptr);
            if (watched->kind != Watch::Kind::kConnection) {
                auto* const endpoint = static_cast<Endpoint*>(watched->owner);
                const bool titles = watched->kind == Watch::Kind::kTitleListener;
                accept_from(*endpoint, titles ? endpoint->titles.get() : endpoint->stream.get(),
                            titles);
                continue;
            }
            auto* const connection = static_cast<Connection*>(watched->owner);
            std::int64_t stamp_ns = 0;
            const ssize_t got =
                receive_stamped(connection->descriptor.get(), receive_buffer_, stamp_ns);
            if (got > 0 && connection->ssl) {
                receive_tls(*connection, receive_buffer_.data(), static_cast<size_t>(got),
                            stamp_ns);
            } else if (got > 0) {
                receive(*connection, receive_buffer_.data(), static_cast<size_t>(got), stamp_ns);
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                close_connection(*connection);
            }
        }
    }
}

void StreamSink::accept_from(Endpoint& endpoint, int listener, bool titles) {
    for (;;) {
        Descriptor accepted(accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (accepted.get() == -1) {
            return;
        }
        const int on = 1;
        setsockopt(accepted.get(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        auto connection = std::make_unique<Connection>();
        connection->descriptor = std::move(accepted);
        connection->endpoint = &endpoint;
        connection->role = titles         ? Connection::Role::kTitles
                           : endpoint.raw ? Connection::Role::kStream
                                          : Connection::Role::kLogin;
        if (endpoint.tls) {
            connection->ssl.reset(SSL_new(tls_->context.get()));
            connection->from_peer = BIO_new(BIO_s_mem());
            connection->to_peer = BIO_new(BIO_s_mem());
            // The SSL object owns both buffers from here.
            SSL_set_bio(connection->ssl.get(), connection->from_peer, connection->to_peer);
            SSL_set_accept_state(connection->ssl.get());
        }
        watch(connection->descriptor.get(), &connection->watch);
        connections_.push_back(std::move(connection));
    }
}

void StreamSink::receive(Connection& connection, const char* data, size_t length,
                         std::int64_t stamp_ns) {
    using Role = Connection::Role;
    Endpoint& endpoint = *connection.endpoint;
    if (connection.role == Role::kStream) {
        endpoint.arrivals.push_back(Arrival{stamp_ns, endpoint.bytes, length});
        if (endpoint.keep_bytes) {
            endpoint.kept.append(data, length);
        }
        endpoint.bytes += length;
        return;
    }
    connection.pending.append(data, length);
    if (connection.role == Role::kTitles) {
        if (connection.pending.find("\r\n\r\n") != std::string::npos) {
            // Counted before the answer goes, so whoever has the answer sees the count.
            ++endpoint.titles_answered;
            reply(connection, kTitleAnswer);
            close_connection(connection);
        } else if (connection.pending.size() > kRequestLimit) {
            close_connection(connection);
        }
        return;
    }
    const char* const end_mark = connection.role == Role::kLogin ? "\n" : "\r\n\r\n";
    const size_t found = connection.pending.find(end_mark);
    if (found == std::string::npos) {
        if (connection.pending.size() > kRequestLimit) {
            close_connection(connection);
        }
        return;
    }
    const std::string rest = connection.pending.substr(found + std::string(end_mark).size());
    connection.pending.clear();
    if (connection.role == Role::kLogin) {
        reply(connection, kLoginReply);
        connection.role = Role::kHeaders;
    } else {
        connection.role = Role::kStream;
    }
    if (!rest.empty()) {
        receive(connection, rest.data(), rest.size(), stamp_ns);
    }
}

void StreamSink::receive_tls(Connection& connection, const char* data, size_t length,
                             std::int64_t stamp_ns) {
    BIO_write(connection.from_peer, data, static_cast<int>(length));
    std::vector<char> plain(16 * 1024);
    for (;;) {
        const int got =
            SSL_read(connection.ssl.get(), plain.data(), static_cast<int>(plain.size()));
        if (got > 0) {
            receive(connection, plain.data(), static_cast<size_t>(got), stamp_ns);
            if (!connection.ssl) {
                return;  // closed by receive
            }
            continue;
        }
        const int error = SSL_get_error(connection.ssl.get(), got);
        reply(connection, "");  // the handshake's answers, session tickets
        if (error != SSL_ERROR_WANT_READ) {
            close_connection(connection);
        }
        return;
    }
}

void StreamSink::reply(Connection& connection, const std::string& text) {
    if (!connection.ssl) {
        send_text(connection.descriptor.get(), text);
        return;
    }
    if (!text.empty()) {
        SSL_write(connection.ssl.get(), text.data(), static_cast<int>(text.size()));
    }
    char* pending = nullptr;
    const long length = BIO_get_mem_data(connection.to_peer, &pending);
    if (length > 0) {
        send_text(connection.descriptor.get(), std::string(pending, static_cast<size_t>(length)));
        (void)BIO_reset(connection.to_peer);
    }
}

void StreamSink::close_connection(Connection& connection) {
    if (connection.descriptor.get() != -1) {
        epoll_ctl(epoll_, EPOLL_CTL_DEL, connection.descriptor.get(), nullptr);
        connection.descriptor.reset();
    }
    connection.ssl.reset();
}

}  // namespace tarnel::bench
