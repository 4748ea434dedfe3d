#pragma once

#include "tools/station_report.h"

namespace tarnel {

// The station-wide part of a check, over the facts already gathered (no file is read): the
// duration of each object, of a pass over the clock and of a basic playlist; objects that are
// empty, never on the clock, defined twice, or hold nothing playable; a station with nothing to
// play; picture sizes or codes that differ from most files; files whose peak second is well above
// Bitrate=. Appends its findings to report.findings.
void analyse_station(StationReport& report);

// A file's peak second is "well above" Bitrate= beyond this factor.
constexpr double kPeakAboveBitrateFactor = 1.5;

}  // namespace tarnel
