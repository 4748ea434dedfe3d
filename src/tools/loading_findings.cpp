#include "tools/loading_findings.h"

#include <algorithm>
#include <cstdlib>

#include "config/config_file.h"
#include "config/text_lines.h"

namespace tarnel {
namespace {

constexpr const char* kUnknownKey = "Warning: unrecognized parameter input on line ";
constexpr const char* kConfigMissing =
    "WARNING: configuaration file could not be loaded, assuming defaults";
constexpr const char* kConfigReason = "Configuration file ";
constexpr const char* kConfigFatal = "FATAL ERROR: Configuration file (";
constexpr const char* kModeInvalid = "Warning: Mode designator invalid";
constexpr const char* kModeLater = "Warning: Mode designator found on line";
constexpr const char* kModeMissing = "Error: Mode designator must be first line";
constexpr const char* kNoClock = "Error: Clock must have at least 1 object";
constexpr const char* kDirectoryChanged = "Warning: Current Working Directory Changed";
constexpr const char* kClockUndefined = "' in clock not defined, ignoring.";
constexpr const char* kIncludeFailed = "Warning: Failure Including ";
constexpr const char* kForObject = " for object ";

bool ends_with(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A line no rule below knows (a loader may gain new ones): its own first word decides.
void add_other_line(const std::string& line, const std::string& file,
                    std::vector<Finding>& findings) {
    const std::string lower = to_lower_ascii(line);
    if (starts_with(lower, "error")) {
        findings.push_back(Finding{Severity::kError, "loader error", file, line});
    } else if (starts_with(lower, "warning")) {
        findings.push_back(Finding{Severity::kWarning, "loader warning", file, line});
    }
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

constexpr const char* kMask = "***";

// Where a line's key ends: at its "=", ":" or first blank.
size_t key_end(const std::string& line) {
    const size_t end = line.find_first_of("=: \t");
    return end == std::string::npos ? line.size() : end;
}

bool looks_like_password_key(const std::string& line) {
    const std::string key = to_lower_ascii(line.substr(0, key_end(line)));
    for (const char* word : {"pass", "pwd", "secret"}) {
        if (key.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string shown_config_line(const std::string& piece, const std::string& line_start) {
    if (!looks_like_password_key(line_start)) {
        return quoted(piece);
    }
    if (piece != line_start) {
        return quoted(kMask) + " (the rest of a line of more than " +
               std::to_string(kConfigLineChars) + " characters whose key looks like a password; " +
               "tarnel keeps only the first " + std::to_string(kConfigLineChars) +
               " characters of that line)";
    }
    // The key as written, the separator and the blanks around it, then the mask.
    const size_t value_at = piece.find_first_not_of("=: \t", key_end(piece));
    return quoted(piece.substr(0, std::min(value_at, piece.size())) + kMask);
}

void add_config_findings(const std::vector<std::string>& lines, const std::string& config_file,
                         const ConfigLineText& line_text, std::vector<Finding>& findings) {
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (starts_with(line, kUnknownKey)) {
            const int number = std::atoi(line.c_str() + std::string(kUnknownKey).size());
            findings.push_back(Finding{Severity::kWarning, "unknown configuration key", config_file,
                                       "line " + std::to_string(number) + ": " + line_text(number) +
                                           " is no key; ignored"});
        } else if (starts_with(line, kConfigFatal)) {
            const bool reason_follows =
                i + 1 < lines.size() && starts_with(lines[i + 1], kConfigReason);
            findings.push_back(
                Finding{Severity::kError, "configuration file required", config_file,
                        (reason_follows ? lines[++i] : line) + ": the station does not start"});
        } else if (line == kConfigMissing) {
            // The loader's next line gives the path and the reason.
            const bool reason_follows =
                i + 1 < lines.size() && starts_with(lines[i + 1], kConfigReason);
            findings.push_back(Finding{Severity::kWarning, "configuration file missing",
                                       config_file,
                                       reason_follows ? line + "; " + lines[++i] : line});
        } else {
            add_other_line(line, config_file, findings);
        }
    }
}

void add_playlist_findings(const std::vector<std::string>& lines,
                           const std::vector<PlaylistNote>& notes, const std::string& playlist,
                           std::vector<Finding>& findings) {
    for (const std::string& line : lines) {
        if (starts_with(line, kModeInvalid)) {
            findings.push_back(
                Finding{Severity::kWarning, "mode designator invalid", playlist, line});
        } else if (starts_with(line, kModeLater)) {
            findings.push_back(Finding{Severity::kWarning, "mode line ignored", playlist, line});
        } else if (starts_with(line, kModeMissing) || starts_with(line, kNoClock)) {
            findings.push_back(
                Finding{Severity::kError, "playlist cannot be loaded", playlist, line});
        } else if (starts_with(line, "Warning: '") && ends_with(line, kClockUndefined)) {
            findings.push_back(
                Finding{Severity::kError, "clock step names no object", playlist, line});
        } else if (starts_with(line, kIncludeFailed)) {
            // "Warning: Failure Including NAME for object OBJECT"
            const size_t from = std::string(kIncludeFailed).size();
            const size_t to = line.rfind(kForObject);
            const std::string name = to == std::string::npos || to < from
                                         ? line.substr(from)
                                         : line.substr(from, to - from);
            findings.push_back(Finding{Severity::kError, "include cannot be opened", name, line});
        } else if (!starts_with(line, kDirectoryChanged)) {
            add_other_line(line, playlist, findings);
        }
    }
    for (const PlaylistNote& note : notes) {
        switch (note.kind) {
            case PlaylistNoteKind::kIgnoredLine:
                if (note.line == "#") {
                    break;  // a section end too many is harmless
                }
                findings.push_back(
                    Finding{Severity::kWarning, "line ignored", playlist,
                            quoted(note.line) + " stands outside any section and means nothing"});
                break;
            case PlaylistNoteKind::kListNamesNoObject:
                findings.push_back(
                    Finding{Severity::kError, "list names no object", playlist,
                            quoted(note.line) +
                                " names no object defined before it: the items up to its \"#\" are "
                                "dropped"});
                break;
            case PlaylistNoteKind::kDirectoryChangeFailed:
                findings.push_back(Finding{Severity::kError, "directory change failed", playlist,
                                           quoted(note.line) + ": " + note.reason +
                                               "; relative paths stay where they were"});
                break;
        }
    }
}

}  // namespace tarnel
