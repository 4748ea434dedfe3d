#pragma once

namespace tarnel {

// The program's exit statuses. A service manager restarts a unit whose program ended with a
// failure status (Restart=on-failure), and shows it failed; an end reported as success would
// leave a station off the air without a word.
constexpr int kExitOrderly = 0;  // --help, --version, or an end that was asked for
constexpr int kExitFailure = 1;  // the run ended because something failed

}  // namespace tarnel
