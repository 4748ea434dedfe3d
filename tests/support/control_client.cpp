#include "support/control_client.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>

#include "net/http_reply.h"

namespace tarnel::test {

Descriptor connect_unix(const std::string& path, bool non_blocking) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return {};
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    Descriptor connection(
        ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (non_blocking ? SOCK_NONBLOCK : 0), 0));
    if (connection.get() == -1) {
        return {};
    }
    const timeval limit{5, 0};
    setsockopt(connection.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(connection.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (::connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
        0) {
        return {};
    }
    return connection;
}

std::string send_and_read(const Descriptor& connection, const std::string& bytes,
                          std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (size_t sent = 0; sent < bytes.size();) {
        const ssize_t count =
            ::send(connection.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count <= 0) {
            break;  // the station may close a connection whose request it refused
        }
        sent += static_cast<size_t>(count);
    }
    std::string received;
    char piece[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd ready{connection.get(), POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0) {
            continue;
        }
        const ssize_t got = ::recv(connection.get(), piece, sizeof piece, MSG_DONTWAIT);
        if (got > 0) {
            received.append(piece, static_cast<size_t>(got));
        } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;
        }
    }
    return received;
}

ControlAnswer answer_of(const std::string& raw) {
    ControlAnswer answer;
    answer.raw = raw;
    size_t at = 0;
    // Past interim replies ("100 Continue") to the final one.
    for (;;) {
        const HttpReply head = parse_http_reply(std::string_view(raw).substr(at));
        if (head.state != HttpReply::State::kComplete) {
            return answer;
        }
        if (head.status != 100) {
            answer.status = head.status;
            answer.body = nlohmann::json::parse(raw.substr(at + head.head_length), nullptr, false);
            if (answer.body.is_discarded()) {
                answer.body = nullptr;
            }
            return answer;
        }
        at += head.head_length;
    }
}

ControlAnswer control_request(const std::string& path, const std::string& method,
                              const std::string& target, const std::string& body) {
    const Descriptor connection = connect_unix(path);
    if (connection.get() == -1) {
        return {};
    }
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: localhost\r\n";
    if (!body.empty() || method == "POST") {
        request +=
            "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\n";
    }
    return answer_of(send_and_read(connection, request + "\r\n" + body));
}

}  // namespace tarnel::test
