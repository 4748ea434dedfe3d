#pragma once

#include <chrono>
#include <ctime>

namespace tarnel {

// Waits until the wall clock's second counter differs from second_start, carrying out recorded
// signals as they come. It sleeps to shortly before the tick and then to the tick, so the process
// wakes twice a second (and for each signal), within a fraction of a millisecond after the tick.
void wait_for_next_second(std::time_t second_start);

// Sleeps for the given time, carrying out recorded signals as they come.
void pause_handling_signals(std::chrono::milliseconds duration);

}  // namespace tarnel
