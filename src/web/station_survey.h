#pragma once

#include <string>
#include <vector>

#include "web/run_directory.h"
#include "web/station_reading.h"

namespace tarnel::web {

// Every station of the run directory read now. With control, each station's control socket is
// also asked for its status and its last history items; those requests run on a few threads at
// once, so a station that is slow to answer (each has a time limit) holds up only its own card.
struct Survey {
    std::vector<StationReading> stations;
    size_t left_out = 0;
};

Survey survey_stations(const std::string& run_dir, bool control);

}  // namespace tarnel::web
