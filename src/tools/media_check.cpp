#include "tools/media_check.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "config/printable_text.h"
#include "config/stdio_file.h"
#include "config/strformat.h"
#include "driver/file_streamer.h"
#include "tools/file_window.h"

namespace tarnel {

std::string open_failure(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return std::strerror(errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return S_ISDIR(info.st_mode) ? "a directory, not a file" : "not a regular file";
    }
    // A regular file: opening it says why it cannot be read ("Permission denied" for a station
    // checked as its own user), unless it changed meanwhile.
    std::string failure;
    return open_regular_file(path, failure) ? "cannot be read" : failure;
}

namespace {

void add_nsv_findings(const MediaFacts& facts, std::vector<Finding>& findings) {
    for (const NsvProblem& problem : facts.nsv.problems) {
        // A sync frame without a rate only matters when no sync frame gives one: the reader
        // takes the first rate it finds, and without one sends the whole file at once.
        const bool harmless = problem.kind == NsvProblemKind::kUnsetFrameRate &&
                              facts.nsv.stream_frame_rate.has_value();
        std::string detail =
            strformat("at offset %llu: %s", static_cast<unsigned long long>(problem.offset),
                      problem.detail.c_str());
        if (problem.kind == NsvProblemKind::kUnsetFrameRate) {
            detail += harmless ? " (a later sync frame sets the rate; the frames before it go out "
                                 "in the first second)"
                               : " (no sync frame sets one: tarnel would send the whole file at "
                                 "once)";
        }
        findings.push_back(Finding{harmless ? Severity::kWarning : Severity::kError,
                                   nsv_problem_name(problem.kind), facts.entry, detail});
    }
}

// The title as tarnel takes it (cut to 1 KiB), and what tarnel changes in it.
void add_title_findings(MediaFacts& facts, std::vector<Finding>& findings) {
    if (const std::optional<std::string> cut = cut_header_value(facts.title)) {
        findings.push_back(Finding{Severity::kWarning, "title longer than 1 KiB", facts.entry,
                                   strformat("the title is %zu bytes long; tarnel uses only its "
                                             "first %zu bytes",
                                             facts.title.size(), cut->size())});
        facts.title = *cut;
    }
    if (has_control_characters(facts.title)) {
        findings.push_back(Finding{Severity::kWarning, "title has control characters", facts.entry,
                                   "\"" + facts.title +
                                       "\": tarnel shows each control character as \"?\" in its "
                                       "log, console, status file and service status"});
    }
}

}  // namespace

MediaFacts check_media(const std::string& entry, std::vector<Finding>& findings) {
    MediaFacts facts;
    facts.entry = entry;
    StdioFile file = open_regular_file(entry);
    if (!file) {
        facts.open_error = open_failure(entry);
        std::string detail = "Unable to open " + entry + " (" + facts.open_error + ")";
        if (!entry.empty() && entry[0] == '#') {
            detail += "; a line starting with # that is no marker or directive here is a file name";
        }
        findings.push_back(Finding{Severity::kError, "entry cannot be opened", entry, detail});
        return facts;
    }
    facts.opened = true;
    FileWindow window(std::move(file));
    facts.nsv = inspect_nsv(window);
    const NsvSummary& nsv = facts.nsv;
    facts.title = base_name(entry);
    if (nsv.has_file_header) {
        facts.title = metadata_value(nsv.metadata, "TITLE=").value_or(facts.title);
    }
    add_title_findings(facts, findings);
    facts.playable = nsv.frames > 0 && nsv.stream_frame_rate.has_value();
    if (facts.playable) {
        facts.seconds = static_cast<double>(nsv.frames) / *nsv.stream_frame_rate;
        facts.average_kbps = static_cast<double>(nsv.frame_bytes) * 8 / 1000 / facts.seconds;
        facts.peak_kbps = static_cast<double>(nsv.peak_second_bytes) * 8 / 1000;
    }
    add_nsv_findings(facts, findings);
    return facts;
}

}  // namespace tarnel
