// The real program streaming by Icecast's protocol to the loopback stand-in: a title update that
// never gets its answer does not hold the stream back, and a final reply that comes while the
// stream is being sent ends the connection.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/http_loopback_server.h"
#include "support/nsv_expected.h"
#include "support/nsv_writer.h"
#include "support/tarnel_run.h"

namespace tarnel::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

// Four files of two whole seconds each, while every title update waits for an answer that never
// comes (the program gives one up after 5 s). Each file's first second goes out on its tick
// beside the update, so the 8 s of media take about 8 s, where waiting for each update took
// 28 s; the bytes are those of the files, and each update's outcome is logged before the next
// entry's lines.
TEST(IcecastStreamingEndToEndTest, ASilentTitleUpdateDoesNotHoldTheStreamBack) {
    HttpScript script;
    script.metadata_answer = {{}, false};
    const HttpLoopbackServer icecast(script);
    TarnelRun run(icecast.port());
    std::vector<NsvWriter> files(4);
    std::string list = "#Mode=basic\n";
    NsvProcessState state;
    std::string wire;
    for (size_t i = 0; i < files.size(); ++i) {
        files[i].frames(60, 0x1E, 300 + static_cast<int>(i) * 20, 40, 30);
        const std::string name = "f" + std::to_string(i + 1) + ".nsv";
        files[i].write(run.dir().file(name));
        list += name + "\n";
        wire += expected_stream(files[i].bytes(), {}, state).wire();
    }
    run.configure("Mount=/live\n");
    run.playlist(list);
    run.start();

    ASSERT_TRUE(icecast.wait_for_body(0, 1, milliseconds(10000))) << run.log();
    const auto first_byte = Clock::now();
    ASSERT_TRUE(icecast.wait_for_body(0, wire.size(), milliseconds(40000))) << run.log();
    const auto took = Clock::now() - first_byte;
    ASSERT_TRUE(run.wait_for_log("Playlist Pos Changed to: 1", seconds(10), 2)) << run.log();
    run.process().kill();
    EXPECT_LT(took, seconds(16)) << "the stream waited for its title updates";
    EXPECT_EQ(icecast.exchanges()[0].body.substr(0, wire.size()), wire);
    const std::string log = run.log();
    for (int i = 1; i <= 4; ++i) {
        const std::string name = "f" + std::to_string(i) + ".nsv";
        EXPECT_NE(log.find("Opened " + name +
                           " successfully!\nfile has no headers\n"
                           "Error Updating Title(Could not read from socket.)\n"
                           "Playlist Pos Changed to: " +
                           std::to_string(i % 4 + 1) + "\n"),
                  std::string::npos)
            << log;
    }
}

// A proxy's 401 after "100 Continue" comes while the stream is being sent: it is logged as a
// refused log-in is, and the usual reconnection follows (here: none, so the run ends), long
// before the ten-second file would have ended.
TEST(IcecastStreamingEndToEndTest, AFinalReplyWhileStreamingEndsTheConnection) {
    HttpScript script;
    script.source_answers = {
        {{"HTTP/1.1 100 Continue\r\n\r\n", "HTTP/1.1 401 Unauthorized\r\n\r\n"}, false}};
    script.piece_gap = milliseconds(1500);
    const HttpLoopbackServer icecast(script);
    TarnelRun run(icecast.port());
    NsvWriter clip;
    clip.frames(300, 0x1E, 300, 40, 30);
    clip.write(run.dir().file("long.nsv"));
    run.configure("Mount=/live\n");
    run.playlist("#Mode=basic\nlong.nsv\n");
    run.start();
    EXPECT_EQ(run.process().wait(8000), 1) << run.log();
    const std::string log = run.log();
    const std::string last = "Error: Invalid Password\n";
    ASSERT_GE(log.size(), last.size()) << log;
    EXPECT_EQ(log.substr(log.size() - last.size()), last) << log;
    EXPECT_NE(log.find("Title Updated (long.nsv)\n"), std::string::npos) << log;
}

}  // namespace
}  // namespace tarnel::test
