// The four control signals sent to the running program.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/console_capture.h"
#include "support/loopback_server.h"
#include "support/nsv_expected.h"
#include "support/nsv_writer.h"
#include "support/subtitle_chunks.h"
#include "support/tarnel_run.h"

namespace tarnel::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// The file's wire when a skip request is found in second `skipped` (counting from 0).
std::string skipped_wire(const NsvWriter& file, size_t skipped, NsvProcessState& state) {
    std::vector<SecondOffer> offers(skipped + 1);
    offers[skipped].next_track = true;
    return expected_stream(file.bytes(), offers, state).wire();
}

TEST(SignalsEndToEndTest, Usr2EndsTheFileAfterTheCurrentSecondWithTheEndMarker) {
    LoopbackServer server;
    TarnelRun run(server);
    NsvWriter longer;
    longer.frames(300, 0x1E, 200, 40, 30);
    NsvWriter next;
    next.frames(20, 0x1E, 150, 30);
    longer.write(run.dir().file("long.nsv"));
    next.write(run.dir().file("next.nsv"));
    run.configure();
    run.playlist(
        "#Mode=object\n#define a\n#define b\n#list a\nlong.nsv\n#\n#list b\nnext.nsv\n#\n"
        "#clock:\na\nb\n#\n");
    run.start();
    ASSERT_TRUE(server.wait_for_bytes(0, 15000, seconds(10)));
    run.process().signal(SIGUSR2);
    ASSERT_TRUE(run.wait_for_log("Opened next.nsv", seconds(5))) << run.log();
    // Some second k of the long file carries the end marker, and the next file follows it (on
    // the tick after it: the next file is opened before the program sleeps); the wait ends once
    // one such stream has arrived whole.
    std::vector<std::string> wires;
    for (size_t k = 0; k < 10; ++k) {
        NsvProcessState state;
        wires.push_back(skipped_wire(longer, k, state) +
                        expected_stream(next.bytes(), {}, state).wire());
    }
    const bool matched = wait_until(
        [&] {
            const std::string stream = server.stream_bytes(0);
            return std::any_of(wires.begin(), wires.end(), [&](const std::string& wire) {
                return stream.compare(0, wire.size(), wire) == 0;
            });
        },
        10000);
    run.process().kill();

    const std::string log = run.log();
    EXPECT_NE(log.find("SIGUSR2 recieved; changing to next track position!\n"), std::string::npos);
    EXPECT_NE(log.find("Playlist Pos Changed to: 1, clock list pos 2 (b)\nOpened next.nsv"),
              std::string::npos)
        << log;
    EXPECT_TRUE(matched);
}

TEST(SignalsEndToEndTest, HupEmptiesTheLogFile) {
    LoopbackServer server;
    TarnelRun run(server);
    run.configure();
    run.playlist("#Mode=basic\nmissing.nsv\n");
    run.start();
    ASSERT_TRUE(run.wait_for_log("Unable to open", seconds(10)));
    run.process().signal(SIGHUP);
    ASSERT_TRUE(run.wait_for_log("SIGHUP recieved; flushing log files!", seconds(5)));
    run.process().kill();
    EXPECT_EQ(run.log().rfind("SIGHUP recieved; flushing log files!\n", 0), 0u) << run.log();
}

TEST(SignalsEndToEndTest, HupWithoutALogFileCreatesNothing) {
    LoopbackServer server;
    TarnelRun run(server);
    run.configure("LogFile=NULL\n");
    run.playlist("#Mode=basic\nmissing.nsv\n");
    run.start();
    ASSERT_TRUE(wait_until(
        [&] { return run.console().find("Unable to open") != std::string::npos; }, 10000));
    run.process().signal(SIGHUP);
    ASSERT_TRUE(wait_until(
        [&] {
            return run.console().find("SIGHUP recieved; flushing log files!") != std::string::npos;
        },
        5000));
    run.process().kill();
    EXPECT_FALSE(file_exists(run.dir().file("NULL")));
    EXPECT_FALSE(file_exists(run.dir().file("tarnel.log")));
}

TEST(SignalsEndToEndTest, Usr1ReloadsThePlaylistAndEndsWhenItIsGone) {
    LoopbackServer server;
    TarnelRun run(server);
    run.configure();
    run.playlist("#Mode=basic\nmissing.nsv\n");
    run.start();
    ASSERT_TRUE(run.wait_for_log("Unable to open missing.nsv", seconds(10)));
    run.playlist("#Mode=basic\nother.nsv\n");
    run.process().signal(SIGUSR1);
    ASSERT_TRUE(run.wait_for_log("Unable to open other.nsv", seconds(5))) << run.log();
    EXPECT_NE(run.log().find("SIGUSR1 recieved; playlist reloading!\n"
                             "Loading Playlist list.plo\n"
                             "Playlist is in basic mode\n"
                             "Loaded 1 Items\n"),
              std::string::npos);

    std::remove(run.dir().file("list.plo").c_str());
    run.process().signal(SIGUSR1);
    EXPECT_EQ(run.process().wait(5000), 1);
    const std::string log = run.log();
    const std::string last =
        "SIGUSR1 recieved; playlist reloading!\n"
        "Loading Playlist list.plo\n"
        "FATAL ERROR: Playlist (list.plo) could not be loaded!!\n"
        "Playlist list.plo (in " +
        run.dir().path() + "): No such file or directory\n";
    ASSERT_GE(log.size(), last.size());
    EXPECT_EQ(log.substr(log.size() - last.size()), last) << log;
}

TEST(SignalsEndToEndTest, WinchReloadsTheConfigurationAndAMissingOneOnlyWarns) {
    LoopbackServer server;
    TarnelRun run(server);
    run.configure();
    run.playlist("#Mode=basic\nmissing.nsv\n");
    run.start();
    ASSERT_TRUE(run.wait_for_log("Unable to open", seconds(10)));
    run.dir().write("tarnel.conf", "ScreenLog=no\nGenre=Reloaded\n");
    run.process().signal(SIGWINCH);
    ASSERT_TRUE(run.wait_for_log("Configuration file loaded from 'tarnel.conf'", seconds(5), 2));
    std::remove(run.dir().file("tarnel.conf").c_str());
    run.process().signal(SIGWINCH);
    ASSERT_TRUE(
        run.wait_for_log("SIGWINCH recieved; config file reloading!\n"
                         "WARNING: configuaration file could not be loaded, assuming defaults\n",
                         seconds(5)));
    EXPECT_TRUE(run.process().running());
    run.process().kill();
    // ScreenLog=no took effect: the last console line is from before the first reload.
    EXPECT_EQ(run.console().find("WARNING: configuaration"), std::string::npos);
}

TEST(SignalsEndToEndTest, ABurstOfSignalsLeavesTheStreamExactAndTheLogWhole) {
    LoopbackServer server;
    TarnelRun run(server);
    NsvWriter clip;
    clip.frames(240, 0x1E, 300, 40, 30);  // eight seconds
    clip.write(run.dir().file("clip.nsv"));
    run.configure();
    run.playlist("#Mode=basic\nclip.nsv\n");
    run.start();
    ASSERT_TRUE(server.wait_for_bytes(0, 5000, seconds(10)));
    // Skips are left out of the burst so the expected stream stays exact.
    const int kinds[] = {SIGHUP, SIGUSR1, SIGWINCH};
    std::mt19937 random(7);
    for (int i = 0; i < 50; ++i) {
        run.process().signal(kinds[random() % 3]);
        std::this_thread::sleep_for(milliseconds(random() % 20));
    }
    NsvProcessState state;
    const std::string wire = expected_stream(clip.bytes(), {}, state).wire();
    ASSERT_TRUE(
        wait_until([&] { return server.stream_bytes(0).size() >= wire.size() + 5000; }, 15000));
    EXPECT_TRUE(run.process().running());
    run.process().kill();
    EXPECT_EQ(server.stream_bytes(0).substr(0, wire.size()), wire);
    // Every line of the log is one whole time-stamped line.
    const std::string log = read_file(run.dir().file("tarnel.log"));
    EXPECT_TRUE(is_stamped_lines(log)) << log;
}

}  // namespace
}  // namespace tarnel::test
