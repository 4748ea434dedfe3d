#include "tarnelctl/control_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "config/unique_descriptor.h"
#include "net/http_reply.h"

namespace tarnel::ctl {

namespace {

using Clock = std::chrono::steady_clock;

// A reply larger than this is not the station's: its largest, a full history, is well below.
constexpr size_t kMaxReply = 64 * 1024 * 1024;

StationReply not_reached(std::string failure) {
    StationReply reply;
    reply.failure = std::move(failure);
    return reply;
}

std::string connect_failure(const std::string& path, int error) {
    switch (error) {
        case ENOENT:
            return "there is no control socket at " + path +
                   " (is the station running, with ControlSocket=" + path + "?)";
        case ECONNREFUSED:
            return "nothing answers on " + path + " (the station is not running)";
        case EACCES:
        case EPERM:
            return "no permission to use " + path +
                   " (the socket is for its owner and group: run tarnelctl as root or as a "
                   "member of the station's group)";
        case EAGAIN:
            return "the station at " + path + " takes no more connections now; try again";
        default:
            return "cannot connect to " + path + ": " + std::strerror(error);
    }
}

// Waits until the descriptor is ready for events or the deadline passed; false on a time-out.
bool wait_for(int descriptor, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd wanted{descriptor, events, 0};
        const int ready = ::poll(&wanted, 1, static_cast<int>(left.count()));
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

std::string request_text(const ControlCall& call) {
    std::string text = call.method + " " + call.target +
                       " HTTP/1.1\r\nHost: localhost\r\nUser-Agent: tarnelctl\r\n"
                       "Connection: close\r\n";
    if (!call.body.empty() || call.method == "POST") {
        text += "Content-Type: application/json\r\nContent-Length: " +
                std::to_string(call.body.size()) + "\r\n";
    }
    return text + "\r\n" + call.body;
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The value of Content-Length in a reply head, when it has a valid one.
std::optional<size_t> content_length(const std::string& head) {
    std::string lowered(head.size(), '\0');
    for (size_t i = 0; i < head.size(); ++i) {
        lowered[i] = lower(head[i]);
    }
    const size_t found = lowered.find("\ncontent-length:");
    if (found == std::string::npos) {
        return std::nullopt;
    }
    size_t at = found + 16;
    while (at < head.size() && (head[at] == ' ' || head[at] == '\t')) {
        ++at;
    }
    size_t length = 0;
    size_t digits = 0;
    for (; at < head.size() && head[at] >= '0' && head[at] <= '9' && digits < 12; ++at, ++digits) {
        length = length * 10 + static_cast<size_t>(head[at] - '0');
    }
    if (digits == 0) {
        return std::nullopt;
    }
    return length;
}

}  // namespace

ParsedReply parse_station_reply(const std::string& bytes, bool connection_closed) {
    ParsedReply parsed;
    const HttpReply head = parse_http_reply(bytes);
    if (head.state != HttpReply::State::kComplete) {
        return parsed;
    }
    parsed.status = head.status;
    const std::string rest = bytes.substr(head.head_length);
    const std::optional<size_t> length = content_length(bytes.substr(0, head.head_length));
    if (length) {
        parsed.whole = rest.size() >= *length;
        parsed.body = rest.substr(0, *length);
    } else {
        parsed.whole = connection_closed;
        parsed.body = rest;
    }
    return parsed;
}

StationReply call_station(const std::string& path, const ControlCall& call,
                          std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return not_reached("'" + path + "' cannot be a control socket's path");
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const UniqueDescriptor connection(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!connection) {
        return not_reached(std::string("cannot make a socket: ") + std::strerror(errno));
    }
    // A blocking connect, bounded by the send time-out: a station whose backlog is full answers
    // EAGAIN when it runs out.
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    const timeval limit{
        static_cast<time_t>(seconds.count()),
        static_cast<suseconds_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(timeout - seconds).count())};
    setsockopt(connection.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (::connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
        0) {
        return not_reached(connect_failure(path, errno));
    }
    const std::string request = request_text(call);
    for (size_t sent = 0; sent < request.size();) {
        const ssize_t count = ::send(connection.get(), request.data() + sent, request.size() - sent,
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count > 0) {
            sent += static_cast<size_t>(count);
        } else if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!wait_for(connection.get(), POLLOUT, deadline)) {
                return not_reached("the station did not take the request in time");
            }
        } else {
            return not_reached(std::string("the request could not be sent: ") +
                               std::strerror(errno));
        }
    }
    std::string received;
    char piece[16384];
    for (;;) {
        const ParsedReply parsed = parse_station_reply(received, false);
        if (parsed.whole) {
            return StationReply{true, "", parsed.status, parsed.body};
        }
        if (!wait_for(connection.get(), POLLIN, deadline)) {
            return not_reached("the station did not answer within " +
                               std::to_string(timeout.count() / 1000) + " s");
        }
        const ssize_t got = ::recv(connection.get(), piece, sizeof piece, MSG_DONTWAIT);
        if (got > 0 && received.size() + static_cast<size_t>(got) <= kMaxReply) {
            received.append(piece, static_cast<size_t>(got));
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        const ParsedReply last = parse_station_reply(received, true);
        if (last.whole) {
            return StationReply{true, "", last.status, last.body};
        }
        return not_reached(received.empty() ? "the station closed the connection without a reply"
                                            : "the reply is not the station's (not HTTP)");
    }
}

}  // namespace tarnel::ctl
