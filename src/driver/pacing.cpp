#include "driver/pacing.h"

#include "config/signals.h"

namespace tarnel {

namespace {

timespec wall_clock_now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

}  // namespace

std::time_t wall_clock_second() {
    return wall_clock_now().tv_sec;
}

void wait_for_next_second(std::time_t second_start) {
    for (;;) {
        carry_out_signals();
        const timespec now = wall_clock_now();
        if (now.tv_sec != second_start) {
            return;
        }
        // At most one second: the time left until the tick that ends second_start.
        sleep_until_signal(std::chrono::seconds(1) - std::chrono::nanoseconds(now.tv_nsec));
    }
}

void pause_handling_signals(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    for (auto now = std::chrono::steady_clock::now(); now < end;
         now = std::chrono::steady_clock::now()) {
        carry_out_signals();
        sleep_until_signal(end - now);
    }
    carry_out_signals();
}

}  // namespace tarnel
