#pragma once

#include <ctime>
#include <nlohmann/json.hpp>
#include <vector>

#include "web/station_reading.h"

namespace tarnel::web {

// How many of a station's last history items the page shows.
constexpr size_t kPageHistoryItems = 5;

// What the page shows of one station, as JSON: its name, whether it is up and its state, what
// is on air and how far it has got, what comes next and the queue, the last error and when it
// happened, the counters, the last history items, and whether it can be controlled (it has a
// control socket that answered) with the directory its file picker lists.
nlohmann::json station_card(const StationReading& station, std::time_t now);

// The page's data: {"stations": [card, ...], "left_out": N, "time": "..."}.
nlohmann::json dashboard_json(const std::vector<StationReading>& stations, size_t left_out,
                              std::time_t now);

}  // namespace tarnel::web
