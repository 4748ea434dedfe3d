#pragma once

// Turns what tarnel's loaders say while they load (their log lines, and what the playlist loader
// notes about lines it passes over in silence) into findings. Pure functions: no file is read.

#include <functional>
#include <string>
#include <vector>

#include "config/playlist.h"
#include "tools/station_report.h"

namespace tarnel {

// A configuration line by its number, as the loader counts lines, as the report shows it (see
// shown_config_line).
using ConfigLineText = std::function<std::string(int line_number)>;

// A piece of a configuration line as the report shows it: quoted, with the value masked when the
// line's key looks like a password setting (Password=, a lowercase password=, "Password =",
// passwd, pwd, secret), so that a report never shows a secret. line_start is the first piece of
// the line (the piece itself, unless the line was longer than the loader reads at once): a piece
// that continues a password line is masked whole, and says why it is a line of its own.
std::string shown_config_line(const std::string& piece, const std::string& line_start);

// The lines load_config() logged for config_file.
void add_config_findings(const std::vector<std::string>& lines, const std::string& config_file,
                         const ConfigLineText& line_text, std::vector<Finding>& findings);

// The lines load_playlist() logged and the notes it made for the playlist file.
void add_playlist_findings(const std::vector<std::string>& lines,
                           const std::vector<PlaylistNote>& notes, const std::string& playlist,
                           std::vector<Finding>& findings);

}  // namespace tarnel
