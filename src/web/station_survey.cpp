#include "web/station_survey.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

#include "web/control_client.h"
#include "web/dashboard_data.h"

namespace tarnel::web {

namespace {

// Control sockets asked at once for the page.
constexpr size_t kControlWorkers = 8;

void ask_control_socket(const std::string& run_dir, StationReading& station) {
    if (!station.has_control_socket) {
        return;
    }
    const std::string socket = control_socket_path(run_dir, station.name);
    const ControlReply status = control_request(socket, "GET", "/status");
    if (!status.ok() || !status.body.is_object()) {
        station.control_problem = status.ok() ? "the station's status is no object" : status.error;
        return;
    }
    station.control_status = status.body;
    const ControlReply history =
        control_request(socket, "GET", "/history?n=" + std::to_string(kPageHistoryItems));
    if (history.ok()) {
        station.history = history.body;
    }
}

}  // namespace

Survey survey_stations(const std::string& run_dir, bool control) {
    const StationList list = list_stations(run_dir);
    Survey survey;
    survey.left_out = list.left_out;
    survey.stations.reserve(list.names.size());
    for (const std::string& name : list.names) {
        survey.stations.push_back(read_station(run_dir, name));
    }
    if (!control) {
        return survey;
    }
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t i = next++; i < survey.stations.size(); i = next++) {
            ask_control_socket(run_dir, survey.stations[i]);
        }
    };
    const size_t workers = std::min(kControlWorkers, survey.stations.size());
    std::vector<std::thread> threads;
    for (size_t i = 1; i < workers; ++i) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // no thread to be had: the ones started (and this one) do the work
        }
    }
    work();
    for (std::thread& thread : threads) {
        thread.join();
    }
    return survey;
}

}  // namespace tarnel::web
