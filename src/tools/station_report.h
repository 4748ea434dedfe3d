#pragma once

// What `tarnel-nsv check` finds out about a station: the findings, and the facts of the
// configuration, playlist and media files that the report shows.

#include <cstddef>
#include <string>
#include <vector>

#include "tools/nsv_check.h"

namespace tarnel {

enum class Severity {
    kError,    // something that needs fixing: check exits 1
    kWarning,  // worth a look; check exits 0 unless --strict
};

struct Finding {
    Severity severity;
    std::string problem;  // a short name that groups the report ("truncated frame", ...)
    std::string file;     // configuration, playlist, included file or media entry as written
    std::string detail;   // one line for a person
};

// One media entry, checked once however often the playlist names it.
struct MediaFacts {
    std::string entry;  // as the playlist writes it, resolved as tarnel resolves it
    bool opened = false;
    std::string open_error;  // why it could not be opened
    NsvSummary nsv;
    std::string title;  // the header's TITLE, or the file name
    // Opened, with frames and a frame rate the reader paces by: tarnel streams it (perhaps
    // badly, when findings say so).
    bool playable = false;
    double seconds = 0;  // frames / frame rate
    double average_kbps = 0;
    double peak_kbps = 0;  // the largest second, as tarnel sends it
};

// An item of an object that is a marker, not a file.
struct MarkerFacts {
    std::string item;
    std::string action;  // what it does when it is reached
};

struct ObjectFacts {
    std::string name;
    size_t items = 0;
    std::vector<size_t> files;  // per file item (repeats kept): index into StationReport::media
    std::vector<MarkerFacts> markers;
    size_t clock_steps = 0;  // how often the clock names it
    double seconds = 0;      // its playable files, each once per repeat
    double shortest = 0;     // its shortest and longest playable file
    double longest = 0;
};

struct StationReport {
    std::string config_file;
    bool config_loaded = false;
    std::string playlist;
    bool playlist_loaded = false;
    int mode = -1;                   // -1 none, 1 basic, 2 object (as the loader sets it)
    std::string media_directory;     // where relative entries are read from
    bool directory_changed = false;  // by a "#cd" line
    int bitrate_kbps = 0;            // Bitrate=, as tarnel announces it

    std::vector<std::string> log;  // the lines tarnel would log while loading
    std::vector<MediaFacts> media;
    std::vector<size_t> basic_entries;  // basic mode: index into media per entry, in order
    double basic_seconds = 0;           // basic mode: one pass over the playable entries
    std::vector<ObjectFacts> objects;
    std::vector<std::string> clock;
    // One pass over the clock: the average item of each step's object, and the shortest and
    // longest that a pass can take.
    double clock_seconds = 0;
    double clock_shortest = 0;
    double clock_longest = 0;

    std::vector<Finding> findings;

    size_t count(Severity severity) const {
        size_t n = 0;
        for (const Finding& finding : findings) {
            n += finding.severity == severity ? 1 : 0;
        }
        return n;
    }
    size_t playable_files() const {
        size_t n = 0;
        for (const MediaFacts& facts : media) {
            n += facts.playable ? 1 : 0;
        }
        return n;
    }
};

}  // namespace tarnel
