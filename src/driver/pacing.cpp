#include "driver/pacing.h"

#include "config/signals.h"
#include "config/wall_clock.h"
#include "driver/control_session.h"
#include "driver/loop_wait.h"
#include "driver/service_notify.h"

namespace tarnel {

void wait_for_next_second(std::time_t second_start) {
    for (;;) {
        carry_out_signals();
        notify_watchdog();
        if (wall_clock_second() != second_start) {
            return;
        }
        wait_once(deadline_towards_tick(second_start + 1));
    }
}

void pause_handling_signals(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    for (auto now = std::chrono::steady_clock::now(); now < end;
         now = std::chrono::steady_clock::now()) {
        carry_out_signals();
        notify_watchdog();
        serve_control_in_pause();
        wait_once(WaitDeadline::steady(end));
    }
    carry_out_signals();
}

}  // namespace tarnel
