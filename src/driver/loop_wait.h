#pragma once

#include <chrono>
#include <ctime>
#include <functional>

namespace tarnel {

// The one place where the main flow sleeps. Every wait of the program (the pacing between two
// seconds, the reconnection countdown, the idle pause) is made of calls to wait_once(), which
// sleeps until its deadline, until one of the four control signals arrives, or until a watched
// descriptor is ready, whichever comes first:
//
// - the deadline is a wall-clock instant (a tick: the start of a second) or an instant of the
//   steady clock (a pause). It is kept by a timer descriptor, so the wake-up comes at the
//   instant without the kernel's slack for long sleeps (a thousandth of the length); a change of
//   the wall clock ends a wall-clock wait at once, so the caller looks at the clock again;
// - a signal recorded by a handler ends the wait (the caller carries it out); the four are
//   blocked between the look at the recorded signals and the sleep, which unblocks them in the
//   same step, so none waits for the deadline;
// - a watched descriptor (WaitWatch) that is ready has its handler called, on the main thread,
//   before wait_once() returns. A handler may log and may throw (a SocketException from the
//   source connection leaves the wait and the streaming loop alike).
//
// Anything that must be served while the program sleeps (the source connection's replies, the
// title update that runs beside the stream, a control socket) registers a WaitWatch for as long
// as it needs serving: one wake-up a second while streaming, and one more for each event.

// A descriptor served during every wait while this object lives. Not copyable or movable: it is
// registered by its address. Registration allocates only while the table grows; the table is
// process-wide (reset_loop_wait() for tests).
class WaitWatch {
  public:
    // events as for poll (POLLIN...); the handler gets the returned events (POLLHUP and POLLERR
    // included) and may throw.
    using Handler = std::function<void(short revents)>;

    WaitWatch(int descriptor, short events, Handler handler);
    ~WaitWatch();
    WaitWatch(const WaitWatch&) = delete;
    WaitWatch& operator=(const WaitWatch&) = delete;

    int descriptor() const { return descriptor_; }
    short events() const { return events_; }
    void serve(short revents) const { handler_(revents); }

    // A watch that is not armed is left out of the waits (each descriptor polled costs the
    // kernel a little at every wake-up). Watches start armed; a handler may disarm its own.
    void set_armed(bool armed) { armed_ = armed; }
    bool armed() const { return armed_; }

  private:
    int descriptor_;
    short events_;
    Handler handler_;
    bool armed_ = true;
};

// When a wait ends at the latest.
struct WaitDeadline {
    // A wall-clock instant (CLOCK_REALTIME), or an instant of std::chrono::steady_clock.
    static WaitDeadline wall_clock(std::time_t second) { return {true, second, {}}; }
    static WaitDeadline steady(std::chrono::steady_clock::time_point instant) {
        return {false, 0, instant};
    }

    bool on_wall_clock;
    std::time_t wall_second;
    std::chrono::steady_clock::time_point steady_instant;
};

// Why wait_once() returned.
enum class WakeReason {
    kDeadline,    // the deadline came (or had passed, or the wall clock was set)
    kSignal,      // a control signal was recorded (or had been, before the call)
    kDescriptor,  // one or more watched descriptors were served
};

// One sleep as described above; serves the ready watched descriptors before it returns.
WakeReason wait_once(const WaitDeadline& deadline);

// Forgets the watch table and closes the timer descriptor (tests).
void reset_loop_wait();

}  // namespace tarnel
