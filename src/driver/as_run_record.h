#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace tarnel {

// How an item's time on air ended.
enum class ItemEnd {
    kPlayed,            // read to its end
    kSkippedBySignal,   // SIGUSR2 (or a SIGUSR1 whose playlist failed, which ends the run)
    kSkippedByRequest,  // POST /skip or POST /play of the control socket
    kConnectionLost,    // a send failed; the entry plays again from its start after reconnecting
    kOversizedSecond,   // a second larger than real media can have, or no memory for it
    kNotOpened,         // the file could not be opened
};

// "played", "skipped by signal", "skipped by request", "connection lost", "oversized second" or
// "could not be opened".
const char* item_end_name(ItemEnd end);

// One item that went on air (or was tried): a line of the as-run log.
struct AsRunRecord {
    timespec start{};  // when its first byte went out (when it was taken up, if none did)
    timespec end{};    // when the station moved on from it
    std::string entry;
    std::string title;     // the file's own title; empty when it could not be opened
    uint64_t seconds = 0;  // media seconds sent (a last, shorter piece counts as one)
    uint64_t bytes = 0;    // stream bytes sent
    ItemEnd ended = ItemEnd::kPlayed;
    bool queued = false;  // it came from the control socket's queue or play request
};

// UTC in ISO 8601 with milliseconds: "2026-12-11T10:00:00.123Z".
std::string utc_milliseconds(const timespec& time);

// The record as one line of JSON with its line feed: {"start", "end", "entry", "title",
// "seconds", "bytes", "ended", "queued"} in that order. Bytes of a text that are not UTF-8 are
// replaced by U+FFFD.
std::string as_run_line(const AsRunRecord& record);

}  // namespace tarnel
