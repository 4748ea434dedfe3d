#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "driver/driver_state.h"

namespace tarnel {

class ControlServer;
class StationController;

// The control socket of the running station (ControlSocket=), open for the session's lifetime:
// its clients are served from the waits of the main flow, between seconds, so requests act at
// the same safe points as signals and the stream never waits for a client. One session at a
// time; while it is open, the as-run history is kept in memory too.
class ControlSession {
  public:
    // Listens at path for the station whose state is given. Throws ControlSocketError.
    ControlSession(DriverState& state, const std::string& path);
    // Closes the connections and removes the socket file.
    ~ControlSession();
    ControlSession(const ControlSession&) = delete;
    ControlSession& operator=(const ControlSession&) = delete;

  private:
    friend void sleep_serving_control(std::chrono::nanoseconds, std::chrono::nanoseconds);

    std::unique_ptr<StationController> controller_;
    std::unique_ptr<ControlServer> server_;
};

// Whether a control session is open.
bool control_session_open();

// Sleeps at most duration, less when a signal comes, as sleep_until_signal does. While a control
// session is open and serve_within is above zero, the sleep ends after serve_within at the latest
// and its clients wake it too; they are served before it returns (the caller sleeps on, and keeps
// the last stretch before a tick free of requests by a serve_within that ends before it).
// Without a session, or with serve_within at zero or below, it is sleep_until_signal.
void sleep_serving_control(std::chrono::nanoseconds duration,
                           std::chrono::nanoseconds serve_within);

}  // namespace tarnel
