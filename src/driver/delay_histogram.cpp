#include "driver/delay_histogram.h"

#include <cstddef>

namespace tarnel {

void DelayHistogram::add(double seconds) {
    for (size_t i = 0; i < kBoundsSeconds.size(); ++i) {
        if (seconds <= kBoundsSeconds[i]) {
            ++at_most[i];
        }
    }
    ++count;
    sum_seconds += seconds;
}

}  // namespace tarnel
