#pragma once

#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "driver/driver_state.h"
#include "driver/loop_wait.h"

namespace tarnel {

class ControlServer;
class StationController;

// The control socket of the running station (ControlSocket=), open for the session's lifetime.
// Its descriptors (the listener and each client) are watched by the main flow's waits
// (loop_wait.h), so requests are served between seconds, on the main thread, at the same safe
// points as signals, and the stream never waits for a client. One session at a time; while it is
// open, the as-run history is kept in memory too.
class ControlSession {
  public:
    // Listens at path for the station whose state is given. Throws ControlSocketError.
    ControlSession(DriverState& state, const std::string& path);
    // Closes the connections and removes the socket file.
    ~ControlSession();
    ControlSession(const ControlSession&) = delete;
    ControlSession& operator=(const ControlSession&) = delete;

    // Before a wait: clients whose time is up are dropped (when serving), the watches follow the
    // server's descriptors, and are armed (serving) or not (the stretch before a tick).
    void prepare_wait(bool serving);

  private:
    // Serves what is ready, from a watch's handler. The watches are brought up to date by the
    // next prepare_wait(), not here: a handler must not destroy its own watch.
    void serve();

    std::unique_ptr<StationController> controller_;
    std::unique_ptr<ControlServer> server_;
    std::vector<std::unique_ptr<WaitWatch>> watches_;
};

// Whether a control session is open.
bool control_session_open();

// The deadline of the next wait towards the wall-clock tick that starts second tick. Without a
// control session, the tick. With one, and more than 50 ms left, 50 ms before the tick, with the
// control socket served meanwhile; within the last 50 ms the tick, with the control socket left
// for after it, so that a request that takes a few milliseconds never delays the tick's second.
WaitDeadline deadline_towards_tick(std::time_t tick);

// Before a wait of a pause (the reconnection countdown, nothing to play): the control socket is
// served during it.
void serve_control_in_pause();

}  // namespace tarnel
