#include "driver/pacing.h"

#include <gtest/gtest.h>

#include <string>

#include "config/log.h"
#include "config/settings.h"
#include "config/wall_clock.h"
#include "support/console_capture.h"

namespace tarnel::test {
namespace {

// The time stamp that a line written during the given second carries.
std::string stamp_of(std::time_t second) {
    std::tm local{};
    localtime_r(&second, &local);
    char buffer[40];
    const size_t written = std::strftime(buffer, sizeof buffer, "<%m/%d/%Y@%H:%M:%S> ", &local);
    return std::string(buffer, written);
}

// The coarse clock behind time() turns over a few milliseconds after the tick, while the wait
// ends within a fraction of a millisecond of it: a line logged at once must carry the new second.
TEST(PacingTest, ALineLoggedRightAfterTheWaitCarriesTheSecondItWaitedFor) {
    reset_settings();
    logfile = "NULL";
    ConsoleCapture capture;
    for (int tick = 0; tick < 3; ++tick) {
        const std::time_t second_start = wall_clock_second();
        wait_for_next_second(second_start);
        capture.clear();
        nsv_log("sent");
        const std::string line = capture.text();
        // A second that ran out while the test was descheduled may end a second later still.
        const std::string expected = stamp_of(second_start + 1);
        const std::string late = stamp_of(second_start + 2);
        const std::string stamp = line.substr(line.find('<'), expected.size());
        EXPECT_TRUE(stamp == expected || stamp == late) << line << " expected " << expected;
        EXPECT_NE(stamp, stamp_of(second_start)) << line;
    }
    reset_settings();
}

}  // namespace
}  // namespace tarnel::test
