#include "driver/connection_loop.h"

#include "config/log.h"
#include "config/settings.h"
#include "config/signals.h"
#include "config/strformat.h"
#include "config/wall_clock.h"
#include "driver/file_streamer.h"
#include "driver/pacing.h"
#include "driver/playlist_traversal.h"
#include "driver/run_status.h"
#include "driver/source_connection.h"
#include "net/socket_exception.h"

namespace tarnel {

namespace {

// Seconds counted down on the status line before a new connection is tried; one more second
// shows the "Reconnecting to" text.
constexpr int kReconnectCountdown = 30;
// A pass over the playlist that streamed nothing (every entry failed, nothing to play, only
// markers) is followed by this pause, so a missing media disk cannot spin the processor or fill
// the log disk.
constexpr std::chrono::seconds kIdlePassPause{1};

// Streams the playlist over the connection, forever. Returns only when a "#reload" marker could
// not reload the playlist; a failed send leaves by SocketException.
void stream_playlist(DriverState& state, const SourceConnection& connection) {
    size_t idle_selections = 0;
    for (;;) {
        carry_out_signals();
        bool streamed = false;
        switch (select_entry(state)) {
            case Selection::kReloadFailed:
                record_playlist_failure(state.status);
                return;
            case Selection::kPlay:
                streamed = stream_entry(state, connection);
                break;
            case Selection::kMarker:
            case Selection::kNothing:
                break;
        }
        if (streamed) {
            idle_selections = 0;
        } else if (++idle_selections >= playlist_pass_length()) {
            idle_selections = 0;
            state.status.state = RunState::kIdle;
            publish_status(state.status);
            pause_handling_signals(kIdlePassPause);
        }
    }
}

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
    for (;;) {
        start_connecting(state.status);
        try {
            const SourceConnection connection = open_source();
            connected(state.status);
            state.current_object = 0;
            stream_playlist(state, connection);
            return 0;  // a "#reload" marker failed: the run ends
        } catch (const SocketException& error) {
            state.file_title.clear();
            nsv_log("Error: " + error.text());
            record_error(state.status, error.text());
        }
        if (!autoreconnect) {
            return 0;
        }
        count_down_to_reconnect(state.status);
        if (!autoreconnect) {
            return 0;
        }
        ++state.status.reconnections;
    }
}

}  // namespace tarnel
