#include "net/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <ostream>
#include <utility>
#include <vector>

#include "config/log.h"
#include "net/net_timeouts.h"

namespace tarnel {

namespace {

// See set_thread_cancel_descriptor().
thread_local int thread_cancel_descriptor = -1;

// A port outside 1 to 65535 is refused, never wrapped modulo 65536 to some other port.
constexpr int kMaxPort = 65535;

void print_receive_failure(int error) {
    console() << "status == -1   errno == " << error << "  in Socket::recv\n" << std::flush;
}

// Every address of host for a TCP connection to port, in the resolver's order: an IPv4 or IPv6
// literal as it is (an IPv6 literal may stand in brackets), a name as the system resolves it for
// any address family. Empty when the name does not resolve.
std::vector<sockaddr_storage> resolve(std::string host, int port_number) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port_number).c_str(), &hints, &found) != 0) {
        return {};
    }
    const std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(found, freeaddrinfo);
    std::vector<sockaddr_storage> addresses;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if ((entry->ai_family == AF_INET || entry->ai_family == AF_INET6) &&
            entry->ai_addrlen <= sizeof(sockaddr_storage)) {
            sockaddr_storage address{};
            std::memcpy(&address, entry->ai_addr, entry->ai_addrlen);
            addresses.push_back(address);
        }
    }
    return addresses;
}

socklen_t length_of(const sockaddr_storage& address) {
    return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

}  // namespace

void set_thread_cancel_descriptor(int descriptor) {
    thread_cancel_descriptor = descriptor;
}

Socket::Socket() = default;

Socket::~Socket() {
    close_descriptor();
}

Socket::Socket(Socket&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)),
      address_(other.address_),
      deadline_(other.deadline_) {}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        close_descriptor();
        descriptor_ = std::exchange(other.descriptor_, -1);
        address_ = other.address_;
        deadline_ = other.deadline_;
    }
    return *this;
}

void Socket::close_descriptor() {
    if (descriptor_ != -1) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
}

bool Socket::create() {
    return create(AF_INET);
}

bool Socket::create(int family) {
    close_descriptor();
    descriptor_ = ::socket(family, SOCK_STREAM, 0);
    if (descriptor_ == -1) {
        return false;
    }
    const int on = 1;
    return setsockopt(descriptor_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != -1;
}

bool Socket::wait_for(short events, std::chrono::milliseconds timeout) const {
    const Clock::time_point end = std::min(Clock::now() + timeout, deadline_);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        pollfd entries[2] = {{descriptor_, events, 0}, {thread_cancel_descriptor, POLLIN, 0}};
        const nfds_t count = thread_cancel_descriptor == -1 ? 1 : 2;
        const int ready =
            ::poll(entries, count, static_cast<int>(std::max<decltype(left)>(left, 0)));
        if (ready > 0 && entries[1].revents != 0) {
            errno = ETIMEDOUT;  // given up: as when the time ran out
            return false;
        }
        if (ready > 0) {
            return true;  // ready, or an error/close that the next call reports
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (Clock::now() >= end) {
            errno = ETIMEDOUT;
            return false;
        }
    }
}

bool Socket::readable_within(std::chrono::milliseconds timeout) const {
    return descriptor_ != -1 && wait_for(POLLIN, timeout);
}

bool Socket::connect(std::string host, int port_number) {
    if (descriptor_ == -1 || port_number < 1 || port_number > kMaxPort) {
        return false;
    }
    const std::vector<sockaddr_storage> addresses = resolve(std::move(host), port_number);
    if (addresses.empty()) {
        console() << "\nLookup failed\n" << std::flush;
        return false;
    }
    // Every address in turn, within the one connection time-out; each attempt gets an equal share
    // of the time left, so an address that never answers cannot keep the others from a try.
    const Clock::time_point end = Clock::now() + net_timeouts.connect;
    for (size_t i = 0; i < addresses.size(); ++i) {
        const Clock::duration left = end - Clock::now();
        if (left <= Clock::duration::zero()) {
            return false;
        }
        // A descriptor whose attempt failed is not used again, nor one of the other family.
        const int family = addresses[i].ss_family;
        if ((i > 0 || family != AF_INET) && !create(family)) {
            continue;
        }
        const auto share = std::chrono::ceil<std::chrono::milliseconds>(
            left / static_cast<Clock::duration::rep>(addresses.size() - i));
        if (connect_to(addresses[i], share)) {
            return true;
        }
    }
    return false;
}

bool Socket::connect_to(const sockaddr_storage& target, std::chrono::milliseconds timeout) {
    address_ = target;
    // Connect without blocking so the attempt can be given up after the time-out, then put the
    // descriptor back into its former mode.
    const int flags = fcntl(descriptor_, F_GETFL);
    if (flags == -1 || fcntl(descriptor_, F_SETFL, flags | O_NONBLOCK) == -1) {
        return false;
    }
    bool connected = ::connect(descriptor_, reinterpret_cast<const sockaddr*>(&address_),
                               length_of(address_)) == 0;
    if (!connected && (errno == EINPROGRESS || errno == EINTR) && wait_for(POLLOUT, timeout)) {
        int error = 0;
        socklen_t length = sizeof error;
        connected =
            getsockopt(descriptor_, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    return fcntl(descriptor_, F_SETFL, flags) != -1 && connected;
}

bool Socket::send(std::string data) const {
    return bsend(data.data(), data.size());
}

bool Socket::bsend(const char* data, size_t length, bool more) const {
    const int flags = MSG_NOSIGNAL | MSG_DONTWAIT | (more ? MSG_MORE : 0);
    size_t sent = 0;
    while (sent < length) {
        // Never block inside send: a full buffer is waited for with a bound, and a closed peer
        // gives EPIPE instead of SIGPIPE.
        const ssize_t written = ::send(descriptor_, data + sent, length - sent, flags);
        if (written > 0) {
            sent += static_cast<size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait_for(POLLOUT, net_timeouts.send_progress)) {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

ssize_t Socket::receive_some(char* buffer, size_t length, int flags) const {
    for (;;) {
        receive_timed_out_ = false;
        if (!readable_within(net_timeouts.receive)) {
            receive_timed_out_ = errno == ETIMEDOUT;
            errno = ETIMEDOUT;
            return -1;
        }
        const ssize_t received = ::recv(descriptor_, buffer, length, flags);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        return received;
    }
}

int Socket::recv(std::string& text) const {
    text.clear();
    char buffer[kMaxReceive + 1] = {};
    const ssize_t received = receive_some(buffer, kMaxReceive, 0);
    if (received < 0) {
        print_receive_failure(errno);
        return 0;
    }
    // A text protocol: whatever follows a NUL byte is dropped.
    text.assign(buffer, strnlen(buffer, static_cast<size_t>(received)));
    return static_cast<int>(received);
}

int Socket::brecv(char* buffer, size_t length) const {
    std::memset(buffer, 0, length);
    const ssize_t received = receive_some(buffer, length, 0);
    if (received < 0) {
        print_receive_failure(errno);
        return 0;
    }
    return static_cast<int>(received);
}

int Socket::recvln(std::string& line, int limit) const {
    line.clear();
    std::string stored;
    for (;;) {
        char byte = 0;
        if (receive_some(&byte, 1, 0) <= 0) {
            return 0;
        }
        if (stored.size() >= static_cast<size_t>(std::max(limit, 0))) {
            return 0;  // the line is too long; this byte is lost
        }
        stored.push_back(byte);
        if (byte == '\n') {
            line = stored;
            return 1;
        }
    }
}

bool Socket::inbuffer() const {
    char byte = 0;
    return receive_some(&byte, 1, MSG_PEEK) > 0;
}

bool Socket::bind(int port_number, const std::string& local_address) {
    if (descriptor_ == -1 || port_number < 0 || port_number > kMaxPort) {
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port_number));
    if (inet_pton(AF_INET, local_address.c_str(), &local.sin_addr) != 1) {
        return false;
    }
    address_ = sockaddr_storage{};
    std::memcpy(&address_, &local, sizeof local);
    return ::bind(descriptor_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != -1;
}

bool Socket::listen() const {
    return descriptor_ != -1 && ::listen(descriptor_, kListenBacklog) != -1;
}

bool Socket::accept(Socket& peer) {
    socklen_t length = sizeof address_;
    const int accepted = ::accept(descriptor_, reinterpret_cast<sockaddr*>(&address_), &length);
    if (accepted < 0) {
        return false;
    }
    peer.close_descriptor();
    peer.descriptor_ = accepted;
    return true;
}

void Socket::set_non_blocking(bool on) {
    const int flags = fcntl(descriptor_, F_GETFL);
    if (flags == -1) {
        return;
    }
    fcntl(descriptor_, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}

}  // namespace tarnel
