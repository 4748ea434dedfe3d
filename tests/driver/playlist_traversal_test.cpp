#include "driver/playlist_traversal.h"

#include <gtest/gtest.h>

#include "config/playlist.h"
#include "config/settings.h"
#include "support/console_capture.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

using Items = std::vector<std::string>;

TEST(ShuffleObjectTest, WorkedExampleRestoresNameAndMarker) {
    Rand48 random;
    Items v{"name", "X", "Y", "Z", "#shuffle"};
    shuffle_object(v, 4, 1, random);
    EXPECT_EQ(v, (Items{"name", "Y", "X", "Z", "#shuffle"}));
}

TEST(ShuffleObjectTest, RestorePassWithReloadCanMoveTheMarker) {
    // Whatever the shuffle did, the name returns to 0 and "#reload" to its own index.
    for (int repetitions = 1; repetitions <= 10; ++repetitions) {
        Rand48 random;
        Items v{"name", "#shuffle 60", "X", "#reload", "Y", "Z"};
        shuffle_object(v, 1, repetitions, random);
        EXPECT_EQ(v[0], "name");
        EXPECT_EQ(v[3], "#reload");
        Items sorted = v;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(sorted, (Items{"#reload", "#shuffle 60", "X", "Y", "Z", "name"}));
    }
    Rand48 random;
    Items single{"only"};
    shuffle_object(single, 0, 3, random);
    EXPECT_EQ(single, (Items{"only"}));
}

class TraversalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_settings();
        reset_playlist();
        screenlog = false;
        logfile = dir_.file("tarnel.log");
        playlist = dir_.file("list.plo");
        shuffle_random.reset();
    }
    void TearDown() override {
        reset_settings();
        reset_playlist();
    }

    void load(const std::string& text) {
        dir_.write("list.plo", text);
        ASSERT_TRUE(load_playlist());
        dir_.write("tarnel.log", "");
    }
    std::string log() const { return without_stamps(read_file(logfile)); }

    // Plays n selections the way the driver does: every played file is advanced past as if
    // streamed, markers are followed by a new selection. Returns the played entries.
    Items play(int n) {
        Items played;
        for (int guard = 0; static_cast<int>(played.size()) < n && guard < 100; ++guard) {
            const Selection selection = select_entry(state_);
            if (selection == Selection::kPlay) {
                played.push_back(state_.current_entry);
                advance_after_file(state_);
            }
        }
        return played;
    }

    TempDir dir_;
    DriverState state_;
};

TEST_F(TraversalTest, BasicModeWrapsAndNumbersFromOne) {
    load("#Mode=basic\na\nb\n#reload\n");
    EXPECT_EQ(play(5), (Items{"a", "b", "#reload", "a", "b"}));
    EXPECT_EQ(log(),
              "Playlist Pos Changed to: 1\nPlaylist Pos Changed to: 2\nPlaylist Pos Changed to: 3\n"
              "Playlist Pos Changed to: 1\nPlaylist Pos Changed to: 2\n");
    EXPECT_EQ(state_.line_buffer, "Playlist Pos Changed to: 2");

    load("#Mode=basic\nonly\n");
    EXPECT_EQ(play(3), (Items{"only", "only", "only"}));
}

TEST_F(TraversalTest, BasicReloadWhilePlayingRestartsAtTheFirstEntry) {
    load("#Mode=basic\na\nb\nc\n");
    play(2);  // now at c
    dir_.write("list.plo", "#Mode=basic\nx\ny\n");
    ASSERT_TRUE(load_playlist());
    EXPECT_EQ(playlist_pos, -1);
    EXPECT_EQ(play(2), (Items{"x", "y"}));  // -1 selects the first entry, not outside the list
}

TEST_F(TraversalTest, ObjectModeFollowsTheClockWithPerObjectPositions) {
    load(
        "#Mode=object\n#define rock\n#define jazz\n"
        "#list rock\nr1\nr2\nr3\n#\n#list jazz\nj1\nj2\n#\n"
        "#clock:\nrock\nrock\njazz\n#\n");
    EXPECT_EQ(play(7), (Items{"r1", "r2", "j1", "r3", "r1", "j2", "r2"}));
    EXPECT_EQ(log().rfind("Playlist Pos Changed to: 1, clock list pos 1 (rock)\n"
                          "Playlist Pos Changed to: 2, clock list pos 2 (rock)\n"
                          "Playlist Pos Changed to: 1, clock list pos 3 (jazz)\n",
                          0),
              0u);
}

TEST_F(TraversalTest, FailedOpenKeepsTheClockPlace) {
    load(
        "#Mode=object\n#define a\n#define b\n#list a\na1\na2\n#\n#list "
        "b\nb1\n#\n#clock:\na\nb\n#\n");
    ASSERT_EQ(select_entry(state_), Selection::kPlay);
    EXPECT_EQ(state_.current_entry, "a1");
    advance_after_failed_open(state_);
    ASSERT_EQ(select_entry(state_), Selection::kPlay);
    EXPECT_EQ(state_.current_entry, "a2");
    advance_after_file(state_);
    ASSERT_EQ(select_entry(state_), Selection::kPlay);
    EXPECT_EQ(state_.current_entry, "b1");
}

TEST_F(TraversalTest, ShuffleMarkerWithAndWithoutInterval) {
    load("#Mode=object\n#define o\n#list o\nX\nY\nZ\n#shuffle\n#\n#clock:\no\n#\n");
    EXPECT_EQ(play(3), (Items{"X", "Y", "Z"}));
    ASSERT_EQ(select_entry(state_), Selection::kMarker);
    EXPECT_NE(log().find("Playlist Pos Changed to: 4, clock list pos 1 (o)\no has been shuffled\n"),
              std::string::npos);
    EXPECT_EQ(object_list[0][0], "o");
    EXPECT_EQ(object_list[0][4], "#shuffle");
    EXPECT_EQ(playlist_list_pos[0], 1);
    EXPECT_NE(last_shuffle[0], 0);

    load("#Mode=object\n#define o\n#list o\nX\n#shuffle 3600\n#\n#clock:\no\n#\n");
    play(1);
    ASSERT_EQ(select_entry(state_), Selection::kMarker);  // first after a load: shuffles
    play(1);
    ASSERT_EQ(select_entry(state_), Selection::kMarker);  // within the hour: passed over
    const std::string text = log();
    EXPECT_NE(text.find("o has been shuffled\n"), std::string::npos);
    EXPECT_TRUE(
        text.find("Shuffle Found, however we have to wait 3600 secs\n") != std::string::npos ||
        text.find("Shuffle Found, however we have to wait 3599 secs\n") != std::string::npos)
        << text;
}

TEST_F(TraversalTest, ReloadMarkerReloadsAndMovesPastItself) {
    load("#Mode=object\n#define o\n#list o\nA\n#reload\nB\n#\n#clock:\no\n#\n");
    EXPECT_EQ(play(1), (Items{"A"}));
    dir_.write("list.plo", "#Mode=object\n#define o\n#list o\nA\n#reload\nC\n#\n#clock:\no\n#\n");
    EXPECT_EQ(select_entry(state_), Selection::kMarker);
    EXPECT_EQ(play(2), (Items{"C", "A"}));

    std::remove(playlist.c_str());  // the next selection is the marker again
    EXPECT_EQ(select_entry(state_), Selection::kReloadFailed);
    EXPECT_NE(log().find("FATAL ERROR: Playlist (" + playlist +
                         ") could not be loaded!!; exiting\nPlaylist " + playlist +
                         ": No such file or directory\n"),
              std::string::npos)
        << log();
}

TEST_F(TraversalTest, PositionsBeyondShortenedListsRestartAtTheFirst) {
    load("#Mode=object\n#define o\n#list o\nA\nB\nC\n#\n#clock:\no\no\no\n#\n");
    playlist_list_pos[0] = 3;
    clock_pos = 2;
    load("#Mode=object\n#define o\n#list o\nA\n#\n#clock:\no\n#\n");
    ASSERT_EQ(select_entry(state_), Selection::kPlay);
    EXPECT_EQ(state_.current_entry, "A");
    EXPECT_EQ(clock_pos, 0);
}

TEST_F(TraversalTest, NothingToPlay) {
    load("#Mode=basic\n");
    EXPECT_EQ(select_entry(state_), Selection::kNothing);
    load("#Mode=object\n#define empty\n#define full\n#list full\nF\n#\n#clock:\nempty\nfull\n#\n");
    EXPECT_EQ(select_entry(state_), Selection::kNothing);
    EXPECT_EQ(select_entry(state_), Selection::kPlay);
    EXPECT_EQ(state_.current_entry, "F");
    EXPECT_EQ(playlist_pass_length(), 1u);
}

}  // namespace
}  // namespace tarnel::test

namespace tarnel::test {
namespace {

// What upcoming_playlist_entry says, at every step of a play, against what is then played: while
// a file from the playlist plays, the one after it; between files, the next one; while a queued
// file plays, the next one too (the playlist stands still).
class UpcomingEntryTest : public TraversalTest {
  protected:
    void expect_each_prediction_comes_true(int files) {
        for (int played = 0, guard = 0; played < files && guard < 100; ++guard) {
            state_.in_file = false;
            const std::optional<std::string> before = upcoming_playlist_entry(state_);
            state_.in_file = true;
            state_.file_queued = true;
            EXPECT_EQ(upcoming_playlist_entry(state_), before) << "during a queued file";
            const Selection selection = select_entry(state_);
            if (selection != Selection::kPlay) {
                continue;  // a marker: the prediction already passed over it
            }
            EXPECT_EQ(before, state_.current_entry) << "selection " << guard;
            state_.file_queued = false;
            const std::optional<std::string> during = upcoming_playlist_entry(state_);
            advance_after_file(state_);
            state_.in_file = false;
            EXPECT_EQ(during, upcoming_playlist_entry(state_)) << "selection " << guard;
            ++played;
        }
    }
};

TEST_F(UpcomingEntryTest, BasicModeIncludingTheWrapAndAReload) {
    load("#Mode=basic\na\nb\nc\n");
    expect_each_prediction_comes_true(7);
    play(1);  // now at b
    dir_.write("list.plo", "#Mode=basic\nx\ny\n");
    ASSERT_TRUE(load_playlist());
    state_.in_file = true;
    state_.file_queued = false;
    EXPECT_EQ(upcoming_playlist_entry(state_), "x");  // -1 after a reload
    state_.in_file = false;
    EXPECT_EQ(upcoming_playlist_entry(state_), "x");
}

TEST_F(UpcomingEntryTest, ObjectModeFollowsTheClockPastEmptyObjectsAndMarkers) {
    load(
        "#Mode=object\n#define rock\n#define jazz\n#define none\n"
        "#list rock\nr1\nr2\nr3\n#reload\n#\n#list jazz\nj1\nj2\n#\n"
        "#clock:\nrock\nnone\nrock\njazz\n#\n");
    expect_each_prediction_comes_true(12);
}

TEST_F(UpcomingEntryTest, NothingWhenNothingCanBeSelected) {
    EXPECT_EQ(upcoming_playlist_entry(state_), std::nullopt);  // no playlist loaded
    load("#Mode=basic\n");
    EXPECT_EQ(upcoming_playlist_entry(state_), std::nullopt);
    load("#Mode=object\n#define empty\n#clock:\nempty\n#\n");
    EXPECT_EQ(upcoming_playlist_entry(state_), std::nullopt);
}

}  // namespace
}  // namespace tarnel::test
