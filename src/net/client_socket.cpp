#include "net/client_socket.h"

#include <utility>

#include "net/socket_exception.h"

namespace tarnel {

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

bool ClientSocket::swrite(const char* data, size_t length) const {
    if (!bsend(data, length)) {
        throw SocketException("Could not write to socket.");
    }
    return true;
}

std::string ClientSocket::read_some() {
    std::string text;
    *this >> text;
    return text;
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
