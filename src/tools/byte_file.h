#pragma once

#include <string>

namespace tarnel {

// Reads a whole file into bytes; false when it cannot be opened or read.
bool read_whole_file(const std::string& path, std::string& bytes);

// Writes bytes as the whole content of a file, replacing it; false when it cannot be written
// completely (a partly written file is removed).
bool write_whole_file(const std::string& path, const std::string& bytes);

}  // namespace tarnel
