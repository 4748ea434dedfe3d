#include "support/notify_listener.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <stdexcept>

namespace tarnel::test {

NotifyListener::NotifyListener(const std::string& name)
    : name_(name), socket_(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.empty() || name.size() >= sizeof address.sun_path || socket_.get() == -1) {
        throw std::runtime_error("cannot make a notify socket for " + name);
    }
    std::memcpy(address.sun_path, name.data(), name.size());
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    if (name[0] == '@') {
        address.sun_path[0] = '\0';
    } else {
        ++length;  // a path ends with its zero byte
    }
    if (bind(socket_.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        throw std::runtime_error("cannot bind a notify socket to " + name);
    }
}

std::string NotifyListener::receive(std::chrono::milliseconds timeout) {
    pollfd wanted{socket_.get(), POLLIN, 0};
    if (poll(&wanted, 1, static_cast<int>(timeout.count())) != 1) {
        return "";
    }
    char buffer[4096];
    const ssize_t received = recv(socket_.get(), buffer, sizeof buffer, 0);
    return received > 0 ? std::string(buffer, static_cast<size_t>(received)) : "";
}

std::vector<std::string> NotifyListener::receive_for(std::chrono::milliseconds duration) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + duration;
    std::vector<std::string> messages;
    for (auto now = Clock::now(); now < end; now = Clock::now()) {
        std::string message =
            receive(std::chrono::duration_cast<std::chrono::milliseconds>(end - now));
        if (!message.empty()) {
            messages.push_back(std::move(message));
        }
    }
    return messages;
}

}  // namespace tarnel::test
