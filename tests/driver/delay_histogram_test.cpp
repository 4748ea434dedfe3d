#include "driver/delay_histogram.h"

#include <gtest/gtest.h>

namespace tarnel::test {
namespace {

// Each value counts in every bucket whose bound it does not exceed (a value on a bound counts in
// it), as Prometheus' cumulative "le" buckets do; the count and the sum take every value.
TEST(DelayHistogramTest, CountsAreCumulativeAndABoundIsInclusive) {
    DelayHistogram histogram;
    EXPECT_EQ(histogram.count, 0u);
    for (const double seconds : {0.0, 0.001, 0.0011, 0.1, 0.75, 1.0, 3.0}) {
        histogram.add(seconds);
    }
    const std::array<std::uint64_t, 10> expected = {2, 3, 3, 3, 3, 3, 4, 4, 4, 6};
    EXPECT_EQ(histogram.at_most, expected);
    EXPECT_EQ(histogram.count, 7u);
    EXPECT_DOUBLE_EQ(histogram.sum_seconds, 0.0 + 0.001 + 0.0011 + 0.1 + 0.75 + 1.0 + 3.0);
}

}  // namespace
}  // namespace tarnel::test
