#include "control/control_server.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "control/control_reply.h"

namespace tarnel {

namespace {

// One receive takes at most this much; a request is never longer than its bounds plus one byte,
// which is enough for the parser to refuse it.
constexpr size_t kReceivePiece = 16 * 1024;
constexpr size_t kMostKept = kMaxRequestHead + kMaxRequestBody + 1;
// How long new connections wait when the process has no descriptor left for them.
constexpr std::chrono::milliseconds kAcceptPause{250};

// path as an absolute path: a relative one from the working directory now.
std::string absolute(const std::string& path) {
    std::error_code failed;
    const std::filesystem::path whole = std::filesystem::absolute(path, failed);
    return failed ? path : whole.string();
}

// Sends what the socket takes now; the count sent, or -1 when the connection failed.
ssize_t send_now(int descriptor, const char* data, size_t length) {
    for (;;) {
        const ssize_t sent = ::send(descriptor, data, length, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent >= 0 || errno != EINTR) {
            return sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : sent;
        }
    }
}

}  // namespace

ControlServer::ControlServer(std::string path) : ControlServer(std::move(path), Limits{}) {}

ControlServer::ControlServer(std::string path, const Limits& limits)
    : path_(std::move(path)),
      absolute_path_(absolute(path_)),
      limits_(limits),
      socket_(claim_control_socket(path_)) {}

ControlServer::~ControlServer() {
    clients_.clear();
    release_control_socket(absolute_path_, socket_);
}

void ControlServer::add_poll_descriptors(std::vector<pollfd>& descriptors) const {
    if (Clock::now() >= accepts_paused_until_) {
        descriptors.push_back(pollfd{socket_.listener.get(), POLLIN, 0});
    }
    for (const Client& client : clients_) {
        const bool sending = client.sent < client.reply.size();
        descriptors.push_back(
            pollfd{client.connection.get(), static_cast<short>(sending ? POLLOUT : POLLIN), 0});
    }
}

void ControlServer::accept_clients() {
    for (size_t taken = 0; taken < limits_.accepts_per_round; ++taken) {
        UniqueDescriptor connection(
            ::accept4(socket_.listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!connection) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                accepts_paused_until_ = Clock::now() + kAcceptPause;
            }
            return;  // none waiting (EAGAIN), or no descriptor left: try again later
        }
        if (clients_.size() >= limits_.max_clients) {
            // Told at once rather than kept waiting; the reply fits any socket buffer.
            const std::string busy = reply_bytes(
                error_reply(503, "too many clients at once; try again in a few seconds"));
            send_now(connection.get(), busy.data(), busy.size());
            continue;
        }
        Client client;
        client.connection = std::move(connection);
        client.deadline = Clock::now() + limits_.client_time;
        clients_.push_back(std::move(client));
    }
}

void ControlServer::read_request(Client& client, const Handler& handler) {
    char piece[kReceivePiece];
    bool got_some = false;
    bool peer_done = false;  // closed, or at least done sending
    while (client.received.size() < kMostKept) {
        const size_t wanted = std::min(sizeof piece, kMostKept - client.received.size());
        const ssize_t got = ::recv(client.connection.get(), piece, wanted, MSG_DONTWAIT);
        if (got > 0) {
            client.received.append(piece, static_cast<size_t>(got));
            got_some = true;
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        peer_done = got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        break;
    }
    if (got_some) {
        const ControlRequest request = parse_control_request(client.received);
        switch (request.state) {
            case ControlRequest::State::kComplete:
                client.reply += handler(request);
                client.answered = true;
                return;
            case ControlRequest::State::kMalformed:
                client.reply += reply_bytes(error_reply(request.error_status, request.error));
                client.answered = true;
                return;
            case ControlRequest::State::kIncomplete:
                if (request.head_complete && request.expects_continue && !client.continue_sent) {
                    client.reply += kContinueReply;
                    client.continue_sent = true;
                }
                break;
        }
    }
    if (peer_done) {
        client.finished = true;  // the client went away before its request was whole
    }
}

void ControlServer::send_reply(Client& client) {
    while (client.sent < client.reply.size()) {
        const ssize_t sent = send_now(client.connection.get(), client.reply.data() + client.sent,
                                      client.reply.size() - client.sent);
        if (sent < 0) {
            client.finished = true;
            return;
        }
        if (sent == 0) {
            return;  // the socket's buffer is full: at the next round
        }
        client.sent += static_cast<size_t>(sent);
    }
    if (client.answered) {
        client.finished = true;  // the whole reply went out
    }
}

void ControlServer::serve(const Handler& handler) {
    accept_clients();
    const Clock::time_point now = Clock::now();
    for (Client& client : clients_) {
        if (!client.answered) {
            read_request(client, handler);
        }
        if (!client.finished) {
            send_reply(client);
        }
        if (!client.finished && now >= client.deadline) {
            if (!client.answered) {
                const std::string late =
                    reply_bytes(error_reply(408, "the request did not come in time"));
                send_now(client.connection.get(), late.data(), late.size());
            }
            client.finished = true;
        }
    }
    const auto done = std::remove_if(clients_.begin(), clients_.end(),
                                     [](const Client& client) { return client.finished; });
    if (done != clients_.end()) {
        accepts_paused_until_ = Clock::time_point{};  // descriptors were freed
    }
    clients_.erase(done, clients_.end());
}

}  // namespace tarnel
