#pragma once

#include "control/control_reply.h"
#include "control/control_request.h"
#include "control/station_control.h"

namespace tarnel {

// The most as-run records one GET /history returns, and how many it returns without ?n=.
constexpr size_t kMaxHistoryItems = 1000;
constexpr size_t kDefaultHistoryItems = 10;

// Answers a complete request of the control protocol: finds its path and method, checks its
// body, has the station carry it out and turns the outcome into the reply (200, or 400 for a bad
// body or entry, 404 for an unknown path or queue item, 405 for a method the path does not take,
// 409 for a full queue or no file playing, 500 for a failed reload).
ControlReply answer_control_request(const ControlRequest& request, StationControl& station);

}  // namespace tarnel
