#pragma once

#include "driver/driver_state.h"

namespace tarnel {

// Opens the source connection to the server; a failure is logged as "Error: " and its text.
// Returns the exit status of the run.
int run_connection_loop(DriverState& state);

}  // namespace tarnel
