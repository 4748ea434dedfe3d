#include "driver/connection_loop.h"

#include "config/log.h"
#include "config/settings.h"
#include "config/signals.h"
#include "config/strformat.h"
#include "config/wall_clock.h"
#include "driver/exit_status.h"
#include "driver/file_streamer.h"
#include "driver/pacing.h"
#include "driver/run_status.h"
#include "driver/source_connection.h"
#include "net/socket_exception.h"

namespace tarnel {

namespace {

// Seconds counted down on the status line before a new connection is tried; one more second
// shows the "Reconnecting to" text.
constexpr int kReconnectCountdown = 30;

void count_down_to_reconnect(RunStatus& status) {
    status.state = RunState::kWaitingToReconnect;
    for (int n = kReconnectCountdown; n >= 0; --n) {
        display(n > 0 ? strformat("Waiting to reconnect [%d]", n)
                      : "Reconnecting to " + server + ":" + port);
        status.countdown = n;
        publish_status(status);
        pause_handling_signals(std::chrono::seconds(1));
    }
}

void start_connecting(RunStatus& status) {
    status.state = RunState::kConnecting;
    status.server = server;
    status.port = port;
    status.mount = mount.empty() ? std::nullopt : std::optional<std::string>(mount);
    publish_status(status);
}

void connected(RunStatus& status) {
    status.state = RunState::kStreaming;
    status.connected_since = wall_clock_second();
    publish_status(status);
}

}  // namespace

int run_connection_loop(DriverState& state) {
    // Kept across connections, so that a reconnection allocates nothing for streaming either.
    StreamingResources resources;
    for (;;) {
        start_connecting(state.status);
        try {
            SourceConnection connection = open_source();
            connected(state.status);
            state.current_object = 0;
            PlaylistStreamer(state, connection, resources).run();
            return kExitFailure;  // a "#reload" marker failed: the run ends
        } catch (const SocketException& error) {
            // A title update of the lost connection ends (and is logged) before its error.
            resources.titles.settle();
            state.file_title.clear();
            nsv_log("Error: " + error.text());
            record_error(state.status, error.text());
        }
        if (!autoreconnect) {
            return kExitFailure;
        }
        count_down_to_reconnect(state.status);
        if (!autoreconnect) {
            return kExitFailure;  // a configuration reload turned reconnection off meanwhile
        }
        ++state.status.reconnections;
    }
}

}  // namespace tarnel
