#include "driver/as_run_record.h"

#include <nlohmann/json.hpp>

#include "config/strformat.h"

namespace tarnel {

const char* item_end_name(ItemEnd end) {
    switch (end) {
        case ItemEnd::kPlayed:
            return "played";
        case ItemEnd::kSkippedBySignal:
            return "skipped by signal";
        case ItemEnd::kSkippedByRequest:
            return "skipped by request";
        case ItemEnd::kConnectionLost:
            return "connection lost";
        case ItemEnd::kOversizedSecond:
            return "oversized second";
        case ItemEnd::kNotOpened:
            return "could not be opened";
    }
    return "";
}

std::string utc_milliseconds(const timespec& time) {
    std::tm utc{};
    gmtime_r(&time.tv_sec, &utc);
    char buffer[32];
    const size_t written = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &utc);
    return std::string(buffer, written) +
           strformat(".%03dZ", static_cast<int>(time.tv_nsec / 1000000));
}

std::string as_run_line(const AsRunRecord& record) {
    nlohmann::ordered_json json;
    json["start"] = utc_milliseconds(record.start);
    json["end"] = utc_milliseconds(record.end);
    json["entry"] = record.entry;
    json["title"] = record.title;
    json["seconds"] = record.seconds;
    json["bytes"] = record.bytes;
    json["ended"] = item_end_name(record.ended);
    json["queued"] = record.queued;
    return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace tarnel
