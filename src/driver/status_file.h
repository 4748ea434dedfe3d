#pragma once

#include <sys/types.h>

#include <ctime>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "driver/run_status.h"

namespace tarnel {

// The status file's text: one JSON object with the version, the process id, the state, the
// server, the entry, the counters, the histogram of how late each second's first byte left after
// its tick ("first_byte_delay": the bounds "le_seconds", the cumulative "counts", "count" and
// "sum_seconds"), the last error and the time of this update (now). Times are
// UTC in ISO 8601 ("2024-05-01T12:00:00Z"); values not known yet are null. Control characters in
// the texts are replaced (printable_text), and bytes of a title that are not UTF-8 by U+FFFD, so
// the text is always valid JSON.
std::string status_json(const RunStatus& status, std::time_t now);
// The same object, for the control socket's GET /status to add to.
nlohmann::ordered_json status_object(const RunStatus& status, std::time_t now);

// Replaces the file at path with text so that a reader sees either the old or the new file, never
// a part: the text goes to a new file in the same directory, path + ".tmp." + six random
// characters (never a name that exists, so a link planted there by another user is not
// followed), which is then renamed over path. With a mode, the file gets those permissions
// whatever the process's umask. Returns an empty string, or the reason it failed (the temporary
// file is then removed).
std::string replace_file(const std::string& path, const std::string& text,
                         std::optional<mode_t> mode = std::nullopt);

// The status file's permissions: readable by every user, so a monitoring system that runs as a
// user of its own can read it (it holds no password: the server, the titles, counters and error
// texts). Only the station's user writes it.
constexpr mode_t kStatusFileMode = 0644;

// Writes the status file named by the StatusFile setting. A failure is logged once, and again
// only after a write has succeeded or the path has changed; it never stops the program.
void write_status_file(const RunStatus& status, std::time_t now);

// Forgets a logged failure (tests).
void reset_status_file();

}  // namespace tarnel
