#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "driver/delay_histogram.h"

namespace tarnel {

// What the program is doing, as a monitoring system or the service manager sees it.
enum class RunState {
    kStarting,            // loading the configuration and the playlist
    kConnecting,          // opening a source connection and logging in
    kStreaming,           // connected: streaming, or choosing the next entry
    kWaitingToReconnect,  // the countdown after a failed connection
    kIdle,                // connected, but a whole pass over the playlist had nothing to play
    kStopped,             // the run has ended by itself
};

// The state of the run, kept by the driver and shown in the status file and to the service
// manager. Counters run over the whole process, across source connections.
struct RunStatus {
    RunState state = RunState::kStarting;
    // The server of the current or last connection attempt, as configured.
    std::string server;
    std::string port;
    // The mount the stream is sent to (Mount=); none with the legacy protocol, whose log-in names
    // no mount and leaves it to the server.
    std::optional<std::string> mount;
    // When the open source connection logged in; none while there is none.
    std::optional<std::time_t> connected_since;
    // The playlist entry that plays (or played last) and its title; empty before the first.
    std::string entry;
    std::string title;
    long second = 0;  // the last second of the entry that was sent, counted from 1
    uint64_t bytes_sent = 0;
    uint64_t seconds_sent = 0;
    // How late the first byte of each second sent on a tick left after that tick.
    DelayHistogram first_byte_delay;
    unsigned reconnections = 0;  // attempts to connect again after a failure
    std::string last_error;
    std::optional<std::time_t> last_error_time;
    uint64_t seconds_sent_at_error = 0;  // seconds_sent when the last error happened
    int countdown = 0;  // while waiting to reconnect: the step shown (30 down to 0)
};

// "starting", "connecting", "streaming", "waiting to reconnect", "idle" or "stopped".
const char* state_name(RunState state);

// One line saying what the program does, for the service manager's status: which title streams,
// the reconnection countdown, the last error until a second has been sent after it (the station
// has recovered; the status file keeps the error). It changes with the state, the entry, the
// countdown and that recovery, not with every second sent.
std::string status_summary(const RunStatus& status);

// Records a failure: its text and time; the source connection is gone.
void record_error(RunStatus& status, const std::string& text);

// Records that the playlist (the Playlist setting) could not be loaded.
void record_playlist_failure(RunStatus& status);

// Shows the status where it is watched: in the status file (StatusFile=), rewritten when anything
// but the counters changed and otherwise at most once per wall-clock second, and as the service
// manager's status line when its text changed. Does nothing when neither is in use.
void publish_status(const RunStatus& status);

// Forgets what was published (tests).
void reset_status_publication();

}  // namespace tarnel
