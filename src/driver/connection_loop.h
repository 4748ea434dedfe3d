#pragma once

#include "driver/driver_state.h"

namespace tarnel {

// Opens source connections and streams the playlist over them, forever. A failed connection,
// log-in or send is logged as "Error: " and its text; with AutoReconnect on, a 31-second
// countdown follows and a new connection resumes the interrupted entry from its start. Returns
// the exit status, a failure (kExitFailure), when a connection failed with reconnection off or a
// "#reload" marker could not reload the playlist.
int run_connection_loop(DriverState& state);

}  // namespace tarnel
