#pragma once

#include <chrono>
#include <ctime>

namespace tarnel {

// The wall clock's second counter. It reads the precise clock: time() returns a copy that the
// kernel refreshes at its own timer ticks, several milliseconds after the second has changed.
std::time_t wall_clock_second();

// Waits until the wall clock's second counter differs from second_start, carrying out recorded
// signals as they come. It sleeps to shortly before the tick and then to the tick, so the process
// wakes twice a second (and for each signal), within a fraction of a millisecond after the tick.
void wait_for_next_second(std::time_t second_start);

// Sleeps for the given time, carrying out recorded signals as they come.
void pause_handling_signals(std::chrono::milliseconds duration);

}  // namespace tarnel
