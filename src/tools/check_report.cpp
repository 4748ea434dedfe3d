#include "tools/check_report.h"

#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <vector>

#include "config/playlist.h"
#include "config/strformat.h"

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
        line += ", " + one_line(nsv_picture(nsv));
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

using Json = nlohmann::ordered_json;

// Seconds and bit rates to the thousandth: finer digits are noise of the division. A value that
// is not finite becomes null.
Json thousandths(double value) {
    return std::round(value * 1000) / 1000;
}

Json json_media(const MediaFacts& media) {
    Json json{{"entry", media.entry}, {"opened", media.opened}};
    if (!media.opened) {
        json["open_error"] = media.open_error;
        return json;
    }
    const NsvSummary& nsv = media.nsv;
    json["title"] = media.title;
    json["video"] = nsv.video_format;
    json["audio"] = nsv.audio_format;
    json["width"] = nsv.width;
    json["height"] = nsv.height;
    json["frame_rate"] = nsv.stream_frame_rate ? thousandths(*nsv.stream_frame_rate) : Json();
    json["frames"] = nsv.frames;
    json["playable"] = media.playable;
    json["seconds"] = thousandths(media.seconds);
    json["average_kbps"] = thousandths(media.average_kbps);
    json["peak_kbps"] = thousandths(media.peak_kbps);
    json["problems"] = nsv.problems.size();
    return json;
}

Json json_object(const StationReport& report, const ObjectFacts& object) {
    Json files = Json::array();
    for (const size_t index : object.files) {
        files.push_back(report.media[index].entry);
    }
    Json markers = Json::array();
    for (const MarkerFacts& marker : object.markers) {
        markers.push_back({{"item", marker.item}, {"action", marker.action}});
    }
    return {{"name", object.name},
            {"items", object.items},
            {"files", std::move(files)},
            {"markers", std::move(markers)},
            {"clock_steps", object.clock_steps},
            {"seconds", thousandths(object.seconds)}};
}

void json_objects(Json& json, const StationReport& report) {
    Json objects = Json::array();
    for (const ObjectFacts& object : report.objects) {
        objects.push_back(json_object(report, object));
    }
    json["objects"] = std::move(objects);
    json["clock"] = {{"steps", report.clock},
                     {"seconds", thousandths(report.clock_seconds)},
                     {"shortest_seconds", thousandths(report.clock_shortest)},
                     {"longest_seconds", thousandths(report.clock_longest)}};
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
    Json json{{"config", report.config_file},
              {"config_loaded", report.config_loaded},
              {"playlist", report.playlist},
              {"playlist_loaded", report.playlist_loaded},
              {"mode", mode_name(report.mode)},
              {"media_directory", report.media_directory},
              {"directory_changed", report.directory_changed},
              {"bitrate_kbps", report.bitrate_kbps}};
    Json problems = Json::array();
    for (const Severity severity : {Severity::kError, Severity::kWarning}) {
        for (const Finding& finding : report.findings) {
            if (finding.severity == severity) {
                problems.push_back({{"severity", severity_name(severity)},
                                    {"problem", finding.problem},
                                    {"file", finding.file},
                                    {"detail", finding.detail}});
            }
        }
    }
    json["problems"] = std::move(problems);
    if (report.mode == kPlaylistBasic) {
        Json entries = Json::array();
        for (const size_t index : report.basic_entries) {
            entries.push_back(report.media[index].entry);
        }
        json["entries"] = std::move(entries);
        json["seconds"] = thousandths(report.basic_seconds);
    } else if (report.mode == kPlaylistObject) {
        json_objects(json, report);
    }
    Json files = Json::array();
    for (const MediaFacts& media : report.media) {
        files.push_back(json_media(media));
    }
    json["files"] = std::move(files);
    json["log"] = report.log;
    json["summary"] = {{"files", report.media.size()},
                       {"playable", report.playable_files()},
                       {"errors", report.count(Severity::kError)},
                       {"warnings", report.count(Severity::kWarning)},
                       {"status", check_status(report, strict)}};
    // Compact, on one line; bytes that are not UTF-8 (a Latin-1 file name) become U+FFFD.
    return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace tarnel
