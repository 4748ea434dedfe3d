#pragma once

#include <cstddef>
#include <string>

namespace tarnel {

// One read of the configuration file takes at most this many characters (a 255-byte buffer); a
// longer line arrives in pieces and each piece counts as a line of its own.
constexpr size_t kConfigLineChars = 254;

// Reads config_file over the current settings. Returns false (with a warning) when the file cannot
// be opened; settings not named in the file keep their current values.
bool load_config();

// Applies one configuration line (line end already cut) to the settings. Keys count only at the
// start of the line. Returns false when the line holds no known key. A value the key cannot take
// (a Mount= that does not start with "/") leaves the setting empty and sets *invalid.
bool apply_config_line(const std::string& line, bool* invalid = nullptr);

}  // namespace tarnel
