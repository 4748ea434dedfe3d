#pragma once

#include <string>

#include "tools/station_report.h"

namespace tarnel {

// The exit status of a check: 1 when an error was found, or a warning under --strict; else 0.
int check_status(const StationReport& report, bool strict);

// The report for a person: errors, then warnings, each grouped by problem and then by file; the
// station (objects, clock, durations); every media file; the lines tarnel would log while
// loading; and a one-line summary at the end.
std::string format_check_text(const StationReport& report, bool strict);

// The same report as one JSON object on one line.
std::string format_check_json(const StationReport& report, bool strict);

// Seconds as "m:ss", or "h:mm:ss" from an hour up (rounded to the second).
std::string clock_time(double seconds);

}  // namespace tarnel
