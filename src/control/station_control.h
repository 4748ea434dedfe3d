#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace tarnel {

// Why the station did not do what a request asked.
enum class Refusal {
    kNone,          // done
    kBadEntry,      // the entry is not a readable regular NSV file
    kQueueFull,     // the queue holds its most entries
    kNoSuchItem,    // no queue item has that number
    kNothingPlays,  // the request needs a file that plays
    kFailed,        // the station tried and failed (a reload)
};

// What became of a request: done, or refused and why (a readable message). For a reload, message
// is the outcome either way.
struct ControlOutcome {
    Refusal refusal = Refusal::kNone;
    std::string message;
};

enum class ReloadTarget { kConfig, kPlaylist };

// What the control socket asks of the station. The protocol side (control_routes) turns requests
// into these calls and their answers into replies; the station carries them out at the safe points
// of its main flow, where the requests are served.
class StationControl {
  public:
    virtual ~StationControl() = default;

    // The status object: the status file's keys, what plays next, the queue, the position.
    virtual nlohmann::ordered_json status() = 0;
    // The queue's entries in playing order.
    virtual std::vector<std::string> queue() = 0;
    // Ends the file that plays after the second in progress, as SIGUSR2 does.
    virtual void skip() = 0;
    // Adds entry to the end of the queue.
    virtual ControlOutcome enqueue(const std::string& entry) = 0;
    // Removes queue item number (counted from 1).
    virtual ControlOutcome unqueue(size_t number) = 0;
    // Plays entry now: the file that plays ends after the second in progress.
    virtual ControlOutcome play(const std::string& entry) = 0;
    // Sends title for the file that plays.
    virtual ControlOutcome set_title(const std::string& title) = 0;
    virtual ControlOutcome reload(ReloadTarget target) = 0;
    // The last count as-run records, oldest first.
    virtual ControlOutcome history(size_t count, std::vector<nlohmann::ordered_json>& records) = 0;
};

}  // namespace tarnel
