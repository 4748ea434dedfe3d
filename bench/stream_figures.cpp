#include "stream_figures.h"

#include <algorithm>
#include <cmath>

namespace tarnel::bench {

namespace {

constexpr size_t kPacketSize = 188;
constexpr std::int64_t kPtsPerSecond = 90000;
constexpr double kNsPerMs = 1e6;

// The 33-bit time stamp in the five PTS bytes of a PES header.
std::int64_t decode_pts(const unsigned char* p) {
    return (static_cast<std::int64_t>(p[0] & 0x0E) << 29) |
           (static_cast<std::int64_t>(p[1]) << 22) |
           (static_cast<std::int64_t>(p[2] & 0xFE) << 14) | (static_cast<std::int64_t>(p[3]) << 7) |
           (static_cast<std::int64_t>(p[4]) >> 1);
}

// The PTS of a video PES packet starting in this transport packet, or -1.
std::int64_t video_pts(const unsigned char* packet) {
    const bool unit_start = (packet[1] & 0x40) != 0;
    const int adaptation = (packet[3] >> 4) & 0x3;
    if (!unit_start || (adaptation & 0x1) == 0) {
        return -1;
    }
    size_t at = 4;
    if ((adaptation & 0x2) != 0) {
        at += 1 + packet[4];
    }
    // Start code, stream id, length, two flag bytes, header length, five PTS bytes.
    if (at + 14 > kPacketSize || packet[at] != 0 || packet[at + 1] != 0 || packet[at + 2] != 1) {
        return -1;
    }
    const unsigned stream_id = packet[at + 3];
    const bool audio = stream_id >= 0xC0 && stream_id <= 0xDF;
    const bool has_pts = (packet[at + 7] & 0x80) != 0;
    if (audio || !has_pts) {
        return -1;
    }
    return decode_pts(packet + at + 9);
}

}  // namespace

Spread spread_of(std::vector<double> values) {
    Spread spread;
    spread.count = values.size();
    if (values.empty()) {
        return spread;
    }
    std::sort(values.begin(), values.end());
    const auto rank = [&](double fraction) {
        const auto index =
            static_cast<size_t>(std::ceil(fraction * static_cast<double>(values.size())));
        return values[std::clamp<size_t>(index, 1, values.size()) - 1];
    };
    spread.median = rank(0.5);
    spread.p99 = rank(0.99);
    spread.max = values.back();
    return spread;
}

std::vector<double> tick_lateness_ms(const std::vector<Arrival>& arrivals,
                                     std::int64_t min_gap_ns) {
    std::vector<double> lateness;
    for (size_t i = 1; i < arrivals.size(); ++i) {
        if (arrivals[i].wall_ns - arrivals[i - 1].wall_ns >= min_gap_ns) {
            lateness.push_back(static_cast<double>(arrivals[i].wall_ns % 1'000'000'000) / kNsPerMs);
        }
    }
    return lateness;
}

std::vector<std::uint64_t> transport_second_offsets(const std::string& stream) {
    std::vector<std::uint64_t> offsets;
    std::int64_t first_pts = -1;
    for (size_t at = 0; at + kPacketSize <= stream.size(); at += kPacketSize) {
        const auto* packet = reinterpret_cast<const unsigned char*>(stream.data() + at);
        if (packet[0] != 0x47) {
            break;
        }
        const std::int64_t pts = video_pts(packet);
        if (pts < 0) {
            continue;
        }
        if (first_pts < 0) {
            first_pts = pts;
        }
        while (pts - first_pts >= static_cast<std::int64_t>(offsets.size()) * kPtsPerSecond) {
            offsets.push_back(at);
        }
    }
    return offsets;
}

std::int64_t arrival_of(const std::vector<Arrival>& arrivals, std::uint64_t offset) {
    const auto after = std::upper_bound(
        arrivals.begin(), arrivals.end(), offset,
        [](std::uint64_t value, const Arrival& arrival) { return value < arrival.offset; });
    if (after == arrivals.begin()) {
        return -1;
    }
    const Arrival& holder = *(after - 1);
    return offset < holder.offset + holder.length ? holder.wall_ns : -1;
}

std::vector<double> schedule_lateness_ms(const std::vector<Arrival>& arrivals,
                                         const std::vector<std::uint64_t>& second_offsets) {
    std::vector<double> lateness;
    if (second_offsets.empty()) {
        return lateness;
    }
    const std::int64_t start = arrival_of(arrivals, second_offsets[0]);
    for (size_t k = 1; k < second_offsets.size() && start >= 0; ++k) {
        const std::int64_t at = arrival_of(arrivals, second_offsets[k]);
        if (at >= 0) {
            const auto due = start + static_cast<std::int64_t>(k) * 1'000'000'000;
            lateness.push_back(static_cast<double>(at - due) / kNsPerMs);
        }
    }
    return lateness;
}

}  // namespace tarnel::bench
