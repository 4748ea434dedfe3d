#pragma once

#include <optional>
#include <string>

#include "driver/idle_log.h"
#include "driver/play_queue.h"
#include "driver/run_status.h"

namespace tarnel {

// Values main keeps across files and source connections.
struct DriverState {
    // The last log or status line formatted by the driver, cut at 255 bytes; the debug subtitle
    // mode shows it.
    std::string line_buffer;
    std::string current_entry;  // the playlist entry being played
    std::string file_title;     // title and URL of the file that plays
    std::string file_url;
    int current_object = 0;  // object mode: index of the object being played
    RunStatus status;        // what the status file and the service manager are shown
    IdleLog idle_log;        // keeps the log quiet while nothing can be played

    // What the control socket asks for: entries to play, a skip (taken like next_track, at the
    // same place), and a title for the file that plays.
    PlayQueue queue;
    bool skip_requested = false;
    std::optional<std::string> requested_title;
    // Whether a file is open and streaming, and whether it (or the last one) came from the queue.
    bool in_file = false;
    bool file_queued = false;

    // Keeps line in line_buffer (cut at 255 bytes) and returns it whole for logging.
    const std::string& remember(const std::string& line) {
        constexpr size_t kLineBufferChars = 255;
        line_buffer = line.substr(0, kLineBufferChars);
        return line;
    }
};

}  // namespace tarnel
