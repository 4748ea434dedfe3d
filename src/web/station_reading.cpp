#include "web/station_reading.h"

#include <cctype>
#include <cstdio>

namespace tarnel::web {

bool station_name_valid(const std::string& name) {
    if (name.empty() || name.size() > 128 || name[0] == '.') {
        return false;
    }
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x21 || byte > 0x7e || c == '/') {
            return false;
        }
    }
    return true;
}

std::optional<nlohmann::json> parse_status_text(const std::string& text, std::string& reason) {
    nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
    if (parsed.is_discarded()) {
        reason = "the status file is not JSON";
        return std::nullopt;
    }
    if (!parsed.is_object()) {
        reason = "the status file holds no object";
        return std::nullopt;
    }
    return parsed;
}

std::optional<std::time_t> parse_utc_time(const std::string& text) {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    char zone = 0;
    int length = 0;
    if (text.size() != 20 ||
        std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%n", &year, &month, &day, &hour,
                    &minute, &second, &zone, &length) != 7 ||
        zone != 'Z' || length != 20) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
        return std::nullopt;
    }
    std::tm utc{};
    utc.tm_year = year - 1900;
    utc.tm_mon = month - 1;
    utc.tm_mday = day;
    utc.tm_hour = hour;
    utc.tm_min = minute;
    utc.tm_sec = second;
    return timegm(&utc);
}

bool station_up(const StationReading& station, std::time_t now) {
    if (!station.status.is_object() || !station.process_alive) {
        return false;
    }
    const nlohmann::json& state = station.status.value("state", nlohmann::json());
    if (!state.is_string() || state.get<std::string>() == "stopped") {
        return false;
    }
    const nlohmann::json& updated = station.status.value("updated", nlohmann::json());
    if (!updated.is_string()) {
        return false;
    }
    const std::optional<std::time_t> when = parse_utc_time(updated.get<std::string>());
    return when && now - *when <= kStaleAfterSeconds;
}

}  // namespace tarnel::web
