#include "tools/station_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "config/config_file.h"
#include "config/log.h"
#include "config/playlist.h"
#include "config/settings.h"
#include "config/stdio_file.h"
#include "config/strformat.h"
#include "config/text_lines.h"
#include "tools/loading_findings.h"
#include "tools/media_check.h"
#include "tools/settings_findings.h"
#include "tools/station_analysis.h"

namespace tarnel {
namespace {

// Goes back to the working directory it was made in when it is destroyed.
class DirectoryGuard {
  public:
    DirectoryGuard() : descriptor_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~DirectoryGuard() {
        if (descriptor_ >= 0) {
            [[maybe_unused]] const int back = fchdir(descriptor_);
            close(descriptor_);
        }
    }
    DirectoryGuard(const DirectoryGuard&) = delete;
    DirectoryGuard& operator=(const DirectoryGuard&) = delete;

  private:
    int descriptor_;
};

// nsv_log appends to lines instead of writing, for its lifetime.
class LogCapture {
  public:
    explicit LogCapture(std::vector<std::string>& lines) { set_log_capture(&lines); }
    ~LogCapture() { set_log_capture(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
};

std::string current_directory() {
    std::error_code error;
    return std::filesystem::current_path(error).string();
}

// The number_th line of the configuration file, counted as the loader counts them, as the report
// shows it.
std::string config_line(const std::string& path, int number) {
    const StdioFile file = open_regular_file(path);
    std::string piece;
    std::string line_start;
    bool line_ended = true;  // the piece before ended its line: the next one starts a line
    for (int n = 1; file && read_line_piece(file.get(), kConfigLineChars, piece); ++n) {
        const bool starts_line = line_ended;
        line_ended = !piece.empty() && piece.back() == '\n';
        strip_line_end(piece);
        if (starts_line) {
            line_start = piece;
        }
        if (n == number) {
            return shown_config_line(piece, line_start);
        }
    }
    return shown_config_line("", "");
}

struct ReloadResult {
    bool tried = false;
    bool loaded = true;
    std::string directory;  // where the reload leaves the working directory
    std::string reason;     // why it failed
};

// Carries out the reload that "#reload" or SIGUSR1 would do, from the directory the first load
// left, then puts the playlist model and the working directory back.
ReloadResult try_reload() {
    ReloadResult result;
    result.tried = true;
    const int mode = playlist_mode;
    const std::vector<std::string> entries = playlist_list;
    const std::vector<std::vector<std::string>> objects = object_list;
    const std::vector<std::string> clock = clock_list;
    const std::vector<int> positions = playlist_list_pos;
    const std::vector<long> shuffles = last_shuffle;
    const std::string failure = open_failure(playlist);
    {
        const DirectoryGuard guard;
        std::vector<std::string> lines;
        const LogCapture capture(lines);
        result.loaded = load_playlist();
        result.directory = current_directory();
        if (!result.loaded) {
            const bool opened = lines.size() > 1;  // more than "Loading Playlist"
            result.reason = opened ? lines.back()
                                   : playlist + " cannot be opened from " + current_directory() +
                                         " (" + failure + ")";
        }
    }
    playlist_mode = mode;
    playlist_list = entries;
    object_list = objects;
    clock_list = clock;
    playlist_list_pos = positions;
    last_shuffle = shuffles;
    return result;
}

bool is_shuffle_marker(const std::string& item) {
    return item.find("#shuffle") != std::string::npos;
}

// What a "#shuffle" marker does, with a warning when tarnel reads it other than it looks.
MarkerFacts shuffle_marker(const std::string& item, const std::string& object, size_t others,
                           const std::string& playlist_path, std::vector<Finding>& findings) {
    // "#shuffle", one separator, then the least number of seconds between two shuffles.
    const long interval = item.size() > 9 ? std::atol(item.c_str() + 9) : 0;
    const std::string rest = item.size() > 9 ? item.substr(9) : "";
    const bool plain =
        item == "#shuffle" || (item.size() > 9 && starts_with(item, "#shuffle ") &&
                               rest.find_first_not_of("0123456789") == std::string::npos);
    if (!starts_with(item, "#shuffle")) {
        findings.push_back(Finding{Severity::kWarning, "shuffle marker", playlist_path,
                                   "item \"" + item + "\" of " + object +
                                       " contains \"#shuffle\", so it is a shuffle marker, "
                                       "not a file"});
    } else if (!plain) {
        findings.push_back(Finding{Severity::kWarning, "shuffle marker", playlist_path,
                                   strformat("\"%s\" of %s: the interval is read as %ld s",
                                             item.c_str(), object.c_str(), interval)});
    }
    MarkerFacts marker{item,
                       strformat("shuffles the other %zu items of %s ", others, object.c_str())};
    if (interval > 0) {
        marker.action += strformat("when it is reached, at most once every %ld s", interval);
    } else {
        marker.action += "each time it is reached";
    }
    return marker;
}

class StationChecker {
  public:
    StationChecker(StationReport& report, const CheckProgress& progress, bool require_config)
        : report_(report), progress_(progress), require_config_(require_config) {}

    void load() {
        const std::string start_directory = current_directory();
        config_file = report_.config_file;
        std::vector<std::string> config_lines;
        {
            const LogCapture capture(config_lines);
            report_.config_loaded = load_config(require_config_);
        }
        add_config_findings(
            config_lines, report_.config_file,
            [this](int number) { return config_line(report_.config_file, number); },
            report_.findings);
        report_.playlist = playlist;
        report_.bitrate_kbps = std::atoi(bitrate.c_str());
        report_.log = config_lines;

        std::vector<std::string> playlist_lines;
        std::vector<PlaylistNote> notes;
        const std::string failure = open_failure(playlist);
        {
            const LogCapture capture(playlist_lines);
            report_.playlist_loaded = load_playlist(&notes);
        }
        report_.log.insert(report_.log.end(), playlist_lines.begin(), playlist_lines.end());
        const size_t before = report_.count(Severity::kError);
        add_playlist_findings(playlist_lines, notes, playlist, report_.findings);
        report_.mode = playlist_mode;
        report_.media_directory = current_directory();
        report_.directory_changed = report_.media_directory != start_directory;
        add_settings_findings(settings_facts(start_directory), report_.config_file,
                              report_.findings);
        if (!report_.playlist_loaded) {
            report_.log.push_back("FATAL ERROR: Playlist (" + playlist +
                                  ") could not be loaded!!; exiting");
            report_.log.push_back(playlist_failure_line());
            if (report_.count(Severity::kError) == before) {
                report_.findings.push_back(
                    Finding{Severity::kError, "playlist cannot be loaded", playlist,
                            "cannot open " + playlist + " (" + failure + "): tarnel ends at once"});
            }
        } else if (report_.directory_changed) {
            reload_ = try_reload();
        }
    }

    void collect() {
        if (!report_.playlist_loaded) {
            return;
        }
        if (playlist_mode == kPlaylistBasic) {
            for (const std::string& entry : playlist_list) {
                report_.basic_entries.push_back(media_index(entry));
            }
        } else if (playlist_mode == kPlaylistObject) {
            for (const auto& object : object_list) {
                report_.objects.push_back(collect_object(object));
            }
            report_.clock = clock_list;
        }
        reload_findings();
    }

    void scan() {
        for (size_t i = 0; i < report_.media.size(); ++i) {
            report_.media[i] = check_media(report_.media[i].entry, report_.findings);
            if (progress_) {
                progress_(i + 1, report_.media.size());
            }
        }
    }

  private:
    size_t media_index(const std::string& entry) {
        const auto found = index_.find(entry);
        if (found != index_.end()) {
            return found->second;
        }
        MediaFacts facts;
        facts.entry = entry;
        report_.media.push_back(facts);
        index_.emplace(entry, report_.media.size() - 1);
        return report_.media.size() - 1;
    }

    ObjectFacts collect_object(const std::vector<std::string>& object) {
        ObjectFacts facts;
        facts.name = object[0];
        facts.items = object.size() - 1;
        size_t markers = 0;
        for (size_t i = 1; i < object.size(); ++i) {
            markers += object[i] == "#reload" || is_shuffle_marker(object[i]) ? 1 : 0;
        }
        for (size_t i = 1; i < object.size(); ++i) {
            const std::string& item = object[i];
            if (item == "#reload") {
                facts.markers.push_back(
                    MarkerFacts{item, "reloads the playlist " + playlist + " when it is reached"});
                reload_marker_in_ = facts.name;
            } else if (is_shuffle_marker(item)) {
                facts.markers.push_back(shuffle_marker(item, facts.name, facts.items - markers,
                                                       playlist, report_.findings));
            } else {
                facts.files.push_back(media_index(item));
            }
        }
        return facts;
    }

    void reload_findings() {
        if (!reload_.tried) {
            return;
        }
        const std::string cause =
            "the playlist's \"#cd\" left the working directory at " + report_.media_directory;
        if (!reload_.loaded) {
            const bool marker = !reload_marker_in_.empty();
            const std::string trigger =
                marker ? "the #reload item of " + reload_marker_in_ : "a reload by SIGUSR1";
            report_.findings.push_back(
                Finding{marker ? Severity::kError : Severity::kWarning, "reload would end the run",
                        playlist, cause + ", so " + trigger + " fails: " + reload_.reason});
        } else if (reload_.directory != report_.media_directory) {
            report_.findings.push_back(
                Finding{Severity::kWarning, "reload changes the directory", playlist,
                        cause +
                            "; a reload (#reload or SIGUSR1) runs its relative \"#cd\" again and "
                            "reads entries from " +
                            reload_.directory});
        }
    }

    StationReport& report_;
    const CheckProgress& progress_;
    bool require_config_;
    std::map<std::string, size_t> index_;
    ReloadResult reload_;
    std::string reload_marker_in_;  // an object holding a "#reload" item
};

}  // namespace

StationReport check_station(const std::string& config_path, const CheckProgress& progress,
                            bool require_config) {
    const DirectoryGuard guard;
    StationReport report;
    report.config_file = config_path;
    StationChecker checker(report, progress, require_config);
    checker.load();
    checker.collect();
    checker.scan();
    analyse_station(report);
    return report;
}

}  // namespace tarnel
