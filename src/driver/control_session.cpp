#include "driver/control_session.h"

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "config/signals.h"
#include "control/control_reply.h"
#include "control/control_routes.h"
#include "control/control_server.h"
#include "driver/as_run_log.h"
#include "driver/station_controller.h"

namespace tarnel {

namespace {

// The open session, if any: the one place the waits find it.
ControlSession* open_session = nullptr;

}  // namespace

ControlSession::ControlSession(DriverState& state, const std::string& path)
    : controller_(std::make_unique<StationController>(state)),
      server_(std::make_unique<ControlServer>(path)) {
    open_session = this;
    keep_history_in_memory(true);
}

ControlSession::~ControlSession() {
    keep_history_in_memory(false);
    open_session = nullptr;
}

bool control_session_open() {
    return open_session != nullptr;
}

void sleep_serving_control(std::chrono::nanoseconds duration,
                           std::chrono::nanoseconds serve_within) {
    if (open_session == nullptr || serve_within <= std::chrono::nanoseconds::zero()) {
        sleep_until_signal(duration);
        return;
    }
    // Asleep with the clients' descriptors only until serving ends; what is ready then is served
    // at once, and so is a client whose time is up.
    std::vector<pollfd> descriptors;
    ControlServer& server = *open_session->server_;
    server.add_poll_descriptors(descriptors);
    sleep_until_signal(std::min(duration, serve_within), descriptors);
    bool ready = server.client_count() > 0;
    for (const pollfd& descriptor : descriptors) {
        ready = ready || descriptor.revents != 0;
    }
    if (ready) {
        StationController& controller = *open_session->controller_;
        server.serve([&controller](const ControlRequest& request) {
            // A request that fails in a way nobody foresaw is answered, and the stream goes on.
            try {
                return reply_bytes(answer_control_request(request, controller));
            } catch (const std::exception& failure) {
                return reply_bytes(
                    error_reply(500, std::string("the request failed: ") + failure.what()));
            }
        });
    }
}

}  // namespace tarnel
