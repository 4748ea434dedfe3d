#pragma once

#include <string>
#include <vector>

namespace tarnel {

enum PlaylistMode { kPlaylistUnset = -1, kPlaylistBasic = 1, kPlaylistObject = 2 };

// The in-memory playlist, process-wide; only load_playlist() rebuilds the lists.
extern int playlist_mode;
extern std::vector<std::string> playlist_list;             // basic mode: the entries
extern std::vector<std::vector<std::string>> object_list;  // object mode: [0] name, [1..] items
extern std::vector<std::string> clock_list;                // object mode: object names in order
extern std::vector<int> playlist_list_pos;  // per object index: index of its current item (from 1)
extern std::vector<long> last_shuffle;      // per object: time of its last shuffle, 0 for never
extern int playlist_pos;  // basic mode: index of the current entry, -1 after reload
extern int clock_pos;     // object mode: index into clock_list

// Reads the playlist file named by the playlist setting. Returns false when it cannot be opened,
// lacks its mode line, or is in object mode without a clock. Positions survive a reload.
bool load_playlist();

// Back to the state before main runs (tests).
void reset_playlist();

}  // namespace tarnel
