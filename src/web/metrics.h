#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "web/station_reading.h"

namespace tarnel::web {

// Label values longer than this (titles, entries) are cut at a character boundary, so that one
// series stays small whatever a title holds.
constexpr size_t kMaxLabelBytes = 256;

// The states a station can be in, as its status file names them; tarnel_station_state has one
// series per station for each.
extern const char* const kStationStates[6];

// The stations in Prometheus' text format (version 0.0.4): for each station (label "station")
// whether it is up and its state, the counters of its status file (media seconds and bytes sent,
// reconnections), the times of its last error, connection and update, the first-byte delay
// histogram when its status file has one, and an info series with its entry and title: the only
// series whose labels change with what plays. left_out counts stations not read (kMaxStations).
std::string metrics_text(const std::vector<StationReading>& stations, size_t left_out,
                         std::time_t now);

// A label value with \, " and line ends escaped, cut to kMaxLabelBytes.
std::string label_value(const std::string& text);

}  // namespace tarnel::web
