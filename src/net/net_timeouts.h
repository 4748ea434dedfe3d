#pragma once

#include <chrono>

namespace tarnel {

// Bounds on how long the network layer waits for a peer, so a stalled server can never hold the
// program forever. Each wait that runs out fails like the step it bounds.
struct NetTimeouts {
    // A connection attempt (the TCP handshake; name lookup is not included).
    std::chrono::milliseconds connect{15000};
    // One receive: no byte arrived in this time.
    std::chrono::milliseconds receive{15000};
    // A send that makes no progress at all: the peer has stopped reading.
    std::chrono::milliseconds send_progress{30000};
    // The whole title update (connection and request), so a dead administration page cannot
    // delay the next file by minutes.
    std::chrono::milliseconds title_update{5000};
    // After the password, how long the source log-in waits for an early reply before it sends
    // the header block anyway (servers that answer only after the headers).
    std::chrono::milliseconds early_reply{2000};
};

// The time-outs in force, process-wide; tests shorten them and put them back with the reset.
extern NetTimeouts net_timeouts;
void reset_net_timeouts();

}  // namespace tarnel
