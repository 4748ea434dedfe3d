#include "web/metrics.h"

#include <cmath>
#include <functional>
#include <optional>

#include "config/strformat.h"

namespace tarnel::web {

const char* const kStationStates[6] = {
    "starting", "connecting", "streaming", "waiting to reconnect", "idle", "stopped"};

namespace {

using nlohmann::json;

// Cuts text to at most limit bytes without splitting a UTF-8 sequence.
std::string cut_utf8(const std::string& text, size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

// A sample value: integers as they are, others with the precision Prometheus reads back.
std::string number(double value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "+Inf" : "-Inf";
    }
    return strformat("%.17g", value);
}

std::string bound(double value) {
    return std::isinf(value) ? "+Inf" : strformat("%g", value);
}

std::optional<double> number_field(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_number()) {
        return std::nullopt;
    }
    return found->get<double>();
}

std::string text_field(const json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

std::optional<double> time_field(const json& object, const char* key) {
    const std::string text = text_field(object, key);
    const std::optional<std::time_t> time = parse_utc_time(text);
    return time ? std::optional<double>(static_cast<double>(*time)) : std::nullopt;
}

std::string station_label(const StationReading& station) {
    return "station=\"" + label_value(station.name) + "\"";
}

class MetricsWriter {
  public:
    void family(const char* name, const char* type, const char* help) {
        text_ +=
            std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    }
    void sample(const std::string& name, const std::string& labels, double value) {
        text_ += name + (labels.empty() ? "" : "{" + labels + "}") + " " + number(value) + "\n";
    }
    std::string take() { return std::move(text_); }

  private:
    std::string text_;
};

// One family: for each station whose value is known, one sample.
void per_station(MetricsWriter& out, const std::vector<StationReading>& stations, const char* name,
                 const char* type, const char* help,
                 const std::function<std::optional<double>(const StationReading&)>& value) {
    bool announced = false;
    for (const StationReading& station : stations) {
        const std::optional<double> known = value(station);
        if (!known) {
            continue;
        }
        if (!announced) {
            out.family(name, type, help);
            announced = true;
        }
        out.sample(name, station_label(station), *known);
    }
}

// The first-byte delay histogram of a status file, when it is whole and consistent.
struct Histogram {
    std::vector<double> bounds;
    std::vector<double> counts;
    double count = 0;
    double sum = 0;
};

std::optional<Histogram> delay_histogram(const json& status) {
    const auto found = status.find("first_byte_delay");
    if (found == status.end() || !found->is_object()) {
        return std::nullopt;
    }
    const json& delay = *found;
    const auto bounds = delay.find("le_seconds");
    const auto counts = delay.find("counts");
    const std::optional<double> count = number_field(delay, "count");
    const std::optional<double> sum = number_field(delay, "sum_seconds");
    if (bounds == delay.end() || counts == delay.end() || !bounds->is_array() ||
        !counts->is_array() || bounds->size() != counts->size() || !count || !sum) {
        return std::nullopt;
    }
    Histogram histogram;
    histogram.count = *count;
    histogram.sum = *sum;
    for (size_t i = 0; i < bounds->size(); ++i) {
        const json& le = (*bounds)[i];
        const json& cumulative = (*counts)[i];
        if (!le.is_number() || !cumulative.is_number()) {
            return std::nullopt;
        }
        // Bounds rise, and so do cumulative counts, up to the total.
        if ((!histogram.bounds.empty() && le.get<double>() <= histogram.bounds.back()) ||
            (!histogram.counts.empty() && cumulative.get<double>() < histogram.counts.back()) ||
            cumulative.get<double>() > *count) {
            return std::nullopt;
        }
        histogram.bounds.push_back(le.get<double>());
        histogram.counts.push_back(cumulative.get<double>());
    }
    return histogram;
}

}  // namespace

std::string label_value(const std::string& text) {
    std::string escaped;
    for (const char c : cut_utf8(text, kMaxLabelBytes)) {
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '"') {
            escaped += "\\\"";
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string metrics_text(const std::vector<StationReading>& stations, size_t left_out,
                         std::time_t now) {
    MetricsWriter out;
    per_station(out, stations, "tarnel_station_up", "gauge",
                "Whether the station runs: its status file is fresh, its state not stopped and "
                "its process alive (1), or not (0).",
                [now](const StationReading& station) {
                    return std::optional<double>(station_up(station, now) ? 1 : 0);
                });

    bool announced = false;
    for (const StationReading& station : stations) {
        const std::string state = text_field(station.status, "state");
        if (!station.status.is_object() || state.empty()) {
            continue;
        }
        if (!announced) {
            out.family("tarnel_station_state", "gauge",
                       "The state in the station's status file: 1 for the state it is in, 0 for "
                       "the others.");
            announced = true;
        }
        for (const char* name : kStationStates) {
            out.sample("tarnel_station_state", station_label(station) + ",state=\"" + name + "\"",
                       state == name ? 1 : 0);
        }
    }

    const auto counter = [](const char* key) {
        return [key](const StationReading& station) {
            return station.status.is_object() ? number_field(station.status, key) : std::nullopt;
        };
    };
    const auto time = [](const char* key) {
        return [key](const StationReading& station) {
            return station.status.is_object() ? time_field(station.status, key) : std::nullopt;
        };
    };
    per_station(out, stations, "tarnel_sent_seconds_total", "counter",
                "Media seconds sent since the station's program started, over all connections.",
                counter("seconds_sent"));
    per_station(out, stations, "tarnel_sent_bytes_total", "counter",
                "Stream bytes sent since the station's program started, over all connections.",
                counter("bytes_sent"));
    per_station(out, stations, "tarnel_reconnections_total", "counter",
                "Attempts to connect again after a failure, since the station's program started.",
                counter("reconnections"));
    per_station(out, stations, "tarnel_last_error_timestamp_seconds", "gauge",
                "When the station's last failure happened (Unix time); absent before the first.",
                time("last_error_time"));
    per_station(out, stations, "tarnel_connected_since_timestamp_seconds", "gauge",
                "When the open source connection logged in (Unix time); absent while there is "
                "none.",
                time("connected_since"));
    per_station(out, stations, "tarnel_status_updated_timestamp_seconds", "gauge",
                "When the station last wrote its status file (Unix time).", time("updated"));

    announced = false;
    for (const StationReading& station : stations) {
        const std::optional<Histogram> histogram =
            station.status.is_object() ? delay_histogram(station.status) : std::nullopt;
        if (!histogram) {
            continue;
        }
        if (!announced) {
            out.family("tarnel_first_byte_delay_seconds", "histogram",
                       "How late the first byte of each media second left after the wall-clock "
                       "tick it belongs to.");
            announced = true;
        }
        const std::string label = station_label(station);
        for (size_t i = 0; i < histogram->bounds.size(); ++i) {
            out.sample("tarnel_first_byte_delay_seconds_bucket",
                       label + ",le=\"" + bound(histogram->bounds[i]) + "\"", histogram->counts[i]);
        }
        out.sample("tarnel_first_byte_delay_seconds_bucket", label + ",le=\"+Inf\"",
                   histogram->count);
        out.sample("tarnel_first_byte_delay_seconds_sum", label, histogram->sum);
        out.sample("tarnel_first_byte_delay_seconds_count", label, histogram->count);
    }

    announced = false;
    for (const StationReading& station : stations) {
        if (!station.status.is_object()) {
            continue;
        }
        if (!announced) {
            out.family("tarnel_station_info", "gauge",
                       "What the station plays: its entry and title, its server and mount, and "
                       "its program's version. Always 1.");
            announced = true;
        }
        const json& status = station.status;
        out.sample("tarnel_station_info",
                   station_label(station) + ",entry=\"" + label_value(text_field(status, "entry")) +
                       "\",title=\"" + label_value(text_field(status, "title")) + "\",server=\"" +
                       label_value(text_field(status, "server")) + "\",mount=\"" +
                       label_value(text_field(status, "mount")) + "\",version=\"" +
                       label_value(text_field(status, "version")) + "\"",
                   1);
    }

    out.family("tarnel_web_stations", "gauge",
               "Stations found in the run directory and read for this scrape.");
    out.sample("tarnel_web_stations", "", static_cast<double>(stations.size()));
    out.family("tarnel_web_stations_left_out", "gauge",
               "Stations found but not read, past the limit on stations.");
    out.sample("tarnel_web_stations_left_out", "", static_cast<double>(left_out));
    return out.take();
}

}  // namespace tarnel::web
