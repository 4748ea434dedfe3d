#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "tools/station_report.h"

namespace tarnel {

// Told after each media file: how many are done, and how many there are in all.
using CheckProgress = std::function<void(size_t done, size_t total)>;

// Checks the station that `tarnel config_path` would run from the current working directory. The
// configuration and the playlist are read by tarnel's own loaders, whose log lines are captured
// instead of written; when the playlist changes directory ("#cd"), the reload that "#reload" or
// SIGUSR1 would do is carried out too. Every media entry is then opened and walked from the
// directory the playlist left. Nothing is written and nothing is sent; the working directory is
// restored before it returns. The settings and the playlist model stay as loaded. With
// require_config, the configuration is loaded as `tarnel --require-config` (the service unit)
// loads it: a file that cannot be loaded is an error, since the station would not start.
StationReport check_station(const std::string& config_path, const CheckProgress& progress = {},
                            bool require_config = false);

}  // namespace tarnel
