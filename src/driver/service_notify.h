#pragma once

#include <string>

namespace tarnel {

// Messages to the service manager (systemd's notify protocol): one datagram of "KEY=value" lines
// sent to the Unix datagram socket that NOTIFY_SOCKET names, a path or, after "@", an abstract
// name. Without that variable (the program was not started by a service manager) nothing is sent.
// A message never blocks the stream: when the manager does not take it at once it is dropped.

// Whether NOTIFY_SOCKET names a socket that messages go to.
bool service_notify_enabled();

// Sends message (for example "READY=1").
void notify_service(const std::string& message);

// Sends "STATUS=" + text, its control characters replaced: a line feed in a title would start a
// field of its own (WATCHDOG=trigger, STOPPING=1) that the manager obeys.
void notify_status(const std::string& text);

// Sends "WATCHDOG=1" when the manager asked for keep-alive pings (WATCHDOG_USEC is set, and
// WATCHDOG_PID, if set, is this process): at most twice a second, and at least twice per
// watchdog period when called often enough. Called from every wait of the program and after
// each second sent, and from nowhere else, so the pings stop when the program hangs.
void notify_watchdog();

// Reads the environment again at the next call (tests).
void reset_service_notify();

}  // namespace tarnel
