#include "support/control_socket_stub.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "control/control_reply.h"

namespace tarnel::test {

namespace {

constexpr size_t kMaxRequestBytes = 1024 * 1024;

// Reads one request: the head up to the empty line, then Content-Length bytes of body.
bool read_request(int connection, ControlRequest& request) {
    std::string data;
    char buffer[8192];
    size_t head_end = std::string::npos;
    size_t wanted = 0;
    for (;;) {
        if (head_end == std::string::npos) {
            head_end = data.find("\r\n\r\n");
            if (head_end != std::string::npos) {
                const std::string head = data.substr(0, head_end);
                const size_t space = head.find(' ');
                const size_t second = head.find(' ', space + 1);
                if (space == std::string::npos || second == std::string::npos) {
                    return false;
                }
                request.method = head.substr(0, space);
                request.target = head.substr(space + 1, second - space - 1);
                std::string lower = head;
                for (char& c : lower) {
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                }
                const size_t length = lower.find("\r\ncontent-length:");
                wanted = length == std::string::npos
                             ? 0
                             : std::strtoul(head.c_str() + length + 17, nullptr, 10);
            }
        }
        if (head_end != std::string::npos && data.size() >= head_end + 4 + wanted) {
            request.body = data.substr(head_end + 4, wanted);
            return true;
        }
        if (data.size() > kMaxRequestBytes) {
            return false;
        }
        const ssize_t got = recv(connection, buffer, sizeof buffer, 0);
        if (got <= 0) {
            return false;
        }
        data.append(buffer, static_cast<size_t>(got));
    }
}

}  // namespace

ControlAnswer control_error(int status, const std::string& message) {
    std::string escaped;
    for (const char c : message) {
        if (c == '"' || c == '\\') {
            escaped += '\\';
        }
        escaped += c;
    }
    return {status, "{\"error\": \"" + escaped + "\"}"};
}

ControlSocketStub::ControlSocketStub() : thread_([this] { run(); }) {}

ControlSocketStub::~ControlSocketStub() {
    stopping_ = true;
    thread_.join();
    for (const Socket& socket : sockets_) {
        unlink(socket.path.c_str());
    }
}

void ControlSocketStub::serve(const std::string& path, Handler handler) {
    Descriptor listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (listener.get() < 0 || path.size() >= sizeof address.sun_path) {
        throw std::runtime_error("cannot make a control socket at " + path);
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    unlink(path.c_str());
    if (bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener.get(), 64) != 0) {
        throw std::runtime_error("cannot listen at " + path + ": " + std::strerror(errno));
    }
    chmod(path.c_str(), 0660);
    const std::lock_guard<std::mutex> lock(mutex_);
    sockets_.push_back({path, std::move(listener), std::move(handler)});
}

std::vector<std::pair<std::string, ControlRequest>> ControlSocketStub::requests() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void ControlSocketStub::answer(const Socket& socket, int connection) {
    timeval timeout{2, 0};
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    ControlRequest request;
    if (!read_request(connection, request)) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        requests_.emplace_back(socket.path, request);
    }
    const ControlAnswer reply = socket.handler(request);
    const std::string response =
        "HTTP/1.1 " + std::to_string(reply.status) + " " + reason_phrase(reply.status) +
        "\r\nContent-Type: application/json\r\nContent-Length: " +
        std::to_string(reply.body.size()) + "\r\nConnection: close\r\n\r\n" + reply.body;
    size_t sent = 0;
    while (sent < response.size()) {
        const ssize_t wrote =
            send(connection, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
        if (wrote <= 0) {
            return;
        }
        sent += static_cast<size_t>(wrote);
    }
}

void ControlSocketStub::run() {
    while (!stopping_) {
        std::vector<pollfd> watched;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            for (const Socket& socket : sockets_) {
                watched.push_back({socket.listener.get(), POLLIN, 0});
            }
        }
        if (watched.empty()) {
            usleep(20000);
            continue;
        }
        if (poll(watched.data(), watched.size(), 50) <= 0) {
            continue;
        }
        for (size_t i = 0; i < watched.size(); ++i) {
            if ((watched[i].revents & POLLIN) == 0) {
                continue;
            }
            // sockets_ only grows, and a deque keeps its elements where they are:
            // the reference stays good outside the lock.
            Socket* socket = nullptr;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                socket = &sockets_[i];
            }
            for (;;) {
                const Descriptor connection(accept4(watched[i].fd, nullptr, nullptr, SOCK_CLOEXEC));
                if (connection.get() < 0) {
                    break;
                }
                answer(*socket, connection.get());
            }
        }
    }
}

}  // namespace tarnel::test
