#include "support/loopback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>

namespace tarnel::test {

namespace {

constexpr int kPortAttempts = 100;
// Enough for a hundred programs connecting at once.
constexpr int kBacklog = 128;

}  // namespace

void Descriptor::reset() {
    if (descriptor_ != -1) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
}

Descriptor listen_on(int port, int receive_buffer, bool ipv6) {
    // Close-on-exec: a program the test starts must not inherit the listener and keep its port.
    Descriptor listener(::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (listener.get() == -1) {
        return {};
    }
    // A restarted server binds its ports again while closed connections of the previous run
    // are still in TIME_WAIT.
    const int reuse = 1;
    setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (receive_buffer > 0) {
        // Set before listen() so that accepted connections inherit it and advertise a small
        // window from the start.
        setsockopt(listener.get(), SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    }
    const sockaddr_in address = loopback_address(port);
    sockaddr_in6 address6{};
    address6.sin6_family = AF_INET6;
    address6.sin6_port = htons(static_cast<std::uint16_t>(port));
    address6.sin6_addr = in6addr_loopback;
    const bool bound = ipv6 ? ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address6),
                                     sizeof address6) == 0
                            : ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address),
                                     sizeof address) == 0;
    if (!bound || ::listen(listener.get(), kBacklog) != 0) {
        return {};
    }
    return listener;
}

int local_port(const Descriptor& listener) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return ntohs(address.ss_family == AF_INET6
                     ? reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port
                     : reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

sockaddr_in loopback_address(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

Descriptor connect_loopback(int port) {
    Descriptor connection(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = loopback_address(port);
    if (connection.get() < 0 ||
        ::connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
            0) {
        return Descriptor();
    }
    timeval timeout{5, 0};
    setsockopt(connection.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return connection;
}

ListenerPair listen_on_pair(int source_receive_buffer, bool ipv6) {
    for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
        ListenerPair pair;
        pair.admin = listen_on(0, 0, ipv6);
        const int port = local_port(pair.admin);
        if (port == 0 || port >= 65535) {
            continue;
        }
        pair.source = listen_on(port + 1, source_receive_buffer, ipv6);
        if (pair.source.get() == -1) {
            continue;
        }
        pair.base_port = port;
        return pair;
    }
    throw std::runtime_error("no free pair of loopback ports");
}

}  // namespace tarnel::test
