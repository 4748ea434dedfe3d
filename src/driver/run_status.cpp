#include "driver/run_status.h"

#include <tuple>

#include "config/playlist.h"
#include "config/settings.h"
#include "config/strformat.h"
#include "config/wall_clock.h"
#include "driver/service_notify.h"
#include "driver/status_file.h"

namespace tarnel {

namespace {

// What was published last: the status file's path, its content apart from the counters and the
// wall-clock second of its last write, and the service manager's status text.
struct Published {
    bool written = false;
    std::string path;
    RunStatus status;
    std::time_t second = 0;
    std::string summary;
};

Published published;

// Everything but the counters that go up with every second sent.
auto without_counters(const RunStatus& s) {
    return std::tie(s.state, s.server, s.port, s.mount, s.connected_since, s.entry, s.title,
                    s.reconnections, s.last_error, s.last_error_time);
}

bool changed_apart_from_counters(const RunStatus& before, const RunStatus& now) {
    return without_counters(before) != without_counters(now);
}

}  // namespace

const char* state_name(RunState state) {
    switch (state) {
        case RunState::kStarting:
            return "starting";
        case RunState::kConnecting:
            return "connecting";
        case RunState::kStreaming:
            return "streaming";
        case RunState::kWaitingToReconnect:
            return "waiting to reconnect";
        case RunState::kIdle:
            return "idle";
        case RunState::kStopped:
            return "stopped";
    }
    return "";
}

std::string status_summary(const RunStatus& status) {
    const bool recovered = status.seconds_sent != status.seconds_sent_at_error;
    const std::string last_error =
        status.last_error.empty() || recovered ? "" : "; last error: " + status.last_error;
    switch (status.state) {
        case RunState::kStarting:
            return "Starting";
        case RunState::kConnecting:
            return "Connecting to " + status.server + ":" + status.port + last_error;
        case RunState::kStreaming:
            if (status.entry.empty()) {
                return "Connected to " + status.server + ":" + status.port + last_error;
            }
            return "Streaming " + status.title + " (" + status.entry + ")" + last_error;
        case RunState::kWaitingToReconnect:
            if (status.countdown == 0) {
                return "Reconnecting to " + status.server + ":" + status.port + last_error;
            }
            return strformat("Waiting to reconnect [%d]", status.countdown) + last_error;
        case RunState::kIdle:
            return "Idle: nothing in the playlist could be played" + last_error;
        case RunState::kStopped:
            return "Stopped" + last_error;
    }
    return "";
}

void record_error(RunStatus& status, const std::string& text) {
    status.last_error = text;
    status.last_error_time = wall_clock_second();
    status.seconds_sent_at_error = status.seconds_sent;
    status.connected_since.reset();
}

void record_playlist_failure(RunStatus& status) {
    const std::string& reason = playlist_failure_reason();
    record_error(status, "Playlist (" + playlist + ") could not be loaded" +
                             (reason.empty() ? "" : ": " + reason));
}

void publish_status(const RunStatus& status) {
    if (!status_file.empty()) {
        const std::time_t now = wall_clock_second();
        if (!published.written || published.path != status_file ||
            changed_apart_from_counters(published.status, status) || now != published.second) {
            write_status_file(status, now);
            published.written = true;
            published.path = status_file;
            published.status = status;
            published.second = now;
        }
    }
    if (service_notify_enabled()) {
        std::string summary = status_summary(status);
        if (summary != published.summary) {
            notify_status(summary);
            published.summary = std::move(summary);
        }
    }
}

void reset_status_publication() {
    published = Published{};
    reset_status_file();
}

}  // namespace tarnel
