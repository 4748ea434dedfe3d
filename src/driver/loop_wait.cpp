#include "driver/loop_wait.h"

#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "config/signals.h"

namespace tarnel {

namespace {

using SteadyClock = std::chrono::steady_clock;

// A timer descriptor's wait is exact; ppoll's own time-out (the fallback when no timer descriptor
// can be had) may end late by a thousandth of its length. The fallback still ends every wait.
constexpr std::chrono::seconds kLongestSleep{1};

// The watch table and the timer descriptor, for the whole process. The poll list is rebuilt
// for each wait in storage that keeps its size, so a wait allocates nothing.
struct Waits {
    std::vector<const WaitWatch*> watches;
    std::vector<pollfd> poll_list;
    std::vector<const WaitWatch*> polled;  // the watch of each poll_list entry after the timer
    int timer = -1;
    bool timer_failed = false;

    ~Waits() { close_timer(); }
    void close_timer() {
        if (timer != -1) {
            close(timer);
            timer = -1;
        }
    }
};

Waits waits;

timespec as_timespec(std::chrono::nanoseconds duration) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
    return timespec{static_cast<std::time_t>(seconds.count()),
                    static_cast<long>((duration - seconds).count())};
}

// Arms the timer descriptor for the deadline; false when there is none (ppoll's time-out then
// keeps the deadline).
bool arm_timer(const WaitDeadline& deadline) {
    if (waits.timer == -1 && !waits.timer_failed) {
        // One descriptor per clock would be needed to switch clocks; a wall-clock timer serves
        // both, since a steady deadline is turned into a relative one below.
        waits.timer = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
        waits.timer_failed = waits.timer == -1;
    }
    if (waits.timer == -1) {
        return false;
    }
    itimerspec setting{};
    int flags = 0;
    if (deadline.on_wall_clock) {
        setting.it_value = timespec{deadline.wall_second, 0};
        // Absolute, and ended at once when the wall clock is set: the caller looks again.
        flags = TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET;
    } else {
        const auto left = deadline.steady_instant - SteadyClock::now();
        // A relative time of zero would disarm the timer; the earliest non-zero one fires at once.
        setting.it_value = left > std::chrono::nanoseconds(0) ? as_timespec(left) : timespec{0, 1};
    }
    return timerfd_settime(waits.timer, flags, &setting, nullptr) == 0;
}

// The time left until the deadline, for ppoll's own time-out.
std::chrono::nanoseconds time_left(const WaitDeadline& deadline) {
    if (!deadline.on_wall_clock) {
        return std::max(std::chrono::nanoseconds(0),
                        std::chrono::nanoseconds(deadline.steady_instant - SteadyClock::now()));
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const auto left = std::chrono::seconds(deadline.wall_second - now.tv_sec) -
                      std::chrono::nanoseconds(now.tv_nsec);
    return std::max(std::chrono::nanoseconds(0), std::chrono::nanoseconds(left));
}

}  // namespace

WaitWatch::WaitWatch(int descriptor, short events, Handler handler)
    : descriptor_(descriptor), events_(events), handler_(std::move(handler)) {
    waits.watches.push_back(this);
}

WaitWatch::~WaitWatch() {
    auto& watches = waits.watches;
    watches.erase(std::remove(watches.begin(), watches.end(), this), watches.end());
}

WakeReason wait_once(const WaitDeadline& deadline) {
    const bool timed = arm_timer(deadline);
    waits.poll_list.clear();
    waits.polled.clear();
    if (timed) {
        waits.poll_list.push_back(pollfd{waits.timer, POLLIN, 0});
    }
    for (const WaitWatch* watch : waits.watches) {
        if (watch->armed()) {
            waits.poll_list.push_back(pollfd{watch->descriptor(), watch->events(), 0});
            waits.polled.push_back(watch);
        }
    }
    // With a timer, ppoll's time-out only guards against a timer that never fires.
    const std::chrono::nanoseconds left = time_left(deadline);
    const timespec timeout =
        as_timespec(timed ? std::max<std::chrono::nanoseconds>(left, kLongestSleep) + kLongestSleep
                          : std::min<std::chrono::nanoseconds>(left, kLongestSleep));
    const int ready = poll_until_signal(waits.poll_list.data(), waits.poll_list.size(), &timeout);
    if (ready < 0) {
        return errno == EINTR ? WakeReason::kSignal : WakeReason::kDeadline;
    }
    const size_t first_watch = timed ? 1 : 0;
    bool served = false;
    for (size_t i = first_watch; i < waits.poll_list.size(); ++i) {
        const short revents = waits.poll_list[i].revents;
        const WaitWatch* watch = waits.polled[i - first_watch];
        // A handler run before may have ended this watch (its object is gone then).
        if (revents != 0 &&
            std::find(waits.watches.begin(), waits.watches.end(), watch) != waits.watches.end()) {
            served = true;
            watch->serve(revents);
        }
    }
    return served ? WakeReason::kDescriptor : WakeReason::kDeadline;
}

void reset_loop_wait() {
    waits.watches.clear();
    waits.close_timer();
    waits.timer_failed = false;
}

}  // namespace tarnel
