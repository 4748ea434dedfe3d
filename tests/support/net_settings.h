#pragma once

#include "config/settings.h"
#include "net/net_timeouts.h"

namespace tarnel::test {

// Default settings and network time-outs for the lifetime of a test, with no log file and no
// status line, so the log lines reach only the console (capture it with ConsoleCapture).
class ScopedNetSettings {
  public:
    ScopedNetSettings() { restore(); }
    ~ScopedNetSettings() {
        reset_settings();
        reset_net_timeouts();
    }
    ScopedNetSettings(const ScopedNetSettings&) = delete;
    ScopedNetSettings& operator=(const ScopedNetSettings&) = delete;

  private:
    static void restore() {
        reset_settings();
        reset_net_timeouts();
        logfile = "NULL";
        realtime = false;
        screenlog = true;
    }
};

}  // namespace tarnel::test
