#include "driver/pacing.h"

#include <algorithm>
#include <thread>

#include "config/signals.h"

namespace tarnel {

namespace {

// The longest sleep between two looks at the recorded signals.
constexpr std::chrono::milliseconds kSignalPoll{50};
// The pacing wait polls the clock this often once the tick is near.
constexpr std::chrono::milliseconds kTickPoll{1};

// Time left until the second after second_start begins. time() reads a coarse clock that can lag
// the precise one by a few milliseconds, so the tick is measured from second_start itself: just
// after the precise clock's tick this is zero or negative, never a whole second.
std::chrono::milliseconds until_tick_after(std::time_t second_start) {
    const auto tick = std::chrono::system_clock::from_time_t(second_start + 1);
    return std::chrono::duration_cast<std::chrono::milliseconds>(tick -
                                                                 std::chrono::system_clock::now());
}

}  // namespace

void wait_for_next_second(std::time_t second_start) {
    while (std::time(nullptr) == second_start) {
        carry_out_signals();
        // Sleep most of the way to the tick, leaving the last few milliseconds to 1 ms polls.
        const auto remaining = until_tick_after(second_start) - std::chrono::milliseconds(3);
        std::this_thread::sleep_for(remaining > kTickPoll ? std::min(remaining, kSignalPoll)
                                                          : kTickPoll);
    }
}

void pause_handling_signals(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    for (auto now = std::chrono::steady_clock::now(); now < end;
         now = std::chrono::steady_clock::now()) {
        carry_out_signals();
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(end - now, kSignalPoll));
    }
    carry_out_signals();
}

}  // namespace tarnel
