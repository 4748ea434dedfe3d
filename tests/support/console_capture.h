#pragma once

#include <sstream>
#include <string>

#include "config/log.h"

namespace tarnel::test {

// Sends console output to a string for its lifetime, starting from a clean console state.
class ConsoleCapture {
  public:
    ConsoleCapture() {
        reset_console_state();
        set_console(&out_);
    }
    ~ConsoleCapture() {
        set_console(nullptr);
        reset_console_state();
    }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    std::string text() const { return out_.str(); }
    void clear() { out_.str(""); }

  private:
    std::ostringstream out_;
};

// Strips the 22-character time stamps that follow line starts and carriage returns, so console
// and log text can be compared exactly.
std::string without_stamps(const std::string& text);

}  // namespace tarnel::test
