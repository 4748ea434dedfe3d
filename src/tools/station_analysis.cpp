#include "tools/station_analysis.h"

#include <algorithm>
#include <map>
#include <string>

#include "config/playlist.h"
#include "config/strformat.h"

namespace tarnel {
namespace {

void add(StationReport& report, Severity severity, const char* problem, const std::string& file,
         const std::string& detail) {
    report.findings.push_back(Finding{severity, problem, file, detail});
}

void sum_object(const StationReport& report, ObjectFacts& object) {
    bool first = true;
    for (const size_t index : object.files) {
        const MediaFacts& media = report.media[index];
        if (!media.playable) {
            continue;
        }
        object.seconds += media.seconds;
        object.shortest = first ? media.seconds : std::min(object.shortest, media.seconds);
        object.longest = first ? media.seconds : std::max(object.longest, media.seconds);
        first = false;
    }
}

size_t playable_items(const StationReport& report, const ObjectFacts& object) {
    return static_cast<size_t>(
        std::count_if(object.files.begin(), object.files.end(),
                      [&](size_t index) { return report.media[index].playable; }));
}

void analyse_objects(StationReport& report) {
    std::map<std::string, size_t> definitions;
    std::map<std::string, size_t> first;  // the index of the first object of each name
    for (size_t i = 0; i < report.objects.size(); ++i) {
        ObjectFacts& object = report.objects[i];
        ++definitions[object.name];
        first.emplace(object.name, i);
        object.clock_steps =
            static_cast<size_t>(std::count(report.clock.begin(), report.clock.end(), object.name));
        sum_object(report, object);
    }
    bool anything_to_play = false;
    for (size_t i = 0; i < report.objects.size(); ++i) {
        const ObjectFacts& object = report.objects[i];
        // The clock plays the first object of a name; "#list" fills the last one.
        const bool first_of_name = first[object.name] == i;
        const bool played = first_of_name && object.clock_steps > 0;
        if (first_of_name && definitions[object.name] > 1) {
            add(report, Severity::kWarning, "object defined twice", report.playlist,
                strformat("\"%s\" is defined %zu times: \"#list\" fills the last one, the "
                          "clock plays the first",
                          object.name.c_str(), definitions[object.name]));
        }
        if (object.items == 0) {
            add(report, Severity::kWarning, "object has no items", report.playlist,
                "\"" + object.name + "\" is defined but has no items" +
                    (played ? "; the clock skips it" : ""));
        } else if (played && playable_items(report, object) == 0) {
            add(report, Severity::kError, "object on the clock has nothing playable",
                report.playlist,
                strformat("none of the %zu items of \"%s\" can be played; each time the clock "
                          "reaches it, tarnel finds nothing to send",
                          object.items, object.name.c_str()));
        }
        if (first_of_name && object.clock_steps == 0) {
            add(report, Severity::kWarning, "object never on the clock", report.playlist,
                "\"" + object.name + "\" is defined but the clock never names it");
        }
        anything_to_play = anything_to_play || (played && playable_items(report, object) > 0);
    }
    if (!anything_to_play) {
        add(report, Severity::kError, "nothing to play", report.playlist,
            "no object on the clock holds a file that can be played");
    }
}

// One pass over the clock: each step plays one item of the first object of its name.
void time_clock(StationReport& report) {
    for (const std::string& step : report.clock) {
        const auto object = std::find_if(report.objects.begin(), report.objects.end(),
                                         [&](const ObjectFacts& o) { return o.name == step; });
        if (object == report.objects.end()) {
            continue;
        }
        const size_t playable = playable_items(report, *object);
        if (playable == 0) {
            continue;
        }
        report.clock_seconds += object->seconds / static_cast<double>(playable);
        report.clock_shortest += object->shortest;
        report.clock_longest += object->longest;
    }
}

void analyse_basic(StationReport& report) {
    for (const size_t index : report.basic_entries) {
        if (report.media[index].playable) {
            report.basic_seconds += report.media[index].seconds;
        }
    }
    if (report.basic_entries.empty()) {
        add(report, Severity::kError, "nothing to play", report.playlist,
            "the playlist has no entries");
    } else if (report.playable_files() == 0) {
        add(report, Severity::kError, "nothing to play", report.playlist,
            "no entry of the playlist can be played");
    }
}

void compare_pictures(StationReport& report) {
    std::map<std::string, size_t> counts;
    std::vector<std::string> order;  // first seen first, which decides a tie
    size_t files = 0;
    for (const MediaFacts& media : report.media) {
        if (media.playable && media.nsv.has_sync_frame) {
            const std::string key = nsv_picture(media.nsv);
            if (counts[key]++ == 0) {
                order.push_back(key);
            }
            ++files;
        }
    }
    if (order.size() < 2) {
        return;
    }
    std::string most = order.front();
    for (const std::string& key : order) {
        most = counts[key] > counts[most] ? key : most;
    }
    for (const MediaFacts& media : report.media) {
        if (media.playable && media.nsv.has_sync_frame && nsv_picture(media.nsv) != most) {
            add(report, Severity::kWarning, "picture size or codes change", media.entry,
                strformat("%s, while %zu of %zu files are %s; a listener's player keeps what the "
                          "first file it received had",
                          nsv_picture(media.nsv).c_str(), counts[most], files, most.c_str()));
        }
    }
}

void compare_bitrates(StationReport& report) {
    if (report.bitrate_kbps <= 0) {
        return;
    }
    for (const MediaFacts& media : report.media) {
        if (media.playable && media.peak_kbps > kPeakAboveBitrateFactor * report.bitrate_kbps) {
            add(report, Severity::kWarning, "peak bit rate above Bitrate=", media.entry,
                strformat("peak %.0f kbit/s in one second (average %.0f) against Bitrate=%d",
                          media.peak_kbps, media.average_kbps, report.bitrate_kbps));
        }
    }
}

}  // namespace

void analyse_station(StationReport& report) {
    if (!report.playlist_loaded) {
        return;
    }
    if (report.mode == kPlaylistObject) {
        analyse_objects(report);
        time_clock(report);
    } else if (report.mode == kPlaylistBasic) {
        analyse_basic(report);
    } else {
        // Loaded, but without a single kept line, so without a mode: tarnel plays nothing.
        add(report, Severity::kError, "nothing to play", report.playlist,
            "the playlist has no lines, not even its \"#Mode=\" line");
    }
    compare_pictures(report);
    compare_bitrates(report);
}

}  // namespace tarnel
