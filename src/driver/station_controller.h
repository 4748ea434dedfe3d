#pragma once

#include <nlohmann/json.hpp>

#include "control/station_control.h"
#include "driver/driver_state.h"

namespace tarnel {

// The playlist's place for GET /status: {"mode": "basic", "entry", "entries"} or {"mode":
// "object", "clock_step", "clock_steps", "object", "item", "items"}, counted from 1: the entry
// (clock step, item) that plays now when the file that plays came from the playlist, otherwise
// the one the playlist plays next. Null while no playlist is loaded or it is empty.
nlohmann::ordered_json playlist_position();

// Carries out control requests on the running station: the queue and the requests in state, the
// playlist and settings, the as-run log. Called only from the main flow's waits, where the
// station is between seconds.
class StationController : public StationControl {
  public:
    explicit StationController(DriverState& state) : state_(state) {}

    nlohmann::ordered_json status() override;
    std::vector<std::string> queue() override;
    void skip() override;
    ControlOutcome enqueue(const std::string& entry) override;
    ControlOutcome unqueue(size_t number) override;
    ControlOutcome play(const std::string& entry) override;
    ControlOutcome set_title(const std::string& title) override;
    ControlOutcome reload(ReloadTarget target) override;
    ControlOutcome history(size_t count, std::vector<nlohmann::ordered_json>& records) override;

  private:
    DriverState& state_;
};

}  // namespace tarnel
