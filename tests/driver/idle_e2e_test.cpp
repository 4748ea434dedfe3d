// The real program with nothing it can play: the log says so once and then only what changes, an
// entry that becomes playable streams at once, and a server that drops the silent connection is
// noticed, so the status file never claims a connection that is gone.

#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/loopback_server.h"
#include "support/nsv_expected.h"
#include "support/nsv_writer.h"
#include "support/tarnel_run.h"

namespace tarnel::test {
namespace {

using nlohmann::json;
using std::chrono::seconds;

constexpr const char* kNotice = "Nothing in the playlist could be played";

json status_of(const TarnelRun& run) {
    const std::string text = read_file(run.dir().file("status.json"));
    return json::accept(text) ? json::parse(text) : json();
}

// Writes the file beside its place and renames it there, so the program never reads half of it.
void put_in_place(const TarnelRun& run, const NsvWriter& file, const std::string& name) {
    file.write(run.dir().file(name + ".part"));
    ASSERT_EQ(std::rename(run.dir().file(name + ".part").c_str(), run.dir().file(name).c_str()), 0);
}

TEST(IdleEndToEndTest, TheLogSaysOnceThatNothingPlaysThenOnlyWhatChanges) {
    LoopbackServer server;
    TarnelRun run(server);
    run.configure("StatusFile=status.json\nRealTime=no\n");
    run.playlist("#Mode=basic\na.nsv\nb.nsv\n");
    run.start();
    ASSERT_TRUE(run.wait_for_log(kNotice, seconds(10))) << run.log();
    EXPECT_NE(run.log().find("Playlist Pos Changed to: 1\n"
                             "Unable to open a.nsv\n"
                             "Playlist Pos Changed to: 2\n"
                             "Unable to open b.nsv\n"
                             "Nothing in the playlist could be played; Tarnel tries again every "
                             "second, and logs only what changes until something plays\n"),
              std::string::npos)
        << run.log();
    ASSERT_TRUE(wait_until([&] { return status_of(run).value("state", "") == "idle"; }, 5000));
    EXPECT_FALSE(status_of(run)["connected_since"].is_null());

    // Passes go on about once a second (the status file is rewritten by each), in silence.
    const std::string updated = status_of(run).value("updated", "");
    ASSERT_TRUE(wait_until([&] { return status_of(run).value("updated", "") > updated; }, 5000));
    std::this_thread::sleep_for(seconds(2));
    const std::string quiet_log = run.log();
    EXPECT_EQ(count_of(quiet_log, "Unable to open a.nsv"), 1u) << quiet_log;
    EXPECT_EQ(count_of(quiet_log, "Playlist Pos Changed to: 1"), 1u) << quiet_log;

    // The reason changes for b.nsv (it opens, but holds no frame): that entry is logged once,
    // with the notice again; a.nsv stays quiet.
    NsvWriter empty;
    empty.file_header("TITLE='Empty'");
    put_in_place(run, empty, "b.nsv");
    ASSERT_TRUE(run.wait_for_log("Opened b.nsv successfully!", seconds(5))) << run.log();
    ASSERT_TRUE(run.wait_for_log(kNotice, seconds(5), 2)) << run.log();
    std::this_thread::sleep_for(seconds(2));
    EXPECT_EQ(count_of(run.log(), "Opened b.nsv successfully!"), 1u) << run.log();
    EXPECT_EQ(count_of(run.log(), kNotice), 2u) << run.log();
    EXPECT_EQ(count_of(run.log(), "Unable to open a.nsv"), 1u) << run.log();

    // a.nsv becomes playable: it streams at once, logged as usual, and whole.
    NsvWriter clip;
    clip.file_header("TITLE='Back'").frames(60, 0x1E, 300, 40, 30);
    put_in_place(run, clip, "a.nsv");
    ASSERT_TRUE(run.wait_for_log("Title Updated (Back)", seconds(5))) << run.log();
    const std::string log = run.log();
    const size_t back = log.rfind("Playlist Pos Changed to: 1\n");
    ASSERT_NE(back, std::string::npos) << log;
    EXPECT_EQ(log.find("Playlist Pos Changed to: 1\n"
                       "Opened a.nsv successfully!\n"
                       "file has headers, they were skipped\n"
                       "Title Updated (Back)\n",
                       back),
              back)
        << log;
    NsvProcessState state;
    const std::string wire = expected_stream(clip.bytes(), {}, state).wire();
    ASSERT_TRUE(server.wait_for_bytes(
        0, server.bytes(0).size() - server.stream_bytes(0).size() + wire.size(),
        std::chrono::milliseconds(10000)));
    EXPECT_EQ(server.stream_bytes(0).substr(0, wire.size()), wire);
    ASSERT_TRUE(wait_until([&] { return status_of(run).value("state", "") == "streaming"; }, 5000));
}

// Nothing is sent while nothing can be played, so a server that drops the silent source (Icecast
// does after its source timeout) is only noticed by looking: the run then goes on as after any
// failed connection (here, without reconnection, it ends with the failure status).
TEST(IdleEndToEndTest, AServerThatDropsTheIdleConnectionIsNoticed) {
    LoopbackServer server;
    TarnelRun run(server);
    run.configure("StatusFile=status.json\nRealTime=no\nScreenLog=no\n");
    run.playlist("#Mode=basic\nmissing.nsv\n");
    run.start();
    ASSERT_TRUE(run.wait_for_log(kNotice, seconds(10))) << run.log();
    ASSERT_TRUE(wait_until([&] { return status_of(run).value("state", "") == "idle"; }, 5000));
    server.drop_connections();
    EXPECT_EQ(run.process().wait(10000), 1) << run.log();
    const std::string log = run.log();
    const std::string last = "Error: Could not write to socket.\n";
    ASSERT_GE(log.size(), last.size()) << log;
    EXPECT_EQ(log.substr(log.size() - last.size()), last) << log;
    const json status = status_of(run);
    EXPECT_EQ(status["state"], "stopped");
    EXPECT_TRUE(status["connected_since"].is_null());
    EXPECT_EQ(status["last_error"], "Could not write to socket.");
}

}  // namespace
}  // namespace tarnel::test
