#pragma once

#include <ctime>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace tarnel::web {

// What tarnel-web knows of one station at one moment: its status file (the object the station
// writes), whether its process runs, and for the page what its control socket said.
struct StationReading {
    std::string name;
    // The status file's object; null when there is none or it could not be read.
    nlohmann::json status;
    std::string status_problem;  // why status is null
    bool process_alive = false;  // the status file's pid names a running process
    bool has_control_socket = false;
    // For the page: GET /status and GET /history of the control socket (null when not asked or
    // not answered), and why not.
    nlohmann::json control_status;
    nlohmann::json history;
    std::string control_problem;
};

// A status file is read only up to this size: a station writes about 1 KiB.
constexpr size_t kMaxStatusFileBytes = 1024 * 1024;

// At most this many stations are read; more folders are left out (and counted), so that what
// the metrics hold stays bounded whatever the run directory holds.
constexpr size_t kMaxStations = 5000;

// A status file whose last update is older than this is stale: the station rewrites it every
// second while it streams, counts down or is idle, and a connection attempt (the longest step
// without a rewrite) takes well under a minute.
constexpr long kStaleAfterSeconds = 120;

// Whether a folder name can be a station: printable ASCII without '/', not starting with '.',
// at most 128 characters (systemd instance names escape everything else).
bool station_name_valid(const std::string& name);

// The status file's text as an object; nullopt (with the reason) when it is not a JSON object.
std::optional<nlohmann::json> parse_status_text(const std::string& text, std::string& reason);

// "2024-05-01T12:00:00Z" as seconds since the epoch; nullopt for anything else.
std::optional<std::time_t> parse_utc_time(const std::string& text);

// Whether the station is up: its status file was read, its state is not "stopped", its process
// runs, and the file was updated within kStaleAfterSeconds of now.
bool station_up(const StationReading& station, std::time_t now);

}  // namespace tarnel::web
