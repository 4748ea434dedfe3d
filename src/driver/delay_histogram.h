#pragma once

#include <array>
#include <cstdint>

namespace tarnel {

// A histogram of delays in seconds, kept as Prometheus keeps one: fixed upper bounds, a count of
// the values at or below each (cumulative), the count of all values and their sum. The streaming
// loop keeps one of how late each second's first byte left after its tick.
struct DelayHistogram {
    static constexpr std::array<double, 10> kBoundsSeconds = {0.001, 0.0025, 0.005, 0.01, 0.025,
                                                              0.05,  0.1,    0.25,  0.5,  1.0};
    std::array<std::uint64_t, kBoundsSeconds.size()> at_most{};  // cumulative, per bound
    std::uint64_t count = 0;  // every value, so also those above the last bound
    double sum_seconds = 0;

    void add(double seconds);
};

}  // namespace tarnel
