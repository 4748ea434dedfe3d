#include "net/client_socket.h"

#include <sys/socket.h>

#include <cerrno>
#include <utility>

#include "net/socket_exception.h"

namespace tarnel {

namespace {

// What one read_available() takes at most, so that a peer that keeps sending cannot hold it.
constexpr size_t kMostAvailable = 64 * 1024;

}  // namespace

ClientSocket::ClientSocket(std::string host, int port)
    : ClientSocket(std::move(host), port, Clock::time_point::max()) {}

ClientSocket::ClientSocket(std::string host, int port, Clock::time_point deadline) {
    set_deadline(deadline);
    if (!create()) {
        throw SocketException("Could not create client socket.");
    }
    if (!connect(std::move(host), port)) {
        throw SocketException("Could not bind to port.");
    }
}

const ClientSocket& ClientSocket::operator<<(const std::string& text) const {
    if (!send(text)) {
        throw SocketException("Could not write to socket.");
    }
    return *this;
}

const ClientSocket& ClientSocket::operator>>(std::string& text) const {
    if (recv(text) == 0) {
        throw SocketException("Could not read from socket.");
    }
    return *this;
}

bool ClientSocket::swrite(const char* data, size_t length, bool more) const {
    if (!bsend(data, length, more)) {
        throw SocketException("Could not write to socket.");
    }
    return true;
}

std::string ClientSocket::read_some() {
    char buffer[kMaxReceive];
    const int received = sread(buffer, sizeof buffer);
    return std::string(buffer, static_cast<size_t>(received));
}

std::string ClientSocket::read_available() {
    std::string text;
    char buffer[Socket::kMaxReceive];
    for (;;) {
        const ssize_t got = ::recv(descriptor(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) {
            text.append(buffer, static_cast<size_t>(got));
            if (text.size() >= kMostAvailable) {
                return text;
            }
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return text;
        } else if (!text.empty()) {
            return text;  // the close or failure comes with the next call
        } else {
            throw SocketException("Could not read from socket.");
        }
    }
}

int ClientSocket::sread(char* buffer, size_t length) const {
    const int received = brecv(buffer, length);
    if (received == 0) {
        throw SocketException("Could not read from socket.");
    }
    return received;
}

void ClientSocket::sgets(std::string& line, int limit) const {
    if (recvln(line, limit) == 0) {
        throw SocketException("Could not read line from socket.");
    }
}

}  // namespace tarnel
