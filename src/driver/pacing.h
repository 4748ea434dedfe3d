#pragma once

#include <chrono>
#include <ctime>

namespace tarnel {

// Waits until the wall clock's second counter differs from second_start, carrying out recorded
// signals on every poll. Wakes within a few milliseconds of the tick: it sleeps towards the tick
// in short steps, then polls every millisecond.
void wait_for_next_second(std::time_t second_start);

// Sleeps for the given time, carrying out recorded signals at least every 50 ms.
void pause_handling_signals(std::chrono::milliseconds duration);

}  // namespace tarnel
