#include "driver/station_controller.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "config/playlist.h"
#include "config/settings.h"
#include "driver/as_run_log.h"
#include "driver/file_streamer.h"
#include "driver/status_file.h"
#include "support/console_capture.h"
#include "support/nsv_writer.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

using Json = nlohmann::ordered_json;

class StationControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_settings();
        reset_playlist();
        reset_as_run_log();
        screenlog = false;
        logfile = dir_.file("tarnel.log");
        playlist = "list.plo";
        config_file = "tarnel.conf";
        NsvWriter clip;
        clip.frames(3, 0x1E, 10, 2);
        clip.write(dir_.file("a.nsv"));
        clip.write(dir_.file("b.nsv"));
    }
    void TearDown() override {
        reset_settings();
        reset_playlist();
        reset_as_run_log();
    }

    void load(const std::string& text) {
        dir_.write("list.plo", text);
        ASSERT_TRUE(load_playlist());
        dir_.write("tarnel.log", "");
    }
    std::string log() const { return without_stamps(read_file(logfile)); }

    TempDir dir_;
    ScopedChdir inside_{dir_.path()};
    DriverState state_;
    StationController station_{state_};
};

TEST_F(StationControllerTest, StatusIsTheStatusFileObjectWithNextQueueAndPosition) {
    load("#Mode=basic\na.nsv\nb.nsv\n");
    state_.status.state = RunState::kStreaming;
    Json status = station_.status();
    EXPECT_EQ(status["next"], Json::parse(R"({"entry":"a.nsv","queued":false})"));
    EXPECT_EQ(status["queue"], Json::array());
    EXPECT_EQ(status["position"], Json::parse(R"({"mode":"basic","entry":1,"entries":2})"));
    // The status file's keys first, in its order, and its values.
    Json file = status_object(state_.status, 0);
    for (const char* added : {"next", "queue", "position"}) {
        status.erase(added);
    }
    status.erase("updated");
    file.erase("updated");
    EXPECT_EQ(status, file);

    ASSERT_EQ(station_.enqueue("b.nsv").refusal, Refusal::kNone);
    status = station_.status();
    EXPECT_EQ(status["next"], Json::parse(R"({"entry":"b.nsv","queued":true})"));
    EXPECT_EQ(status["queue"], Json::parse(R"([{"entry":"b.nsv"}])"));
}

TEST_F(StationControllerTest, PositionInObjectMode) {
    load(
        "#Mode=object\n#define rock\n#define jazz\n#list rock\nr1\nr2\nr3\n#\n#list jazz\nj1\n#\n"
        "#clock:\nrock\njazz\n#\n");
    playlist_list_pos[0] = 3;
    EXPECT_EQ(playlist_position(), Json::parse(R"({"mode":"object","clock_step":1,"clock_steps":2,
                                                   "object":"rock","item":3,"items":3})"));
    clock_pos = 1;
    EXPECT_EQ(playlist_position()["object"], "jazz");
    clock_pos = 7;  // outside the clock after a reload: the selection starts again at its first
    EXPECT_EQ(playlist_position()["clock_step"], 1);
    reset_playlist();
    EXPECT_EQ(playlist_position(), nullptr);
}

TEST_F(StationControllerTest, TheQueueTakesOnlyNsvFilesAndAHundredOfThem) {
    const ControlOutcome missing = station_.enqueue("missing.nsv");
    EXPECT_EQ(missing.refusal, Refusal::kBadEntry);
    EXPECT_EQ(missing.message, "missing.nsv cannot be opened: No such file or directory");
    dir_.write("notes.txt", "text");
    EXPECT_EQ(station_.enqueue("notes.txt").refusal, Refusal::kBadEntry);
    EXPECT_TRUE(state_.queue.empty());
    EXPECT_EQ(log(), "");

    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(station_.enqueue(i % 2 == 0 ? "a.nsv" : dir_.file("b.nsv")).refusal,
                  Refusal::kNone);
    }
    const ControlOutcome full = station_.enqueue("a.nsv");
    EXPECT_EQ(full.refusal, Refusal::kQueueFull);
    EXPECT_EQ(full.message, "the queue is full: it holds 100 entries");
    EXPECT_EQ(station_.queue().size(), 100u);
    EXPECT_EQ(log().rfind("Control request: queued a.nsv (1 in the queue)\n", 0), 0u);

    EXPECT_EQ(station_.unqueue(101).refusal, Refusal::kNoSuchItem);
    EXPECT_EQ(station_.unqueue(2).refusal, Refusal::kNone);
    EXPECT_EQ(station_.queue().size(), 99u);
    EXPECT_NE(
        log().find("Control request: removed item 2 (" + dir_.file("b.nsv") + ") from the queue\n"),
        std::string::npos);
}

TEST_F(StationControllerTest, PlayCutsAFileThatPlaysAndOtherwiseWaitsItsTurn) {
    ASSERT_EQ(station_.play("a.nsv").refusal, Refusal::kNone);
    EXPECT_FALSE(state_.skip_requested);  // nothing plays: a skip would end the played file
    EXPECT_EQ(state_.queue.pending_play(), "a.nsv");
    state_.in_file = true;
    ASSERT_EQ(station_.play("b.nsv").refusal, Refusal::kNone);
    EXPECT_TRUE(state_.skip_requested);
    EXPECT_EQ(state_.queue.pending_play(), "b.nsv");
    EXPECT_EQ(station_.play("missing.nsv").refusal, Refusal::kBadEntry);
    EXPECT_EQ(state_.queue.pending_play(), "b.nsv");
    EXPECT_EQ(log(), "Control request: play a.nsv now\nControl request: play b.nsv now\n");
}

TEST_F(StationControllerTest, SkipAndTitleAreLeftForTheStreamingLoop) {
    const ControlOutcome nothing = station_.set_title("News");
    EXPECT_EQ(nothing.refusal, Refusal::kNothingPlays);
    EXPECT_EQ(nothing.message, "no file is playing");
    EXPECT_FALSE(state_.requested_title);
    state_.in_file = true;
    EXPECT_EQ(station_.set_title("Breaking news").refusal, Refusal::kNone);
    EXPECT_EQ(state_.requested_title, "Breaking news");
    station_.skip();
    EXPECT_TRUE(state_.skip_requested);
    EXPECT_EQ(log(),
              "Control request: title Breaking news\nControl request: skip to the next track\n");

    // A title longer than a file's header may give is cut the same way, at a character boundary.
    const std::string long_title = "\xC3\xA9" + std::string(2000, 'x');
    EXPECT_EQ(station_.set_title(long_title).refusal, Refusal::kNone);
    EXPECT_EQ(state_.requested_title, long_title.substr(0, kMaxTitleBytes));
    EXPECT_EQ(station_.set_title(std::string(kMaxTitleBytes - 1, 'y') + "\xC3\xA9").refusal,
              Refusal::kNone);
    EXPECT_EQ(state_.requested_title, std::string(kMaxTitleBytes - 1, 'y'));
}

TEST_F(StationControllerTest, APlaylistThatCannotBeLoadedLeavesTheOldOneInForce) {
    ASSERT_EQ(mkdir("media", 0755), 0);
    load("#Mode=basic\n#cd media\na.nsv\nb.nsv\n");
    playlist = dir_.file("list.plo");
    char before[4096];
    ASSERT_NE(getcwd(before, sizeof before), nullptr);
    playlist_pos = 1;

    dir_.write("list.plo", "#Mode=object\n#cd ..\n");  // no clock, after a #cd
    const ControlOutcome failed = station_.reload(ReloadTarget::kPlaylist);
    EXPECT_EQ(failed.refusal, Refusal::kFailed);
    EXPECT_EQ(failed.message, "the playlist (" + playlist +
                                  ") could not be loaded; the one loaded before stays in force");
    EXPECT_EQ(playlist_mode, kPlaylistBasic);
    EXPECT_EQ(playlist_list, (std::vector<std::string>{"a.nsv", "b.nsv"}));
    EXPECT_EQ(playlist_pos, 1);
    char after[4096];
    ASSERT_NE(getcwd(after, sizeof after), nullptr);
    EXPECT_STREQ(after, before);
    EXPECT_NE(log().find("Control request: playlist reloading\nLoading Playlist " + playlist),
              std::string::npos);

    dir_.write("list.plo", "#Mode=basic\nx.nsv\n");
    const ControlOutcome loaded = station_.reload(ReloadTarget::kPlaylist);
    EXPECT_EQ(loaded.refusal, Refusal::kNone);
    EXPECT_EQ(loaded.message, "Playlist " + playlist + " loaded: 1 entries");
    EXPECT_EQ(playlist_list, (std::vector<std::string>{"x.nsv"}));
}

TEST_F(StationControllerTest, AConfigurationReloadSaysHowItWent) {
    const ControlOutcome missing = station_.reload(ReloadTarget::kConfig);
    EXPECT_EQ(missing.refusal, Refusal::kFailed);
    EXPECT_EQ(missing.message,
              "the configuration file 'tarnel.conf' could not be loaded; the settings stay as "
              "they were");
    dir_.write("tarnel.conf", "Genre=Reloaded\n");
    const ControlOutcome loaded = station_.reload(ReloadTarget::kConfig);
    EXPECT_EQ(loaded.refusal, Refusal::kNone);
    EXPECT_EQ(loaded.message, "Configuration file loaded from 'tarnel.conf'");
    EXPECT_EQ(genre, "Reloaded");
}

}  // namespace
}  // namespace tarnel::test
