// The real program against a misbehaving server and a changing file system: whatever happens,
// it keeps running where it should, and what reaches the server is never corrupted.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "support/loopback_server.h"
#include "support/nsv_expected.h"
#include "support/nsv_writer.h"
#include "support/process_stats.h"
#include "support/subtitle_chunks.h"
#include "support/tarnel_run.h"

namespace tarnel::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// The wire of a file played from its start, no subtitles.
std::string wire_of(const NsvWriter& file) {
    NsvProcessState state;
    return expected_stream(file.bytes(), {}, state).wire();
}

// The wire of a file played over and over (a playlist that holds it alone), count times.
std::string repeated(const std::string& wire, size_t count) {
    std::string all;
    for (size_t i = 0; i < count; ++i) {
        all += wire;
    }
    return all;
}

// Whether stream is a beginning of the wire (or the whole of it).
bool is_prefix(const std::string& stream, const std::string& wire) {
    return stream.size() <= wire.size() && wire.compare(0, stream.size(), stream) == 0;
}

double seconds_since(LoopbackServer::Clock::time_point from) {
    return seconds_between(from, LoopbackServer::Clock::now());
}

// A clip of the given seconds at 30 frames per second.
NsvWriter clip(int length_seconds, int video_length, int audio_length = 40) {
    NsvWriter writer;
    writer.frames(30 * length_seconds, 0x1E, video_length, audio_length, 30);
    return writer;
}

// Starts a run playing a.nsv and then b.nsv, and waits until the first 20,000 bytes of a arrived.
void start_a_then_b(const LoopbackServer& server, TarnelRun& run, const NsvWriter& a,
                    const NsvWriter& b) {
    a.write(run.dir().file("a.nsv"));
    b.write(run.dir().file("b.nsv"));
    run.configure("ScreenLog=no\nRealTime=no\n");
    run.playlist("#Mode=basic\na.nsv\nb.nsv\n");
    run.start();
    ASSERT_TRUE(server.wait_for_bytes(0, 20000, seconds(10)));
}

// ---- The server misbehaves -------------------------------------------------------------------

TEST(ServerFaultsEndToEndTest, AResetInTheMiddleOfASecondEndsTheRunWithAnUncorruptedStream) {
    SourceScript script;
    script.close_after = 30000;  // in the third second of a 13 kB/s clip
    script.reset_at_close = true;
    LoopbackServer server(script);
    TarnelRun run(server);
    const NsvWriter file = clip(8, 400);
    file.write(run.dir().file("a.nsv"));
    run.configure("ScreenLog=no\nRealTime=no\n");
    run.playlist("#Mode=basic\na.nsv\n");
    run.start();

    EXPECT_EQ(run.process().wait(20000), 1) << run.log();
    EXPECT_TRUE(run.wait_for_log("Error: Could not write to socket.", seconds(1))) << run.log();
    const std::string stream = server.stream_bytes(0);
    EXPECT_GT(stream.size(), 20000u);
    EXPECT_TRUE(is_prefix(stream, wire_of(file)));
    EXPECT_EQ(server.connection_count(), 1u);
}

TEST(ServerFaultsEndToEndTest, AServerThatStopsReadingEndsTheSendAfterItsLimit) {
    SourceScript script;
    script.receive_buffer = 4096;
    LoopbackServer server(script);
    TarnelRun run(server);
    const NsvWriter file = clip(4, 10000);  // 300 kB/s fills the socket buffers in seconds
    file.write(run.dir().file("a.nsv"));
    run.configure("ScreenLog=no\nRealTime=no\n");
    run.playlist("#Mode=basic\na.nsv\n");
    run.start();
    ASSERT_TRUE(server.wait_for_bytes(0, 100000, seconds(10))) << run.log();
    server.set_reading(false);
    const auto stopped = LoopbackServer::Clock::now();

    // The 30-second send limit starts once the buffers are full.
    ASSERT_TRUE(run.wait_for_log("Error: Could not write to socket.", seconds(75))) << run.log();
    EXPECT_GT(seconds_since(stopped), 29.0);
    EXPECT_EQ(run.process().wait(5000), 1);
    const std::string wire = wire_of(file);
    const std::string stream = server.stream_bytes(0);
    EXPECT_TRUE(is_prefix(stream, repeated(wire, stream.size() / wire.size() + 1)));
}

TEST(ServerFaultsEndToEndTest, AnAnswerAfterTheHeaderBlockStartsTheStream) {
    SourceScript script;
    script.behaviour = SourceBehaviour::kReplyAfterHeaders;
    LoopbackServer server(script);
    TarnelRun run(server);
    const NsvWriter file = clip(2, 300);
    file.write(run.dir().file("a.nsv"));
    run.configure();
    run.playlist("#Mode=basic\na.nsv\n");
    run.start();
    const std::string wire = wire_of(file);
    ASSERT_TRUE(wait_until([&] { return server.stream_bytes(0).size() >= wire.size(); }, 15000))
        << run.log();
    run.process().kill();
    EXPECT_EQ(server.stream_bytes(0).substr(0, wire.size()), wire);
    EXPECT_NE(run.log().find("Connection Success"), std::string::npos) << run.log();
}

TEST(ServerFaultsEndToEndTest, AServerThatNeverAnswersIsGivenUpAfterTheReplyLimit) {
    SourceScript script;
    script.behaviour = SourceBehaviour::kNeverAnswer;
    LoopbackServer server(script);
    TarnelRun run(server);
    clip(2, 300).write(run.dir().file("a.nsv"));
    run.configure();
    run.playlist("#Mode=basic\na.nsv\n");
    run.start();
    ASSERT_TRUE(server.wait_for_connections(1, seconds(10)));
    const auto accepted = server.accepted_at(0);
    ASSERT_TRUE(run.wait_for_log("Error: Could not read from socket.", seconds(30))) << run.log();
    const double waited = seconds_since(accepted);
    EXPECT_GT(waited, 14.0);
    EXPECT_LT(waited, 25.0);
    EXPECT_EQ(run.process().wait(5000), 1);
    EXPECT_TRUE(server.stream_bytes(0).empty());
}

TEST(ServerFaultsEndToEndTest, AfterAServerRestartTheStreamResumesAndEveryFileArrivesWhole) {
    LoopbackServer server;
    TarnelRun run(server);
    const NsvWriter first = clip(6, 400);
    const NsvWriter second = clip(2, 317, 41);
    first.write(run.dir().file("first.nsv"));
    second.write(run.dir().file("second.nsv"));
    run.configure("AutoReconnect=yes\nScreenLog=no\nRealTime=no\n");
    run.playlist("#Mode=basic\nfirst.nsv\nsecond.nsv\n");
    run.start();
    ASSERT_TRUE(server.wait_for_bytes(0, 30000, seconds(10))) << run.log();
    server.stop_listening();
    std::this_thread::sleep_for(seconds(2));
    ASSERT_TRUE(server.start_listening());

    ASSERT_TRUE(server.wait_for_connections(2, seconds(45))) << run.log();
    // The interrupted file starts again from its beginning, and the next follows it whole.
    const std::string wire = wire_of(first) + wire_of(second);
    ASSERT_TRUE(wait_until([&] { return server.stream_bytes(1).size() >= wire.size(); }, 15000))
        << run.log();
    EXPECT_TRUE(run.process().running());
    run.process().kill();
    EXPECT_EQ(server.stream_bytes(1).substr(0, wire.size()), wire);
    EXPECT_TRUE(is_prefix(server.stream_bytes(0), wire_of(first)));
    EXPECT_EQ(count_of(run.log(), "Connection Success"), 2u) << run.log();
}

// ---- The files change under the running program ----------------------------------------------

TEST(FileFaultsEndToEndTest, ALogDirectoryReplacedByAFileLeavesTheStreamRunning) {
    LoopbackServer server;
    TarnelRun run(server);
    const NsvWriter file = clip(2, 300);
    file.write(run.dir().file("a.nsv"));
    std::filesystem::create_directory(run.dir().file("logs"));
    run.configure("LogFile=logs/tarnel.log\nScreenLog=no\nRealTime=no\n");
    run.playlist("#Mode=basic\na.nsv\n");
    run.start();
    const std::string wire = wire_of(file);
    ASSERT_TRUE(wait_until([&] { return !server.stream_bytes(0).empty(); }, 10000));
    std::filesystem::remove_all(run.dir().file("logs"));
    run.dir().write("logs", "not a directory");
    // Two more passes over the playlist, each logging lines that cannot be written.
    ASSERT_TRUE(
        wait_until([&] { return server.stream_bytes(0).size() >= 3 * wire.size(); }, 15000));
    EXPECT_TRUE(run.process().running());
    run.process().kill();
    const std::string stream = server.stream_bytes(0);
    EXPECT_EQ(stream.substr(0, 3 * wire.size()), repeated(wire, 3));
    EXPECT_EQ(read_file(run.dir().file("logs")), "not a directory");
}

TEST(FileFaultsEndToEndTest, ADeletedLogFileIsCreatedAgainByTheNextLine) {
    LoopbackServer server;
    TarnelRun run(server);
    const NsvWriter file = clip(1, 300);
    file.write(run.dir().file("a.nsv"));
    run.configure("ScreenLog=no\nRealTime=no\n");
    run.playlist("#Mode=basic\na.nsv\n");
    run.start();
    ASSERT_TRUE(run.wait_for_log("Opened a.nsv", seconds(10)));
    ASSERT_EQ(std::remove(run.dir().file("tarnel.log").c_str()), 0);
    ASSERT_TRUE(run.wait_for_log("Opened a.nsv", seconds(10))) << "no new log lines";
    // The pass whose line was just logged is sent after the line.
    const std::string wire = wire_of(file);
    EXPECT_TRUE(
        wait_until([&] { return server.stream_bytes(0).size() >= 2 * wire.size(); }, 10000));
    EXPECT_TRUE(run.process().running());
    run.process().kill();
    EXPECT_EQ(server.stream_bytes(0).substr(0, 2 * wire.size()), repeated(wire, 2));
}

TEST(FileFaultsEndToEndTest, AMediaFileDeletedWhileItStreamsIsSentWhole) {
    LoopbackServer server;
    TarnelRun run(server);
    const NsvWriter a = clip(4, 400);
    const NsvWriter b = clip(1, 317, 41);
    ASSERT_NO_FATAL_FAILURE(start_a_then_b(server, run, a, b));
    ASSERT_EQ(std::remove(run.dir().file("a.nsv").c_str()), 0);
    ASSERT_TRUE(run.wait_for_log("Unable to open a.nsv", seconds(15))) << run.log();
    EXPECT_TRUE(run.process().running());
    run.process().kill();
    // The open file keeps its bytes; the next pass finds it gone and goes on with b.
    const std::string wire = wire_of(a) + wire_of(b);
    EXPECT_EQ(server.stream_bytes(0).substr(0, wire.size()), wire);
}

TEST(FileFaultsEndToEndTest, AMediaFileTruncatedWhileItStreamsIsLeftForTheNextFile) {
    LoopbackServer server;
    TarnelRun run(server);
    const NsvWriter a = clip(6, 400);
    const NsvWriter b = clip(1, 317, 41);
    ASSERT_NO_FATAL_FAILURE(start_a_then_b(server, run, a, b));
    ASSERT_EQ(truncate(run.dir().file("a.nsv").c_str(), 1000), 0);
    ASSERT_TRUE(run.wait_for_log("Opened b.nsv", seconds(15))) << run.log();
    const std::string b_wire = wire_of(b);
    ASSERT_TRUE(
        wait_until([&] { return server.stream_bytes(0).find(b_wire) != std::string::npos; }, 5000));
    EXPECT_TRUE(run.process().running());
    run.process().kill();
    // Before b: a beginning of a's wire, as much as the reader had when the file shrank.
    const std::string stream = server.stream_bytes(0);
    const size_t b_at = stream.find(b_wire);
    EXPECT_TRUE(is_prefix(stream.substr(0, b_at), wire_of(a)));
}

TEST(FileFaultsEndToEndTest, ASubtitleScriptRewrittenAHundredTimesASecondIsHarmless) {
    LoopbackServer server;
    TarnelRun run(server);
    const NsvWriter file = clip(2, 300);
    file.write(run.dir().file("a.nsv"));
    const std::string texts[] = {"0 30 1 2 255 255 255 First", "0 30 1 2 255 0 0 Second text", ""};
    run.dir().write("subtitle.txt", texts[0]);
    run.configure("SubtitleMode=script\nScreenLog=no\nRealTime=no\n");
    run.playlist("#Mode=basic\na.nsv\n");
    run.start();
    ASSERT_TRUE(server.wait_for_bytes(0, 5000, seconds(10)));
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (size_t i = 0; writing && i < 1000; ++i) {
            run.dir().write("subtitle.txt", texts[i % 3]);
            std::this_thread::sleep_for(milliseconds(10));
        }
    });
    const size_t before = server.stream_bytes(0).size();
    std::this_thread::sleep_for(seconds(4));
    writing = false;
    writer.join();
    EXPECT_TRUE(run.process().running());
    run.process().kill();
    const std::string stream = server.stream_bytes(0);
    // About 4 seconds of 10.8 kB each went out while the file changed.
    EXPECT_GT(stream.size() - before, 25000u);
    // Every subtitle sent is one of the texts, or a part of one read while it was written.
    const auto found = find_subtitles(stream);
    ASSERT_FALSE(found.empty());
    for (const FoundSubtitle& subtitle : found) {
        EXPECT_TRUE(std::string("First").rfind(subtitle.text, 0) == 0 ||
                    std::string("Second text").rfind(subtitle.text, 0) == 0)
            << subtitle.text;
    }
}

// ---- The playlist or configuration is replaced and reloaded by signal -------------------------

std::string binary_junk(size_t size) {
    std::string junk(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        junk[i] = static_cast<char>((i * 131 + 7) % 256);
    }
    return junk;
}

TEST(ReloadFaultsEndToEndTest, APlaylistWithoutItsModeLineEndsTheRunOnReload) {
    LoopbackServer server;
    TarnelRun run(server);
    clip(1, 300).write(run.dir().file("a.nsv"));
    run.configure("ScreenLog=no\nRealTime=no\n");
    run.playlist("#Mode=basic\na.nsv\n");
    run.start();
    ASSERT_TRUE(run.wait_for_log("Opened a.nsv", seconds(10)));
    run.playlist(binary_junk(4096));
    run.process().signal(SIGUSR1);
    EXPECT_EQ(run.process().wait(10000), 1);
    EXPECT_NE(run.log().find("FATAL ERROR: Playlist (list.plo) could not be loaded!!"),
              std::string::npos)
        << run.log();
}

struct LoadableJunk {
    const char* name;
    std::string playlist_tail;  // after "#Mode=basic\na.nsv\n"
    std::string config_tail;    // after the test configuration
};

void PrintTo(const LoadableJunk& junk, std::ostream* out) {
    *out << junk.name;
}

class ReloadJunkEndToEndTest : public ::testing::TestWithParam<LoadableJunk> {};

// Junk that still loads: the process goes on streaming the playable entries and its memory stays
// bounded, whatever the lines hold.
TEST_P(ReloadJunkEndToEndTest, StreamingGoesOnAndMemoryStaysBounded) {
    // A 10 MB playlist line is kept as 511-character entries (about 10 MB); AddressSanitizer
    // adds its shadow memory and a quarantine of freed blocks of up to 256 MB.
#ifdef __SANITIZE_ADDRESS__
    constexpr long kMemoryBoundKb = 512 * 1024;
#else
    constexpr long kMemoryBoundKb = 64 * 1024;
#endif
    LoopbackServer server;
    TarnelRun run(server);
    const NsvWriter file = clip(1, 300);
    file.write(run.dir().file("a.nsv"));
    run.configure("ScreenLog=no\nRealTime=no\n");
    run.playlist("#Mode=basic\na.nsv\n");
    run.start();
    ASSERT_TRUE(run.wait_for_log("Opened a.nsv", seconds(10)));

    const std::string config = read_file(run.dir().file("tarnel.conf"));
    run.dir().write("tarnel.conf", config + GetParam().config_tail);
    run.process().signal(SIGWINCH);
    ASSERT_TRUE(run.wait_for_log("SIGWINCH recieved", seconds(10))) << run.log();
    run.playlist("#Mode=basic\na.nsv\n" + GetParam().playlist_tail);
    run.process().signal(SIGUSR1);
    ASSERT_TRUE(run.wait_for_log("SIGUSR1 recieved", seconds(10))) << run.log();

    // a.nsv is played again after the reloads.
    const size_t opened = count_of(run.log(), "Opened a.nsv");
    ASSERT_TRUE(run.wait_for_log("Opened a.nsv", seconds(20), opened + 1)) << GetParam().name;
    // The pass whose line was just logged is sent after the line.
    const std::string wire = wire_of(file);
    EXPECT_TRUE(
        wait_until([&] { return server.stream_bytes(0).size() >= 2 * wire.size(); }, 10000));
    EXPECT_TRUE(run.process().running());
    EXPECT_LT(process_stats(run.process().pid()).peak_rss_kb, kMemoryBoundKb);
    run.process().kill();
    EXPECT_EQ(server.stream_bytes(0).substr(0, 2 * wire.size()), repeated(wire, 2));
    EXPECT_EQ(server.connection_count(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Junk, ReloadJunkEndToEndTest,
    ::testing::Values(LoadableJunk{"Garbage", "garbage entry\n#%$&\n=\n", "garbage=\n=x\n#\n"},
                      LoadableJunk{"Binary", binary_junk(65536), binary_junk(65536)},
                      LoadableJunk{"TenMegabyteLine", std::string(10 << 20, 'x') + "\n",
                                   std::string(10 << 20, 'y') + "\n"}),
    [](const ::testing::TestParamInfo<LoadableJunk>& junk) {
        return std::string(junk.param.name);
    });

}  // namespace
}  // namespace tarnel::test
