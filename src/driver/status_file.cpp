#include "driver/status_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "config/log.h"
#include "config/port_number.h"
#include "config/printable_text.h"
#include "config/settings.h"
#include "config/stdio_file.h"

namespace tarnel {

namespace {

// The path whose write failure was logged; empty while writes succeed.
std::string failing_path;

nlohmann::ordered_json utc_time(const std::optional<std::time_t>& time) {
    if (!time) {
        return nullptr;
    }
    std::tm utc{};
    gmtime_r(&*time, &utc);
    char buffer[32];
    const size_t written = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(buffer, written);
}

// Text from a file or a setting, as a reader that prints the field (jq -r .title) gets it: without
// control characters.
nlohmann::ordered_json text(const std::string& value) {
    return printable_text(value);
}

nlohmann::ordered_json text_or_null(const std::string& value) {
    return value.empty() ? nlohmann::ordered_json(nullptr) : text(value);
}

nlohmann::ordered_json delay_json(const DelayHistogram& histogram) {
    nlohmann::ordered_json json;
    json["le_seconds"] = DelayHistogram::kBoundsSeconds;
    json["counts"] = histogram.at_most;
    json["count"] = histogram.count;
    json["sum_seconds"] = histogram.sum_seconds;
    return json;
}

}  // namespace

nlohmann::ordered_json status_object(const RunStatus& status, std::time_t now) {
    nlohmann::ordered_json json;
    json["version"] = kVersion;
    json["pid"] = static_cast<long>(getpid());
    json["state"] = state_name(status.state);
    json["server"] = text_or_null(status.server);
    // The number as the log writes it (a port out of range too), or null when Port= is no number.
    const std::optional<long long> port_value = decimal_number(status.port);
    json["port"] =
        port_value ? nlohmann::ordered_json(*port_value) : nlohmann::ordered_json(nullptr);
    json["mount"] = status.mount ? text(*status.mount) : nlohmann::ordered_json(nullptr);
    json["connected_since"] = utc_time(status.connected_since);
    json["entry"] = text_or_null(status.entry);
    json["title"] = status.entry.empty() ? nlohmann::ordered_json(nullptr) : text(status.title);
    json["second"] = status.second;
    json["bytes_sent"] = status.bytes_sent;
    json["seconds_sent"] = status.seconds_sent;
    json["first_byte_delay"] = delay_json(status.first_byte_delay);
    json["reconnections"] = status.reconnections;
    json["last_error"] = text_or_null(status.last_error);
    json["last_error_time"] = utc_time(status.last_error_time);
    json["updated"] = utc_time(now);
    return json;
}

std::string status_json(const RunStatus& status, std::time_t now) {
    return status_object(status, now)
               .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
           "\n";
}

std::string replace_file(const std::string& path, const std::string& text,
                         std::optional<mode_t> mode) {
    std::string temporary;
    std::string failure;
    {
        const StdioFile file = create_unique_file(path + ".tmp.", temporary);
        if (!file) {
            return std::strerror(errno);
        }
        if (mode && fchmod(fileno(file.get()), *mode) != 0) {
            failure = std::strerror(errno);
        } else if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size() ||
                   std::fflush(file.get()) != 0) {
            failure = std::strerror(errno);
        }
    }
    if (failure.empty() && std::rename(temporary.c_str(), path.c_str()) != 0) {
        failure = std::strerror(errno);
    }
    if (!failure.empty()) {
        std::remove(temporary.c_str());
    }
    return failure;
}

void write_status_file(const RunStatus& status, std::time_t now) {
    const std::string path = status_file;
    const std::string failure = replace_file(path, status_json(status, now), kStatusFileMode);
    if (failure.empty()) {
        failing_path.clear();
    } else if (failing_path != path) {
        failing_path = path;
        nsv_log("Warning: could not write the status file " + path + ": " + failure);
    }
}

void reset_status_file() {
    failing_path.clear();
}

}  // namespace tarnel
