#pragma once

#include <string>
#include <string_view>

namespace tarnel {

// Whether bytes, the start of a file, begin NSV data: a file header ("NSVf") or a sync frame
// ("NSVs").
bool starts_as_nsv(std::string_view bytes);

// Why entry cannot be queued or played, or an empty string when it is a readable regular file
// whose start is NSV. The file is opened without blocking, so a FIFO or a device cannot hold the
// station; a relative path starts in the working directory, as a playlist entry's does.
std::string entry_problem(const std::string& entry);

}  // namespace tarnel
