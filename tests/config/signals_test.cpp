#include "config/signals.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "config/playlist.h"
#include "config/settings.h"
#include "support/console_capture.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

class SignalsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_settings();
        reset_playlist();
        reset_signals();
        screenlog = false;
        logfile = dir_.file("tarnel.log");
        playlist = dir_.write("list.plo", "#Mode=basic\na.nsv\n");
        config_file = dir_.write("tarnel.conf", "Genre=Reloaded\n");
        install_signal_handlers();
    }
    void TearDown() override {
        for (const int signal_number : {SIGHUP, SIGUSR1, SIGUSR2, SIGWINCH, SIGPIPE}) {
            std::signal(signal_number, SIG_DFL);
        }
        reset_signals();
        reset_settings();
        reset_playlist();
    }
    std::string log() const { return without_stamps(read_file(logfile)); }

    TempDir dir_;
};

TEST_F(SignalsTest, HandlersOnlyRecordAndTheWorkHappensInOrderAtTheSafePoint) {
    dir_.write("tarnel.log", "old line\n");
    std::raise(SIGWINCH);
    std::raise(SIGUSR1);
    std::raise(SIGUSR2);
    std::raise(SIGHUP);
    std::raise(SIGHUP);  // the same signal twice before the safe point is carried out once
    EXPECT_EQ(read_file(logfile), "old line\n");
    EXPECT_FALSE(next_track);
    EXPECT_EQ(genre, "Unknown Genre");

    carry_out_signals();
    EXPECT_TRUE(next_track);
    EXPECT_EQ(genre, "Reloaded");
    EXPECT_EQ(playlist_list, (std::vector<std::string>{"a.nsv"}));
    EXPECT_EQ(log(),
              "SIGHUP recieved; flushing log files!\n"
              "SIGUSR2 recieved; changing to next track position!\n"
              "SIGUSR1 recieved; playlist reloading!\n"
              "Loading Playlist " +
                  playlist +
                  "\n"
                  "Playlist is in basic mode\n"
                  "Loaded 1 Items\n"
                  "SIGWINCH recieved; config file reloading!\n"
                  "Configuration file loaded from '" +
                  config_file + "'\n");

    dir_.write("tarnel.log", "");
    carry_out_signals();  // nothing recorded since
    EXPECT_EQ(read_file(logfile), "");
}

TEST_F(SignalsTest, AFailedPlaylistReloadEndsTheRun) {
    std::remove(playlist.c_str());
    std::raise(SIGUSR1);
    EXPECT_THROW(carry_out_signals(), EndOfRun);
    EXPECT_NE(log().find("FATAL ERROR: Playlist (" + playlist + ") could not be loaded!!\n" +
                         "Playlist " + playlist + ": No such file or directory\n"),
              std::string::npos)
        << log();
}

TEST_F(SignalsTest, DispositionsStayInstalledResumeSystemCallsAndIgnoreSigpipe) {
    struct sigaction current {};
    sigaction(SIGPIPE, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_IGN);
    for (const int signal_number : {SIGHUP, SIGUSR1, SIGUSR2, SIGWINCH}) {
        std::raise(signal_number);
        sigaction(signal_number, nullptr, &current);
        EXPECT_NE(current.sa_handler, SIG_DFL) << signal_number;
        EXPECT_NE(current.sa_flags & SA_RESTART, 0) << signal_number;
        EXPECT_EQ(current.sa_flags & SA_RESETHAND, 0) << signal_number;
    }
}

// The sleep between two seconds ends as soon as one of the four signals comes, also one recorded
// just before the sleep, and otherwise lasts its time.
TEST_F(SignalsTest, ASleepEndsWhenASignalComes) {
    using std::chrono::milliseconds;
    using Clock = std::chrono::steady_clock;
    const auto timed_sleep = [](milliseconds duration) {
        const auto start = Clock::now();
        sleep_until_signal(duration);
        return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    };

    EXPECT_GE(timed_sleep(milliseconds(200)), milliseconds(190));

    std::raise(SIGUSR2);  // recorded, not yet carried out
    EXPECT_LT(timed_sleep(milliseconds(5000)), milliseconds(1000));
    carry_out_signals();

    const pthread_t sleeper = pthread_self();
    std::thread sender([sleeper] {
        std::this_thread::sleep_for(milliseconds(100));
        pthread_kill(sleeper, SIGWINCH);
    });
    EXPECT_LT(timed_sleep(milliseconds(5000)), milliseconds(2000));
    sender.join();
    carry_out_signals();
    EXPECT_TRUE(next_track);
}

}  // namespace
}  // namespace tarnel::test
