#include "driver/control_session.h"

#include <exception>
#include <string>

#include "config/wall_clock.h"
#include "control/control_reply.h"
#include "control/control_routes.h"
#include "control/control_server.h"
#include "driver/as_run_log.h"
#include "driver/station_controller.h"

namespace tarnel {

namespace {

// Control requests are served only while more than this is left before a tick.
constexpr std::chrono::milliseconds kQuietBeforeTick{50};

// The open session, if any: the one place the waits find it.
ControlSession* open_session = nullptr;

}  // namespace

ControlSession::ControlSession(DriverState& state, const std::string& path)
    : controller_(std::make_unique<StationController>(state)),
      server_(std::make_unique<ControlServer>(path)) {
    open_session = this;
    keep_history_in_memory(true);
    prepare_wait(true);
}

ControlSession::~ControlSession() {
    keep_history_in_memory(false);
    open_session = nullptr;
}

void ControlSession::serve() {
    StationController& controller = *controller_;
    server_->serve([&controller](const ControlRequest& request) {
        // A request that fails in a way nobody foresaw is answered, and the stream goes on.
        try {
            return reply_bytes(answer_control_request(request, controller));
        } catch (const std::exception& failure) {
            return reply_bytes(
                error_reply(500, std::string("the request failed: ") + failure.what()));
        }
    });
}

void ControlSession::prepare_wait(bool serving) {
    if (serving && server_->client_count() > 0) {
        serve();  // drops a client whose time is up, also one that never sends
    }
    std::vector<pollfd> wanted;
    server_->add_poll_descriptors(wanted);
    const auto is_wanted = [&wanted](const WaitWatch& watch) {
        for (const pollfd& one : wanted) {
            if (one.fd == watch.descriptor() && one.events == watch.events()) {
                return true;
            }
        }
        return false;
    };
    std::vector<std::unique_ptr<WaitWatch>> kept;
    for (std::unique_ptr<WaitWatch>& watch : watches_) {
        if (is_wanted(*watch)) {
            kept.push_back(std::move(watch));
        }
    }
    watches_ = std::move(kept);
    for (const pollfd& one : wanted) {
        bool watched = false;
        for (const std::unique_ptr<WaitWatch>& watch : watches_) {
            watched = watched || (watch->descriptor() == one.fd && watch->events() == one.events);
        }
        if (!watched) {
            watches_.push_back(std::make_unique<WaitWatch>(one.fd, one.events,
                                                           [this](short /*revents*/) { serve(); }));
        }
    }
    for (const std::unique_ptr<WaitWatch>& watch : watches_) {
        watch->set_armed(serving);
    }
}

bool control_session_open() {
    return open_session != nullptr;
}

WaitDeadline deadline_towards_tick(std::time_t tick) {
    if (open_session == nullptr) {
        return WaitDeadline::wall_clock(tick);
    }
    const timespec now = wall_clock_now();
    const auto left =
        std::chrono::seconds(tick - now.tv_sec) - std::chrono::nanoseconds(now.tv_nsec);
    const bool serving = left > kQuietBeforeTick;
    open_session->prepare_wait(serving);
    if (!serving) {
        return WaitDeadline::wall_clock(tick);
    }
    return WaitDeadline::steady(
        std::chrono::steady_clock::now() +
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(left - kQuietBeforeTick));
}

void serve_control_in_pause() {
    if (open_session != nullptr) {
        open_session->prepare_wait(true);
    }
}

}  // namespace tarnel
