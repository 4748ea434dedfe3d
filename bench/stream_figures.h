#pragma once

// The figures of a streaming run, computed from what the loopback sink recorded: no sockets,
// clocks or processes here, so each can be checked on its own.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnel::bench {

// One receive on a connection: when it returned (wall clock, nanoseconds since the epoch),
// where its bytes start in the connection's stream, and how many there were.
struct Arrival {
    std::int64_t wall_ns;
    std::uint64_t offset;
    std::uint64_t length;
};

// Median, 99th percentile and maximum of a set of values (all 0 for an empty set). The
// percentile is the nearest rank: the smallest value with at least 99% of the values at or below.
struct Spread {
    double median = 0;
    double p99 = 0;
    double max = 0;
    size_t count = 0;
};
Spread spread_of(std::vector<double> values);

// For a stream sent one second at a time on the wall clock's ticks: how long after its tick the
// first byte of each second arrived, in milliseconds (0 to 1000). A second starts with the first
// receive after a silence of at least min_gap_ns; the first second of the connection is left
// out, since it goes as soon as the connection is up rather than on a tick.
std::vector<double> tick_lateness_ms(const std::vector<Arrival>& arrivals, std::int64_t min_gap_ns);

// Where each media second starts in an MPEG transport stream: the offset of the first 188-byte
// packet that starts a video (non-audio) PES packet whose time stamp is at least k seconds after
// the first one, for k = 0, 1, 2, ... Packets are taken from offset 0 in steps of 188; a packet
// without the 0x47 sync byte ends the scan.
std::vector<std::uint64_t> transport_second_offsets(const std::string& stream);

// The wall clock time at which the byte at offset arrived, or -1 when no receive holds it.
std::int64_t arrival_of(const std::vector<Arrival>& arrivals, std::uint64_t offset);

// For a stream paced from its own start: how late (negative: early) the first byte of each media
// second k >= 1 arrived against the arrival of second 0 plus k seconds, in milliseconds.
std::vector<double> schedule_lateness_ms(const std::vector<Arrival>& arrivals,
                                         const std::vector<std::uint64_t>& second_offsets);

}  // namespace tarnel::bench
