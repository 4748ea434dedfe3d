#pragma once

#include <string>
#include <vector>

#include "web/station_reading.h"

namespace tarnel::web {

// The stations of a machine as the run directory shows them: one folder NAME/ per station, with
// NAME/status.json (StatusFile=) and NAME/control.sock (ControlSocket=). Read anew at every
// request, so stations that come and go are seen without a restart.

struct StationList {
    std::vector<std::string> names;  // sorted
    size_t left_out = 0;             // folders past kMaxStations
};

// The folders of run_dir with a valid station name that hold a status file or a control socket.
StationList list_stations(const std::string& run_dir);

std::string status_file_path(const std::string& run_dir, const std::string& name);
std::string control_socket_path(const std::string& run_dir, const std::string& name);

// Reads one station's status file (at most kMaxStatusFileBytes) and checks that its process runs
// and whether it has a control socket. Nothing is written or signalled.
StationReading read_station(const std::string& run_dir, const std::string& name);

// Whether a process with this id exists (of any user).
bool process_exists(long pid);

}  // namespace tarnel::web
