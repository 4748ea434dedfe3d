#include "driver/pacing.h"

#include "config/signals.h"
#include "config/wall_clock.h"
#include "driver/service_notify.h"

namespace tarnel {

namespace {

// The kernel may end a ppoll sleep late by a thousandth of its length (a millisecond for a
// second), so the last stretch before the tick is slept on its own, and the wake-up comes within
// about 50 microseconds of the tick.
constexpr std::chrono::milliseconds kFinalStretch{10};

}  // namespace

void wait_for_next_second(std::time_t second_start) {
    for (;;) {
        carry_out_signals();
        notify_watchdog();
        const timespec now = wall_clock_now();
        if (now.tv_sec != second_start) {
            return;
        }
        // At most one second: the time left until the tick that ends second_start.
        const auto left = std::chrono::seconds(1) - std::chrono::nanoseconds(now.tv_nsec);
        sleep_until_signal(left > kFinalStretch ? left - kFinalStretch : left);
    }
}

void pause_handling_signals(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    for (auto now = std::chrono::steady_clock::now(); now < end;
         now = std::chrono::steady_clock::now()) {
        carry_out_signals();
        notify_watchdog();
        sleep_until_signal(end - now);
    }
    carry_out_signals();
}

}  // namespace tarnel
