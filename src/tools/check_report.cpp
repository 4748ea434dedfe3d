#include "tools/check_report.h"

#include <cmath>
#include <map>
#include <vector>

#include "config/playlist.h"
#include "config/strformat.h"
#include "tools/json_writer.h"

namespace tarnel {
namespace {

// Text for one line of the report: control characters shown as \xNN.
std::string one_line(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            out += strformat("\\x%02x", byte);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// A format code without its padding: "MP3 " is shown as "MP3".
std::string code_text(std::string code) {
    while (!code.empty() && (code.back() == ' ' || code.back() == '\0')) {
        code.pop_back();
    }
    return one_line(code);
}

const char* mode_name(int mode) {
    return mode == kPlaylistBasic ? "basic" : mode == kPlaylistObject ? "object" : "none";
}

const char* severity_name(Severity severity) {
    return severity == Severity::kError ? "error" : "warning";
}

std::string plural(size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The findings of one severity, grouped by problem (in the order first met) and within a problem
// by file (in the order first met).
void write_findings(std::string& out, const StationReport& report, Severity severity,
                    const char* heading) {
    std::vector<std::string> problems;
    std::map<std::string, std::vector<std::string>> files;  // problem -> files in order
    std::map<std::pair<std::string, std::string>, std::vector<const Finding*>> details;
    size_t count = 0;
    for (const Finding& finding : report.findings) {
        if (finding.severity != severity) {
            continue;
        }
        ++count;
        if (files.find(finding.problem) == files.end()) {
            problems.push_back(finding.problem);
        }
        auto& listed = details[{finding.problem, finding.file}];
        if (listed.empty()) {
            files[finding.problem].push_back(finding.file);
        }
        listed.push_back(&finding);
    }
    if (count == 0) {
        return;
    }
    out += strformat("%s (%zu):\n", heading, count);
    for (const std::string& problem : problems) {
        out += "  " + problem + ":\n";
        for (const std::string& file : files[problem]) {
            for (const Finding* finding : details[{problem, file}]) {
                out += "    " + one_line(file) + ": " + one_line(finding->detail) + "\n";
            }
        }
    }
    out += "\n";
}

std::string media_line(const MediaFacts& media) {
    std::string line = "  " + one_line(media.entry) + ": ";
    if (!media.opened) {
        return line + "cannot be opened (" + media.open_error + ")\n";
    }
    const NsvSummary& nsv = media.nsv;
    line += "\"" + one_line(media.title) + "\"";
    if (nsv.has_sync_frame) {
        line += strformat(", %s/%s %dx%d", code_text(nsv.video_format).c_str(),
                          code_text(nsv.audio_format).c_str(), nsv.width, nsv.height);
    }
    if (nsv.stream_frame_rate) {
        line += strformat(", %.2f fps", *nsv.stream_frame_rate);
    } else {
        line += ", frame rate unset";
    }
    line += strformat(", %llu frames", static_cast<unsigned long long>(nsv.frames));
    if (media.playable) {
        line += strformat(", %s, average %.0f kbit/s, peak %.0f kbit/s",
                          clock_time(media.seconds).c_str(), media.average_kbps, media.peak_kbps);
    }
    if (!nsv.problems.empty()) {
        line += ", " + plural(nsv.problems.size(), "problem", "problems");
    }
    return line + "\n";
}

void write_objects(std::string& out, const StationReport& report) {
    for (const ObjectFacts& object : report.objects) {
        out += strformat("  object %s: %s, %s", one_line(object.name).c_str(),
                         plural(object.items, "item", "items").c_str(),
                         plural(object.files.size(), "file", "files").c_str());
        if (!object.files.empty()) {
            out += ", " + clock_time(object.seconds) + " in all";
        }
        if (object.clock_steps == 0) {
            out += ", never on the clock";
        } else {
            out += object.clock_steps == 1
                       ? std::string(", on the clock once")
                       : strformat(", on the clock %zu times", object.clock_steps);
        }
        out += "\n";
        for (const MarkerFacts& marker : object.markers) {
            out += "    " + one_line(marker.item) + ": " + one_line(marker.action) + "\n";
        }
    }
    constexpr size_t kStepsShown = 12;
    std::string steps;
    for (size_t i = 0; i < report.clock.size() && i < kStepsShown; ++i) {
        steps += (i > 0 ? ", " : "") + one_line(report.clock[i]);
    }
    if (report.clock.size() > kStepsShown) {
        steps += ", ...";
    }
    out += strformat("  clock: %s (%s); one pass takes about %s (%s to %s)\n",
                     plural(report.clock.size(), "step", "steps").c_str(), steps.c_str(),
                     clock_time(report.clock_seconds).c_str(),
                     clock_time(report.clock_shortest).c_str(),
                     clock_time(report.clock_longest).c_str());
}

void write_station(std::string& out, const StationReport& report) {
    out += "Station:\n";
    out += "  configuration: " + one_line(report.config_file) +
           (report.config_loaded ? "" : " (not found: defaults)") + "\n";
    out += "  playlist: " + one_line(report.playlist);
    out += report.playlist_loaded ? strformat(", %s mode\n", mode_name(report.mode))
                                  : std::string(" (cannot be loaded)\n");
    if (report.directory_changed) {
        out += "  media read from: " + one_line(report.media_directory) + " (after \"#cd\")\n";
    }
    out += report.bitrate_kbps > 0 ? strformat("  Bitrate=: %d kbit/s\n", report.bitrate_kbps)
                                   : std::string("  Bitrate=: not set\n");
    if (report.mode == kPlaylistBasic && report.playlist_loaded) {
        out += strformat("  entries: %zu; one pass takes %s\n", report.basic_entries.size(),
                         clock_time(report.basic_seconds).c_str());
    } else if (report.mode == kPlaylistObject && report.playlist_loaded) {
        write_objects(out, report);
    }
    out += "\n";
}

std::string summary_line(const StationReport& report, bool strict) {
    const size_t errors = report.count(Severity::kError);
    const size_t warnings = report.count(Severity::kWarning);
    std::string verdict = "nothing needs fixing";
    if (errors > 0) {
        verdict = "needs fixing";
    } else if (warnings > 0 && strict) {
        verdict = "needs fixing (warnings count under --strict)";
    }
    return strformat("Summary: %s, %zu playable; %s, %s: %s.\n",
                     plural(report.media.size(), "media file", "media files").c_str(),
                     report.playable_files(), plural(errors, "error", "errors").c_str(),
                     plural(warnings, "warning", "warnings").c_str(), verdict.c_str());
}

void json_media(JsonWriter& json, const MediaFacts& media) {
    const NsvSummary& nsv = media.nsv;
    json.begin_object().key("entry").value(media.entry).key("opened").value(media.opened);
    if (!media.opened) {
        json.key("open_error").value(media.open_error).end_object();
        return;
    }
    json.key("title").value(media.title);
    json.key("video").value(nsv.video_format).key("audio").value(nsv.audio_format);
    json.key("width").value(int{nsv.width}).key("height").value(int{nsv.height});
    json.key("frame_rate");
    if (nsv.stream_frame_rate) {
        json.value(*nsv.stream_frame_rate);
    } else {
        json.null();
    }
    json.key("frames").value(nsv.frames).key("playable").value(media.playable);
    json.key("seconds").value(media.seconds);
    json.key("average_kbps").value(media.average_kbps).key("peak_kbps").value(media.peak_kbps);
    json.key("problems").value(static_cast<uint64_t>(nsv.problems.size()));
    json.end_object();
}

void json_objects(JsonWriter& json, const StationReport& report) {
    json.key("objects").begin_array();
    for (const ObjectFacts& object : report.objects) {
        json.begin_object().key("name").value(object.name);
        json.key("items").value(static_cast<uint64_t>(object.items));
        json.key("files").begin_array();
        for (const size_t index : object.files) {
            json.value(report.media[index].entry);
        }
        json.end_array();
        json.key("markers").begin_array();
        for (const MarkerFacts& marker : object.markers) {
            json.begin_object().key("item").value(marker.item).key("action").value(marker.action);
            json.end_object();
        }
        json.end_array();
        json.key("clock_steps").value(static_cast<uint64_t>(object.clock_steps));
        json.key("seconds").value(object.seconds).end_object();
    }
    json.end_array();
    json.key("clock").begin_object().key("steps").begin_array();
    for (const std::string& step : report.clock) {
        json.value(step);
    }
    json.end_array();
    json.key("seconds").value(report.clock_seconds);
    json.key("shortest_seconds").value(report.clock_shortest);
    json.key("longest_seconds").value(report.clock_longest).end_object();
}

}  // namespace

std::string clock_time(double seconds) {
    const auto whole = static_cast<long long>(std::llround(seconds));
    if (whole >= 3600) {
        return strformat("%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    }
    return strformat("%lld:%02lld", whole / 60, whole % 60);
}

int check_status(const StationReport& report, bool strict) {
    const bool errors = report.count(Severity::kError) > 0;
    const bool warnings = report.count(Severity::kWarning) > 0;
    return errors || (strict && warnings) ? 1 : 0;
}

std::string format_check_text(const StationReport& report, bool strict) {
    std::string out;
    if (report.findings.empty()) {
        out += "No problems found.\n\n";
    }
    write_findings(out, report, Severity::kError, "Errors");
    write_findings(out, report, Severity::kWarning, "Warnings");
    write_station(out, report);
    if (!report.media.empty()) {
        out += strformat("Media files (%zu):\n", report.media.size());
        for (const MediaFacts& media : report.media) {
            out += media_line(media);
        }
        out += "\n";
    }
    out += "Loading log (the lines tarnel would log):\n";
    for (const std::string& line : report.log) {
        out += "  " + one_line(line) + "\n";
    }
    out += "\n";
    return out + summary_line(report, strict);
}

std::string format_check_json(const StationReport& report, bool strict) {
    JsonWriter json;
    json.begin_object();
    json.key("config").value(report.config_file).key("config_loaded").value(report.config_loaded);
    json.key("playlist").value(report.playlist);
    json.key("playlist_loaded").value(report.playlist_loaded);
    json.key("mode").value(mode_name(report.mode));
    json.key("media_directory").value(report.media_directory);
    json.key("directory_changed").value(report.directory_changed);
    json.key("bitrate_kbps").value(report.bitrate_kbps);
    json.key("problems").begin_array();
    for (const Severity severity : {Severity::kError, Severity::kWarning}) {
        for (const Finding& finding : report.findings) {
            if (finding.severity == severity) {
                json.begin_object().key("severity").value(severity_name(severity));
                json.key("problem").value(finding.problem).key("file").value(finding.file);
                json.key("detail").value(finding.detail).end_object();
            }
        }
    }
    json.end_array();
    if (report.mode == kPlaylistBasic) {
        json.key("entries").begin_array();
        for (const size_t index : report.basic_entries) {
            json.value(report.media[index].entry);
        }
        json.end_array();
        json.key("seconds").value(report.basic_seconds);
    } else if (report.mode == kPlaylistObject) {
        json_objects(json, report);
    }
    json.key("files").begin_array();
    for (const MediaFacts& media : report.media) {
        json_media(json, media);
    }
    json.end_array();
    json.key("log").begin_array();
    for (const std::string& line : report.log) {
        json.value(line);
    }
    json.end_array();
    json.key("summary").begin_object();
    json.key("files").value(static_cast<uint64_t>(report.media.size()));
    json.key("playable").value(static_cast<uint64_t>(report.playable_files()));
    json.key("errors").value(static_cast<uint64_t>(report.count(Severity::kError)));
    json.key("warnings").value(static_cast<uint64_t>(report.count(Severity::kWarning)));
    json.key("status").value(check_status(report, strict));
    json.end_object().end_object();
    return json.text() + "\n";
}

}  // namespace tarnel
