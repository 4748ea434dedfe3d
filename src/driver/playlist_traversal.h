#pragma once

#include <optional>
#include <string>
#include <vector>

#include "driver/driver_state.h"
#include "driver/rand48.h"

namespace tarnel {

// What the selection step found at the current playlist position.
enum class Selection {
    kPlay,          // state.current_entry names a file to stream
    kMarker,        // a "#reload" or "#shuffle" marker was carried out; nothing to stream
    kNothing,       // the list or object at the position holds nothing to play
    kReloadFailed,  // a "#reload" marker could not reload the playlist: the run ends
};

// The shuffle sequence runs on across shuffles for the whole process.
extern Rand48 shuffle_random;

// Takes the entry at the current position into state.current_entry and logs it. Positions outside
// the lists (a reload shortened them, or -1) restart at the first entry, clock place or item.
Selection select_entry(DriverState& state);

// After a file was streamed (however it ended): basic advance, or item then clock advance.
void advance_after_file(const DriverState& state);
// After an entry could not be opened: the clock place stays, so the same object serves it again.
void advance_after_failed_open(const DriverState& state);

// Shuffles v (v[0] is the object's name, marker_pos the "#shuffle" marker's index) repetitions
// times, then moves the name, the marker and a "#reload" entry back where they belong.
void shuffle_object(std::vector<std::string>& v, size_t marker_pos, int repetitions,
                    Rand48& random);

// The entry the playlist gives next as it stands now (for the control socket's status): after the
// file that plays when that file came from the playlist, else at the current position. Markers
// on the way are passed over as the selection would pass them; a shuffle or reload can still
// change what comes. Nothing when the playlist holds nothing to play.
std::optional<std::string> upcoming_playlist_entry(const DriverState& state);

// How many selections make one pass over the playlist, at least 1: a pass with nothing streamed
// means the playlist cannot play right now.
size_t playlist_pass_length();

}  // namespace tarnel
