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

// What a load passes over without a log line of its own, noted for tools that check a playlist.
enum class PlaylistNoteKind {
    kIgnoredLine,            // object mode: a line outside any section, which means nothing there
    kListNamesNoObject,      // "#list " naming no object defined before it: its items are dropped
    kDirectoryChangeFailed,  // "#cd" whose directory cannot be entered (reason: why)
};
struct PlaylistNote {
    PlaylistNoteKind kind;
    std::string line;
    std::string reason;
};

// Reads the playlist file named by the playlist setting. Returns false when it cannot be opened,
// lacks its mode line, or is in object mode without a clock. Positions survive a reload. When
// notes is given, what the load passes over silently is appended to it.
bool load_playlist(std::vector<PlaylistNote>* notes = nullptr);

// Why the last load_playlist() that returned false failed: the system's text for a file that
// cannot be opened ("No such file or directory"), or what is wrong with its lines. Empty after a
// load that succeeded.
const std::string& playlist_failure_reason();

// The line logged after the fatal line of a failed load: the playlist's path (with the working
// directory for a relative one) and the reason.
std::string playlist_failure_line();

// Back to the state before main runs (tests).
void reset_playlist();

}  // namespace tarnel
