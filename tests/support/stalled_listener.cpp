#include "support/stalled_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <stdexcept>

namespace tarnel::test {

StalledListener::StalledListener() : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_.get() == -1 ||
        ::bind(listener_.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        ::listen(listener_.get(), 0) != 0 ||
        getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot listen on loopback");
    }
    port_ = ntohs(address.sin_port);
    // The one connection the queue holds; it is never accepted.
    filler_ = Descriptor(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(filler_.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        throw std::runtime_error("cannot fill the accept queue");
    }
}

}  // namespace tarnel::test
