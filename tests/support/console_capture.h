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

// Whether text holds pattern at offset at, where '9' in the pattern stands for any decimal digit
// and every other character for itself.
bool fits_pattern(const std::string& text, size_t at, const std::string& pattern);

// Whether a time stamp "<MM/DD/YYYY@hh:mm:ss> " (22 characters) starts at offset at.
bool is_stamp_at(const std::string& text, size_t at);

// Whether text is one or more whole log lines: a time stamp, then no '<', then a line feed.
bool is_stamped_lines(const std::string& text);

// Drops the spaces before each line feed: the console pads a line over a longer one before it.
std::string without_padding(const std::string& text);

// The log lines on a console: without time stamps, padding and the carriage returns that go
// before a log line when the status line may be on screen.
std::string logged_lines(const std::string& console);

}  // namespace tarnel::test
