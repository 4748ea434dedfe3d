#pragma once

#include <cstddef>
#include <string>

namespace tarnel {

// One read of the configuration file takes at most this many characters (a 255-byte buffer); a
// longer line arrives in pieces and each piece counts as a line of its own.
constexpr size_t kConfigLineChars = 254;

// Reads config_file over the current settings; settings not named in the file keep their current
// values. Returns false when the file cannot be opened, logged as a warning that the settings stay
// (or, when the file is required, as the fatal line of a run that ends), then a line with the
// file's path and the reason.
bool load_config(bool required = false);

// Applies one configuration line (line end already cut) to the settings. Keys count only at the
// start of the line. Returns false when the line holds no known key. A value the key cannot take
// (a Mount= that does not start with "/") leaves the setting empty and sets *invalid.
bool apply_config_line(const std::string& line, bool* invalid = nullptr);

}  // namespace tarnel
