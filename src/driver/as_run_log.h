#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "driver/as_run_record.h"

namespace tarnel {

// Records kept in memory for GET /history when no as-run log is kept.
constexpr size_t kHistoryInMemory = 1000;
// How much of the as-run log's end GET /history reads at most: far more than 1,000 usual lines
// (about 250 bytes each), and a bound on the time a request takes.
constexpr size_t kHistoryTailBytes = 1 << 20;

// Puts record's line at the end of the as-run log (AsRunLog=) when one is set: opened for every
// line with O_APPEND and closed again, so a log rotated away is simply made anew, and the line is
// written whole in one write. A failure is logged once, and again only after a write has
// succeeded or the path has changed; it never stops the stream. While history is kept in memory
// the line is kept there too.
void record_on_air(const AsRunRecord& record);

// Keeps the last kHistoryInMemory lines in memory (while the control socket is open), or forgets
// them.
void keep_history_in_memory(bool keep);

// The last count records, oldest first: from the end of the as-run log when one is set, from
// memory otherwise. Lines that are not JSON objects are left out. Returns an empty string, or why
// the log could not be read.
std::string read_history(size_t count, std::vector<nlohmann::ordered_json>& records);

// The last count whole lines (without line feeds) of tail, the end of a file, oldest first. When
// tail does not start at the file's start (whole_file false) its first line may be a part and is
// left out; a last line without its line feed (a write in progress) is left out too.
std::vector<std::string_view> last_lines(std::string_view tail, bool whole_file, size_t count);

// Forgets the lines in memory and a logged failure (tests).
void reset_as_run_log();

}  // namespace tarnel
