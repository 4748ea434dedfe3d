#include "driver/loop_wait.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <stdexcept>
#include <thread>

#include "config/signals.h"
#include "config/wall_clock.h"
#include "support/loopback_listener.h"

namespace tarnel::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

class LoopWaitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_loop_wait();
        reset_signals();
        int ends[2] = {-1, -1};
        ASSERT_EQ(pipe(ends), 0);
        reader_ = Descriptor(ends[0]);
        writer_ = Descriptor(ends[1]);
    }
    void TearDown() override {
        std::signal(SIGUSR2, SIG_DFL);
        reset_signals();
        reset_loop_wait();
    }
    void make_readable() const { ASSERT_EQ(write(writer_.get(), "x", 1), 1); }

    Descriptor reader_;
    Descriptor writer_;
};

// A wall-clock wait ends at the tick itself: never before it, and within a generous margin after.
TEST_F(LoopWaitTest, AWallClockWaitEndsAtTheTick) {
    for (int round = 0; round < 2; ++round) {
        const std::time_t second = wall_clock_second();
        while (wait_once(WaitDeadline::wall_clock(second + 1)) != WakeReason::kDeadline) {
        }
        const timespec now = wall_clock_now();
        EXPECT_GE(now.tv_sec, second + 1);
        EXPECT_LT(now.tv_sec, second + 3);  // a loaded machine may be slow, not a second off
    }
}

TEST_F(LoopWaitTest, ASteadyWaitLastsItsTimeAndADeadlineInThePastEndsAtOnce) {
    auto start = Clock::now();
    EXPECT_EQ(wait_once(WaitDeadline::steady(start + milliseconds(150))), WakeReason::kDeadline);
    EXPECT_GE(Clock::now() - start, milliseconds(150));

    start = Clock::now();
    EXPECT_EQ(wait_once(WaitDeadline::steady(start - milliseconds(10))), WakeReason::kDeadline);
    EXPECT_EQ(wait_once(WaitDeadline::wall_clock(wall_clock_second() - 1)), WakeReason::kDeadline);
    EXPECT_LT(Clock::now() - start, milliseconds(1000));
}

// A ready descriptor is served at once, by its handler on the calling thread, and only while its
// watch lives.
TEST_F(LoopWaitTest, AReadyDescriptorIsServedWhileItsWatchLives) {
    int served = 0;
    short events = 0;
    const auto start = Clock::now();
    {
        const WaitWatch watch(reader_.get(), POLLIN, [&](short revents) {
            ++served;
            events = revents;
            char byte = 0;
            ASSERT_EQ(read(reader_.get(), &byte, 1), 1);
        });
        std::thread writer([this] {
            std::this_thread::sleep_for(milliseconds(100));
            make_readable();
        });
        EXPECT_EQ(wait_once(WaitDeadline::steady(start + milliseconds(5000))),
                  WakeReason::kDescriptor);
        writer.join();
        EXPECT_EQ(served, 1);
        EXPECT_NE(events & POLLIN, 0);
        EXPECT_LT(Clock::now() - start, milliseconds(2500));
    }
    make_readable();
    EXPECT_EQ(wait_once(WaitDeadline::steady(Clock::now() + milliseconds(50))),
              WakeReason::kDeadline);
    EXPECT_EQ(served, 1);
}

TEST_F(LoopWaitTest, AWatchThatIsNotArmedIsLeftOut) {
    int served = 0;
    WaitWatch watch(reader_.get(), POLLIN, [&](short /*revents*/) { ++served; });
    watch.set_armed(false);
    make_readable();
    EXPECT_EQ(wait_once(WaitDeadline::steady(Clock::now() + milliseconds(50))),
              WakeReason::kDeadline);
    EXPECT_EQ(served, 0);
    watch.set_armed(true);
    EXPECT_EQ(wait_once(WaitDeadline::steady(Clock::now() + milliseconds(5000))),
              WakeReason::kDescriptor);
    EXPECT_EQ(served, 1);
}

TEST_F(LoopWaitTest, AHandlersExceptionLeavesTheWait) {
    const WaitWatch watch(reader_.get(), POLLIN,
                          [](short /*revents*/) { throw std::runtime_error("served"); });
    make_readable();
    EXPECT_THROW(wait_once(WaitDeadline::steady(Clock::now() + milliseconds(5000))),
                 std::runtime_error);
}

// A signal recorded before the wait, or arriving during it, ends the wait; the caller carries
// it out.
TEST_F(LoopWaitTest, ASignalEndsTheWait) {
    install_signal_handlers();
    std::raise(SIGUSR2);
    auto start = Clock::now();
    EXPECT_EQ(wait_once(WaitDeadline::steady(start + milliseconds(5000))), WakeReason::kSignal);
    EXPECT_LT(Clock::now() - start, milliseconds(2500));

    reset_signals();
    const pthread_t sleeper = pthread_self();
    std::thread sender([sleeper] {
        std::this_thread::sleep_for(milliseconds(100));
        pthread_kill(sleeper, SIGUSR2);
    });
    start = Clock::now();
    EXPECT_EQ(wait_once(WaitDeadline::wall_clock(wall_clock_second() + 5)), WakeReason::kSignal);
    EXPECT_LT(Clock::now() - start, milliseconds(2500));
    sender.join();
    for (const int signal_number : {SIGHUP, SIGUSR1, SIGWINCH, SIGPIPE}) {
        std::signal(signal_number, SIG_DFL);
    }
}

}  // namespace
}  // namespace tarnel::test
