#include "config/wall_clock.h"

namespace tarnel {

timespec wall_clock_now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

std::time_t wall_clock_second() {
    return wall_clock_now().tv_sec;
}

}  // namespace tarnel
