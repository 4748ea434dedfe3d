#include "web/dashboard_data.h"

#include <string>

namespace tarnel::web {

namespace {

using nlohmann::json;

json field(const json& object, const char* key) {
    if (!object.is_object()) {
        return nullptr;
    }
    const auto found = object.find(key);
    return found == object.end() ? json(nullptr) : *found;
}

std::string utc_text(std::time_t time) {
    std::tm utc{};
    gmtime_r(&time, &utc);
    char buffer[32];
    const size_t written = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(buffer, written);
}

}  // namespace

json station_card(const StationReading& station, std::time_t now) {
    // The control socket's status is the status file's object and more; it is the newer of the
    // two when it answered.
    const json& status =
        station.control_status.is_object() ? station.control_status : station.status;
    json card;
    card["name"] = station.name;
    card["up"] = station_up(station, now);
    for (const char* key : {"state", "entry", "title", "second", "seconds_sent", "bytes_sent",
                            "reconnections", "last_error", "last_error_time", "connected_since",
                            "updated", "server", "port", "mount", "pid"}) {
        card[key] = field(status, key);
    }
    card["problem"] = station.status.is_object() ? json(nullptr) : json(station.status_problem);
    const bool controllable = station.control_status.is_object();
    card["control"] = controllable;
    card["control_problem"] =
        station.has_control_socket && !controllable && !station.control_problem.empty()
            ? json(station.control_problem)
            : json(nullptr);
    card["next"] = field(station.control_status, "next");
    const json queue = field(station.control_status, "queue");
    card["queue"] = queue.is_array() ? queue : json::array();
    card["position"] = field(station.control_status, "position");
    card["directory"] = field(station.control_status, "directory");
    json history = json::array();
    const json items = field(station.history, "items");
    if (items.is_array()) {
        const size_t first =
            items.size() > kPageHistoryItems ? items.size() - kPageHistoryItems : 0;
        for (size_t i = first; i < items.size(); ++i) {
            history.push_back(items[i]);
        }
    }
    card["history"] = history;
    return card;
}

json dashboard_json(const std::vector<StationReading>& stations, size_t left_out, std::time_t now) {
    json cards = json::array();
    for (const StationReading& station : stations) {
        cards.push_back(station_card(station, now));
    }
    return {{"stations", cards}, {"left_out", left_out}, {"time", utc_text(now)}};
}

}  // namespace tarnel::web
