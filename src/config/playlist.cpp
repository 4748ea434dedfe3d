#include "config/playlist.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "config/log.h"
#include "config/settings.h"
#include "config/stdio_file.h"
#include "config/strformat.h"
#include "config/text_lines.h"

namespace tarnel {

int playlist_mode = kPlaylistUnset;
std::vector<std::string> playlist_list;
std::vector<std::vector<std::string>> object_list;
std::vector<std::string> clock_list;
std::vector<int> playlist_list_pos;
std::vector<long> last_shuffle;
int playlist_pos = 0;
int clock_pos = 0;

namespace {
// Why the last load failed, and the playlist's path as it was resolved for that load (a "#cd"
// line may change the working directory before a later line fails it).
std::string failure_reason;
std::string failure_path;
}  // namespace

void reset_playlist() {
    failure_reason.clear();
    failure_path.clear();
    playlist_mode = kPlaylistUnset;
    playlist_list.clear();
    object_list.clear();
    clock_list.clear();
    playlist_list_pos.clear();
    last_shuffle.clear();
    playlist_pos = 0;
    clock_pos = 0;
}

namespace {

// One read takes at most 511 characters (a 512-byte buffer); longer lines arrive in pieces.
constexpr size_t kPlaylistLineChars = 511;

// Reads the next kept line: comment, blank, indented and NUL-led lines are skipped; the line end
// is cut. Returns false at the end of the file.
bool next_kept_line(std::FILE* file, std::string& line) {
    while (read_line_piece(file, kPlaylistLineChars, line)) {
        if (line.empty() || comment_or_blank(line)) {
            continue;  // empty: the piece began with a NUL byte
        }
        strip_line_end(line);
        return true;
    }
    return false;
}

enum class Section { kOutside, kList, kClock };

void note(std::vector<PlaylistNote>* notes, PlaylistNoteKind kind, const std::string& line,
          std::string reason = {}) {
    if (notes != nullptr) {
        notes->push_back(PlaylistNote{kind, line, std::move(reason)});
    }
}

struct ObjectParser {
    Section section = Section::kOutside;
    size_t object = 0;  // the object whose list section is open
    std::vector<PlaylistNote>* notes = nullptr;

    bool defined(const std::string& name) const {
        for (const auto& entry : object_list) {
            if (entry[0] == name) {
                return true;
            }
        }
        return false;
    }

    void include(const std::string& line) {
        const std::string name = line.substr(9);
        std::vector<std::string>& target = object_list[object];
        const StdioFile file = open_regular_file(name);
        if (!file) {
            nsv_log(strformat("Warning: Failure Including %s for object %s", name.c_str(),
                              target[0].c_str()));
            return;
        }
        nsv_log(strformat("Including %s for object %s", name.c_str(), target[0].c_str()));
        std::string item;
        while (next_kept_line(file.get(), item)) {
            target.push_back(item);
        }
    }

    void outside(const std::string& line) {
        if (starts_with(line, "#define ")) {
            object_list.push_back({line.substr(8)});
            playlist_list_pos.push_back(1);
            last_shuffle.push_back(0);
        } else if (starts_with(line, "#list ")) {
            // The object defined latest whose name occurs anywhere in the line.
            section = Section::kOutside;
            for (size_t i = 0; i < object_list.size(); ++i) {
                if (line.find(object_list[i][0]) != std::string::npos) {
                    object = i;
                    section = Section::kList;
                }
            }
            if (section == Section::kOutside) {
                note(notes, PlaylistNoteKind::kListNamesNoObject, line);
            }
        } else if (starts_with(line, "#clock:")) {
            clock_list.clear();
            section = Section::kClock;
        } else {
            note(notes, PlaylistNoteKind::kIgnoredLine, line);
        }
    }

    void handle(const std::string& line) {
        if (section == Section::kOutside) {
            outside(line);
        } else if (line == "#") {
            section = Section::kOutside;
        } else if (section == Section::kClock) {
            if (defined(line)) {
                clock_list.push_back(line);
            } else {
                nsv_log(strformat("Warning: '%s' in clock not defined, ignoring.", line.c_str()));
            }
        } else if (starts_with(line, "#include ")) {
            include(line);
        } else {
            object_list[object].push_back(line);
        }
    }
};

void set_mode(const std::string& line) {
    const std::string lower = to_lower_ascii(line);
    if (lower == "#mode=basic") {
        nsv_log("Playlist is in basic mode");
        playlist_mode = kPlaylistBasic;
    } else if (lower == "#mode=object") {
        nsv_log("Playlist is in object mode");
        playlist_mode = kPlaylistObject;
    } else {
        nsv_log("Warning: Mode designator invalid, asumming basic mode.");
        playlist_mode = kPlaylistBasic;
    }
}

void change_directory(const std::string& line, std::vector<PlaylistNote>* notes) {
    // "#cd", one space, the directory. A bare "#cd" names no directory and changes nothing.
    const std::string directory = line.size() > 4 ? line.substr(4) : std::string();
    // A directory that does not exist leaves the working directory as it was; the warning is
    // logged either way.
    const int changed = directory.empty() ? -1 : chdir(directory.c_str());
    if (changed != 0) {
        note(notes, PlaylistNoteKind::kDirectoryChangeFailed, line,
             directory.empty() ? "no directory named" : std::strerror(errno));
    }
    nsv_log(
        strformat("Warning: Current Working Directory Changed, all reletive paths will start "
                  "from %s, including log and configuration files!",
                  directory.c_str()));
}

}  // namespace

const std::string& playlist_failure_reason() {
    return failure_reason;
}

std::string playlist_failure_line() {
    return "Playlist " + failure_path + ": " + failure_reason;
}

bool load_playlist(std::vector<PlaylistNote>* notes) {
    playlist_list.clear();
    object_list.clear();
    last_shuffle.clear();
    failure_reason.clear();
    failure_path = path_for_message(playlist);
    nsv_log("Loading Playlist " + playlist);

    const StdioFile file = open_regular_file(playlist, failure_reason);
    if (!file) {
        return false;
    }
    ObjectParser parser;
    parser.notes = notes;
    std::string line;
    int line_number = 0;
    while (next_kept_line(file.get(), line)) {
        ++line_number;
        if (starts_with(line, "#Mode=")) {
            if (line_number == 1) {
                set_mode(line);
            } else {
                nsv_log(strformat("Warning: Mode designator found on line %d, ignoring line.",
                                  line_number));
            }
            continue;
        }
        if (line_number == 1) {
            nsv_log("Error: Mode designator must be first line of playlist, discontinuing load");
            failure_reason =
                "its first line that is not a comment is not #Mode=basic or #Mode=object";
            return false;
        }
        if (starts_with(line, "#cd")) {
            change_directory(line, notes);
            continue;
        }
        if (playlist_mode == kPlaylistBasic) {
            playlist_list.push_back(line);
        } else if (playlist_mode == kPlaylistObject) {
            parser.handle(line);
        }
    }

    if (playlist_mode == kPlaylistBasic) {
        if (playlist_pos > 0) {
            playlist_pos = -1;  // the end-of-file advance then wraps to the first entry
        }
        nsv_log(strformat("Loaded %d Items", static_cast<int>(playlist_list.size())));
        return true;
    }
    if (playlist_mode == kPlaylistObject) {
        if (clock_list.empty()) {
            nsv_log("Error: Clock must have at least 1 object for object style playlist mode.");
            failure_reason = "object mode without a clock step that names a defined object";
            return false;
        }
        nsv_log(strformat("Loaded %d Objects", static_cast<int>(object_list.size())));
        for (const auto& object : object_list) {
            nsv_log(
                strformat("%s: %d items", object[0].c_str(), static_cast<int>(object.size() - 1)));
        }
        nsv_log(strformat("clock: %d items", static_cast<int>(clock_list.size())));
    }
    return true;
}

}  // namespace tarnel
