#pragma once

// Turns what tarnel's loaders say while they load (their log lines, and what the playlist loader
// notes about lines it passes over in silence) into findings. Pure functions: no file is read.

#include <functional>
#include <string>
#include <vector>

#include "config/playlist.h"
#include "tools/station_report.h"

namespace tarnel {

// The text of a configuration line by its number, as the loader counts lines.
using ConfigLineText = std::function<std::string(int line_number)>;

// The lines load_config() logged for config_file.
void add_config_findings(const std::vector<std::string>& lines, const std::string& config_file,
                         const ConfigLineText& line_text, std::vector<Finding>& findings);

// The lines load_playlist() logged and the notes it made for the playlist file.
void add_playlist_findings(const std::vector<std::string>& lines,
                           const std::vector<PlaylistNote>& notes, const std::string& playlist,
                           std::vector<Finding>& findings);

}  // namespace tarnel
