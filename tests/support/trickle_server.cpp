#include "support/trickle_server.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <stdexcept>

namespace tarnel::test {

namespace {

constexpr int kPollMillis = 10;

bool readable(int descriptor, int timeout_ms) {
    pollfd entry{descriptor, POLLIN, 0};
    return ::poll(&entry, 1, timeout_ms) > 0;
}

}  // namespace

TrickleServer::TrickleServer(std::string bytes, std::chrono::milliseconds gap, bool close_after)
    : bytes_(std::move(bytes)), gap_(gap), close_after_(close_after), listener_(listen_on(0)) {
    port_ = local_port(listener_);
    if (port_ == 0) {
        throw std::runtime_error("cannot listen on loopback");
    }
    listener_thread_ = std::thread([this] { run_listener(); });
}

TrickleServer::~TrickleServer() {
    stopping_ = true;
    listener_thread_.join();
    for (std::thread& worker : workers_) {
        worker.join();
    }
}

void TrickleServer::run_listener() {
    while (!stopping_) {
        if (!readable(listener_.get(), kPollMillis)) {
            continue;
        }
        Descriptor connection(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (connection.get() != -1) {
            workers_.emplace_back([this](Descriptor peer) { serve(std::move(peer)); },
                                  std::move(connection));
        }
    }
}

void TrickleServer::serve(Descriptor connection) const {
    char dropped[4096];
    const auto drain = [&] {
        while (readable(connection.get(), 0) &&
               ::recv(connection.get(), dropped, sizeof dropped, MSG_DONTWAIT) > 0) {
        }
    };
    const size_t step = gap_.count() > 0 ? 1 : std::max<size_t>(bytes_.size(), 1);
    for (size_t at = 0; at < bytes_.size() && !stopping_; at += step) {
        if (at > 0) {
            std::this_thread::sleep_for(gap_);
        }
        drain();
        if (::send(connection.get(), bytes_.data() + at, std::min(step, bytes_.size() - at),
                   MSG_NOSIGNAL) < 0) {
            return;  // the client gave up
        }
    }
    while (!close_after_ && !stopping_) {
        if (readable(connection.get(), kPollMillis) &&
            ::recv(connection.get(), dropped, sizeof dropped, 0) <= 0) {
            return;
        }
    }
}

}  // namespace tarnel::test
