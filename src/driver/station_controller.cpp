#include "driver/station_controller.h"

#include "config/config_file.h"
#include "config/log.h"
#include "config/playlist.h"
#include "config/settings.h"
#include "config/strformat.h"
#include "config/wall_clock.h"
#include "driver/as_run_log.h"
#include "driver/entry_check.h"
#include "driver/file_streamer.h"
#include "driver/playlist_reload.h"
#include "driver/playlist_traversal.h"
#include "driver/status_file.h"

namespace tarnel {

namespace {

using Json = nlohmann::ordered_json;

// A position index from 0 as a place counted from 1; a position outside the list (after a
// reload) is where the selection starts again, the first.
long place(long index, size_t size) {
    return index >= 0 && static_cast<size_t>(index) < size ? index + 1 : 1;
}

Json object_position() {
    Json json;
    json["mode"] = "object";
    const long step = place(clock_pos, clock_list.size());
    json["clock_step"] = step;
    json["clock_steps"] = clock_list.size();
    const std::string& name = clock_list[static_cast<size_t>(step - 1)];
    json["object"] = name;
    for (size_t i = 0; i < object_list.size(); ++i) {
        if (object_list[i][0] == name) {
            const size_t items = object_list[i].size() - 1;
            const long position = i < playlist_list_pos.size() ? playlist_list_pos[i] : 1;
            json["item"] = items == 0 ? 0 : place(position - 1, items);
            json["items"] = items;
            return json;
        }
    }
    json["item"] = 0;
    json["items"] = 0;
    return json;
}

Json queue_json(const PlayQueue& queue) {
    Json entries = Json::array();
    for (const std::string& entry : queue.entries()) {
        entries.push_back(Json{{"entry", entry}});
    }
    return entries;
}

}  // namespace

Json playlist_position() {
    if (playlist_mode == kPlaylistBasic && !playlist_list.empty()) {
        Json json;
        json["mode"] = "basic";
        json["entry"] = place(playlist_pos, playlist_list.size());
        json["entries"] = playlist_list.size();
        return json;
    }
    if (playlist_mode == kPlaylistObject && !clock_list.empty()) {
        return object_position();
    }
    return nullptr;
}

Json StationController::status() {
    Json json = status_object(state_.status, wall_clock_second());
    if (const std::optional<std::string> queued = state_.queue.peek_next()) {
        json["next"] = Json{{"entry", *queued}, {"queued", true}};
    } else if (const std::optional<std::string> upcoming = upcoming_playlist_entry(state_)) {
        json["next"] = Json{{"entry", *upcoming}, {"queued", false}};
    } else {
        json["next"] = nullptr;
    }
    json["queue"] = queue_json(state_.queue);
    json["position"] = playlist_position();
    return json;
}

std::vector<std::string> StationController::queue() {
    const auto& entries = state_.queue.entries();
    return std::vector<std::string>(entries.begin(), entries.end());
}

void StationController::skip() {
    nsv_log("Control request: skip to the next track");
    state_.skip_requested = true;
}

ControlOutcome StationController::enqueue(const std::string& entry) {
    const std::string problem = entry_problem(entry);
    if (!problem.empty()) {
        return {Refusal::kBadEntry, problem};
    }
    if (!state_.queue.add(entry)) {
        return {Refusal::kQueueFull,
                strformat("the queue is full: it holds %zu entries", PlayQueue::kCapacity)};
    }
    nsv_log(strformat("Control request: queued %s (%zu in the queue)", entry.c_str(),
                      state_.queue.entries().size()));
    return {};
}

ControlOutcome StationController::unqueue(size_t number) {
    const auto& entries = state_.queue.entries();
    if (number < 1 || number > entries.size()) {
        return {Refusal::kNoSuchItem, strformat("there is no item %zu in the queue (it holds %zu)",
                                                number, entries.size())};
    }
    const std::string entry = entries[number - 1];
    state_.queue.remove(number);
    nsv_log(
        strformat("Control request: removed item %zu (%s) from the queue", number, entry.c_str()));
    return {};
}

ControlOutcome StationController::play(const std::string& entry) {
    const std::string problem = entry_problem(entry);
    if (!problem.empty()) {
        return {Refusal::kBadEntry, problem};
    }
    nsv_log("Control request: play " + entry + " now");
    state_.queue.play_now(entry);
    // A file that plays ends after the second in progress, with the end marker; otherwise the
    // entry is simply the next one taken up.
    if (state_.in_file) {
        state_.skip_requested = true;
    }
    return {};
}

ControlOutcome StationController::set_title(const std::string& title) {
    if (!state_.in_file) {
        return {Refusal::kNothingPlays, "no file is playing"};
    }
    // The same bound as a title from a file's header: the title reaches every sink and the server.
    const std::optional<std::string> cut = cut_header_value(title);
    const std::string& taken = cut ? *cut : title;
    nsv_log("Control request: title " + taken);
    state_.requested_title = taken;
    return {};
}

ControlOutcome StationController::reload(ReloadTarget target) {
    if (target == ReloadTarget::kConfig) {
        nsv_log("Control request: config file reloading");
        if (!load_config()) {
            return {Refusal::kFailed, "the configuration file '" + config_file +
                                          "' could not be loaded; the settings stay as they were"};
        }
        return {Refusal::kNone, "Configuration file loaded from '" + config_file + "'"};
    }
    nsv_log("Control request: playlist reloading");
    if (!reload_playlist_keeping_old()) {
        const std::string outcome = "the playlist (" + playlist +
                                    ") could not be loaded; the one loaded before stays in force";
        nsv_log("Control request: " + outcome);
        return {Refusal::kFailed, outcome};
    }
    if (playlist_mode == kPlaylistObject) {
        return {Refusal::kNone, strformat("Playlist %s loaded: %zu objects, a clock of %zu steps",
                                          playlist.c_str(), object_list.size(), clock_list.size())};
    }
    return {Refusal::kNone,
            strformat("Playlist %s loaded: %zu entries", playlist.c_str(), playlist_list.size())};
}

ControlOutcome StationController::history(size_t count, std::vector<Json>& records) {
    const std::string failure = read_history(count, records);
    if (!failure.empty()) {
        return {Refusal::kFailed, failure};
    }
    return {};
}

}  // namespace tarnel
