#include "driver/playlist_traversal.h"

#include <cstdlib>
#include <ctime>
#include <optional>

#include "config/log.h"
#include "config/playlist.h"
#include "config/settings.h"
#include "config/strformat.h"

namespace tarnel {

Rand48 shuffle_random;

namespace {

// True when index is a valid position in a list of the given size.
bool within(long index, size_t size) {
    return index >= 0 && static_cast<size_t>(index) < size;
}

void basic_advance() {
    const size_t count = playlist_list.size();
    if (count > 0 && static_cast<size_t>(playlist_pos) < count - 1 && playlist_pos >= 0) {
        ++playlist_pos;
    } else {
        playlist_pos = 0;
    }
}

// Moves an object's position in positions to its next item, wrapping to the first item after
// its name.
void item_advance_in(std::vector<int>& positions, int object) {
    if (!within(object, object_list.size()) || !within(object, positions.size())) {
        return;
    }
    int& position = positions[static_cast<size_t>(object)];
    const size_t size = object_list[static_cast<size_t>(object)].size();
    if (position >= 0 && static_cast<size_t>(position) + 1 < size) {
        ++position;
    } else {
        position = 1;
    }
}

void item_advance(int object) {
    item_advance_in(playlist_list_pos, object);
}

void clock_advance_in(int& clock) {
    if (clock >= 0 && static_cast<size_t>(clock) + 1 < clock_list.size()) {
        ++clock;
    } else {
        clock = 0;
    }
}

void clock_advance() {
    clock_advance_in(clock_pos);
}

Selection select_basic(DriverState& state) {
    if (playlist_list.empty()) {
        return Selection::kNothing;
    }
    if (!within(playlist_pos, playlist_list.size())) {
        playlist_pos = 0;
    }
    nsv_log(state.remember(strformat("Playlist Pos Changed to: %d", playlist_pos + 1)));
    state.current_entry = playlist_list[static_cast<size_t>(playlist_pos)];
    return Selection::kPlay;
}

void shuffle_marker(DriverState& state, size_t marker_pos) {
    const long now = static_cast<long>(std::time(nullptr));
    const std::string& entry = state.current_entry;
    // "#shuffle", one separator, then the least number of seconds between two shuffles.
    const long interval = entry.size() > 9 ? std::atol(entry.c_str() + 9) : 0;
    const auto object = static_cast<size_t>(state.current_object);
    const long since = now - last_shuffle[object];
    if (since < interval) {
        nsv_log(strformat("Shuffle Found, however we have to wait %ld secs", interval - since));
        return;
    }
    last_shuffle[object] = static_cast<long>(std::time(nullptr));
    srandom(static_cast<unsigned>(now));
    const int repetitions = static_cast<int>(random() % 10) + 1;
    std::vector<std::string>& items = object_list[object];
    shuffle_object(items, marker_pos, repetitions, shuffle_random);
    nsv_log(strformat("%s has been shuffled", items[0].c_str()));
}

Selection select_object(DriverState& state) {
    if (clock_list.empty() || object_list.empty()) {
        return Selection::kNothing;
    }
    if (!within(clock_pos, clock_list.size())) {
        clock_pos = 0;
    }
    const std::string& clock_entry = clock_list[static_cast<size_t>(clock_pos)];
    for (size_t i = 0; i < object_list.size(); ++i) {
        if (object_list[i][0] == clock_entry) {
            state.current_object = static_cast<int>(i);
            break;
        }
    }
    if (!within(state.current_object, object_list.size())) {
        state.current_object = 0;
    }
    const auto object = static_cast<size_t>(state.current_object);
    while (playlist_list_pos.size() <= object) {
        playlist_list_pos.push_back(1);
    }
    std::vector<std::string>& items = object_list[object];
    if (items.size() < 2) {
        clock_advance();  // an object without items: let the clock name the next one
        return Selection::kNothing;
    }
    int& position = playlist_list_pos[object];
    if (position < 1 || static_cast<size_t>(position) >= items.size()) {
        position = 1;
    }
    nsv_log(state.remember(strformat("Playlist Pos Changed to: %d, clock list pos %d (%s)",
                                     position, clock_pos + 1, clock_entry.c_str())));
    state.current_entry = items[static_cast<size_t>(position)];

    if (state.current_entry == "#reload") {
        const int reloading_object = state.current_object;
        if (!load_playlist()) {
            nsv_log("FATAL ERROR: Playlist (" + playlist + ") could not be loaded!!; exiting");
            nsv_log(playlist_failure_line());
            return Selection::kReloadFailed;
        }
        item_advance(reloading_object);
        return Selection::kMarker;
    }
    if (state.current_entry.find("#shuffle") != std::string::npos) {
        shuffle_marker(state, static_cast<size_t>(position));
        item_advance(state.current_object);
        return Selection::kMarker;
    }
    return Selection::kPlay;
}

}  // namespace

Selection select_entry(DriverState& state) {
    if (playlist_mode == kPlaylistBasic) {
        return select_basic(state);
    }
    if (playlist_mode == kPlaylistObject) {
        return select_object(state);
    }
    return Selection::kNothing;
}

void advance_after_file(const DriverState& state) {
    if (playlist_mode == kPlaylistObject) {
        item_advance(state.current_object);
        clock_advance();
    } else {
        basic_advance();
    }
}

void advance_after_failed_open(const DriverState& state) {
    if (playlist_mode == kPlaylistObject) {
        item_advance(state.current_object);
    } else {
        basic_advance();
    }
}

void shuffle_object(std::vector<std::string>& v, size_t marker_pos, int repetitions,
                    Rand48& random) {
    const size_t n = v.size();
    if (n < 2 || marker_pos >= n) {
        return;
    }
    const std::string name = v[0];
    std::optional<size_t> reload;
    for (size_t i = 0; i < n; ++i) {
        if (v[i] == "#reload") {
            reload = i;
        }
    }
    for (int round = 0; round < repetitions; ++round) {
        for (size_t i = 1; i < n; ++i) {
            const auto j = static_cast<size_t>(random.next() % static_cast<long>(i + 1));
            std::swap(v[i], v[j]);
        }
    }
    // One pass puts the name back at 0, "#reload" back at its index and the marker at its own
    // index; an element moved to an index already passed is not looked at again.
    for (size_t k = 0; k < n; ++k) {
        if (v[k].find("#shuffle") != std::string::npos) {
            std::swap(v[k], v[marker_pos]);
        }
        if (v[k] == "#reload" && reload) {
            v[k] = v[*reload];
            v[*reload] = "#reload";
        }
        if (v[k] == name) {
            v[k] = v[0];
            v[0] = name;
        }
    }
}

size_t playlist_pass_length() {
    size_t entries = 0;
    if (playlist_mode == kPlaylistObject) {
        for (const auto& object : object_list) {
            entries += object.size() - 1;
        }
    } else {
        entries = playlist_list.size();
    }
    return entries > 0 ? entries : 1;
}

std::optional<std::string> upcoming_playlist_entry(const DriverState& state) {
    // The file that plays moves the position on when it ends, unless it came from the queue.
    const bool after_current = state.in_file && !state.file_queued;
    if (playlist_mode == kPlaylistBasic) {
        if (playlist_list.empty()) {
            return std::nullopt;
        }
        int position = playlist_pos;
        if (after_current) {
            const bool last = static_cast<size_t>(position) + 1 >= playlist_list.size();
            position = position >= 0 && !last ? position + 1 : 0;
        }
        if (!within(position, playlist_list.size())) {
            position = 0;
        }
        return playlist_list[static_cast<size_t>(position)];
    }
    if (playlist_mode != kPlaylistObject || clock_list.empty() || object_list.empty()) {
        return std::nullopt;
    }
    // The object selection on copies of the positions.
    std::vector<int> positions = playlist_list_pos;
    int clock = clock_pos;
    int object = state.current_object;
    if (after_current) {
        item_advance_in(positions, object);
        clock_advance_in(clock);
    }
    const size_t steps = playlist_pass_length() + clock_list.size() + 1;
    for (size_t step = 0; step < steps; ++step) {
        if (!within(clock, clock_list.size())) {
            clock = 0;
        }
        const std::string& clock_entry = clock_list[static_cast<size_t>(clock)];
        for (size_t i = 0; i < object_list.size(); ++i) {
            if (object_list[i][0] == clock_entry) {
                object = static_cast<int>(i);
                break;
            }
        }
        if (!within(object, object_list.size())) {
            object = 0;
        }
        const auto index = static_cast<size_t>(object);
        while (positions.size() <= index) {
            positions.push_back(1);
        }
        const std::vector<std::string>& items = object_list[index];
        if (items.size() < 2) {
            clock_advance_in(clock);
            continue;
        }
        int& position = positions[index];
        if (position < 1 || static_cast<size_t>(position) >= items.size()) {
            position = 1;
        }
        const std::string& entry = items[static_cast<size_t>(position)];
        if (entry == "#reload" || entry.find("#shuffle") != std::string::npos) {
            item_advance_in(positions, object);  // a marker: the item after it plays
            continue;
        }
        return entry;
    }
    return std::nullopt;
}

}  // namespace tarnel
