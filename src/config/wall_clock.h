#pragma once

#include <ctime>

namespace tarnel {

// The wall clock, read precisely. time() returns a copy of the seconds that the kernel refreshes
// at its own timer ticks, several milliseconds after the second has changed; the pacing waits for
// the precise tick, so everything stamped with a second reads this clock too.
timespec wall_clock_now();

// The wall clock's second counter.
std::time_t wall_clock_second();

}  // namespace tarnel
