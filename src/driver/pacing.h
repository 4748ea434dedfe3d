#pragma once

#include <chrono>
#include <ctime>

namespace tarnel {

// Waits until the wall clock's second counter differs from second_start, carrying out recorded
// signals and serving watched descriptors as they come (loop_wait.h). It sleeps to the tick in
// one step, so the process wakes once a second (and for each signal or event), within a fraction
// of a millisecond after the tick. With a control socket open, its clients are served until 50 ms
// before the tick (one more wake-up a second).
void wait_for_next_second(std::time_t second_start);

// Sleeps for the given time, carrying out recorded signals and serving watched descriptors as
// they come.
void pause_handling_signals(std::chrono::milliseconds duration);

}  // namespace tarnel
