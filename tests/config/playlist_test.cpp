#include "config/playlist.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "config/settings.h"
#include "support/console_capture.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

using Items = std::vector<std::string>;

class PlaylistTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_settings();
        reset_playlist();
        screenlog = false;
        logfile = dir_.file("tarnel.log");
        playlist = dir_.file("list.plo");
    }
    void TearDown() override {
        reset_settings();
        reset_playlist();
    }

    // Loads text as the playlist; returns the log lines it wrote, without time stamps.
    std::string load(const std::string& text, bool expected = true) {
        dir_.write("list.plo", text);
        dir_.write("tarnel.log", "");
        EXPECT_EQ(load_playlist(), expected);
        return without_stamps(read_file(logfile));
    }

    std::string loading() const { return "Loading Playlist " + playlist + "\n"; }

    TempDir dir_;
};

TEST_F(PlaylistTest, BasicModeAfterCommentsKeepsEntriesAsWritten) {
    const std::string out = load(
        "; my station\n"
        "\n"
        "#Mode=BASIC\r\n"
        "a.nsv\r\n"
        "  skipped.nsv\n"
        "\tskipped.nsv\n"
        "dir/b c.nsv  \n"
        "#reload\n"
        "last.nsv");
    EXPECT_EQ(out, loading() + "Playlist is in basic mode\nLoaded 4 Items\n");
    EXPECT_EQ(playlist_mode, kPlaylistBasic);
    EXPECT_EQ(playlist_list, (Items{"a.nsv", "dir/b c.nsv  ", "#reload", "last.nsv"}));
}

TEST_F(PlaylistTest, ModeLineRules) {
    EXPECT_EQ(
        load("#MODE=basic\na.nsv\n", false),
        loading() + "Error: Mode designator must be first line of playlist, discontinuing load\n");
    EXPECT_TRUE(playlist_list.empty());

    EXPECT_EQ(
        load("#Mode=fancy\na.nsv\n"),
        loading() + "Warning: Mode designator invalid, asumming basic mode.\nLoaded 1 Items\n");
    EXPECT_EQ(playlist_mode, kPlaylistBasic);

    EXPECT_EQ(load("#Mode=basic\na\nb\n#Mode=object\nc\n"),
              loading() +
                  "Playlist is in basic mode\n"
                  "Warning: Mode designator found on line 4, ignoring line.\n"
                  "Loaded 3 Items\n");
    EXPECT_EQ(playlist_list, (Items{"a", "b", "c"}));
}

TEST_F(PlaylistTest, MissingFileFailsSilentlyWithListsEmptied) {
    load("#Mode=basic\na\n");
    playlist = dir_.file("absent.plo");
    dir_.write("tarnel.log", "");
    EXPECT_FALSE(load_playlist());
    EXPECT_EQ(without_stamps(read_file(logfile)), "Loading Playlist " + playlist + "\n");
    EXPECT_TRUE(playlist_list.empty());
}

TEST_F(PlaylistTest, FilesThatNeverEndAreNotRead) {
    playlist = "/dev/zero";
    EXPECT_FALSE(load_playlist());
    playlist = dir_.file("list.plo");
    const std::string out =
        load("#Mode=object\n#define o\n#list o\n#include /dev/zero\na\n#\n#clock:\no\n");
    EXPECT_NE(out.find("Warning: Failure Including /dev/zero for object o\n"), std::string::npos);
    EXPECT_EQ(object_list, (std::vector<Items>{{"o", "a"}}));
}

TEST_F(PlaylistTest, LongLinesAreReadIn511CharacterPieces) {
    const std::string first(511, 'x');
    load("#Mode=basic\n" + first + "tail.nsv\n");
    EXPECT_EQ(playlist_list, (Items{first, "tail.nsv"}));
}

TEST_F(PlaylistTest, ObjectModeCountsAndClock) {
    const std::string out = load(
        "#Mode=object\n"
        "#define rock\n"
        "ignored outside a section\n"
        "#list rock\n"
        "r1.nsv\n"
        "r2.nsv\n"
        "r3.nsv\n"
        "#\n"
        "#clock:\n"
        "rock\n"
        "jazz\n"
        "rock\n"
        "#\n");
    EXPECT_EQ(out, loading() +
                       "Playlist is in object mode\n"
                       "Warning: 'jazz' in clock not defined, ignoring.\n"
                       "Loaded 1 Objects\n"
                       "rock: 3 items\n"
                       "clock: 2 items\n");
    EXPECT_EQ(object_list, (std::vector<Items>{{"rock", "r1.nsv", "r2.nsv", "r3.nsv"}}));
    EXPECT_EQ(clock_list, (Items{"rock", "rock"}));
    EXPECT_EQ(playlist_list_pos, (std::vector<int>{1}));
    EXPECT_EQ(last_shuffle, (std::vector<long>{0}));
}

TEST_F(PlaylistTest, ListSelectsTheLatestObjectWhoseNameOccursInTheLine) {
    load("#Mode=object\n#define rock2\n#define rock\n#list rock2\na\n#\n#clock:\nrock\n");
    EXPECT_EQ(object_list, (std::vector<Items>{{"rock2"}, {"rock", "a"}}));

    reset_playlist();
    load("#Mode=object\n#define rock\n#define rock2\n#list rock2\na\n#\n#clock:\nrock\n");
    EXPECT_EQ(object_list, (std::vector<Items>{{"rock"}, {"rock2", "a"}}));

    reset_playlist();
    load(
        "#Mode=object\n#define pop\n#define pop\n#list pop\na\n#\n"
        "#list nothing\nlost\n#\n#list pop\nb\n#define x\n#\n#clock:\npop\n");
    EXPECT_EQ(object_list, (std::vector<Items>{{"pop"}, {"pop", "a", "b", "#define x"}}));
}

TEST_F(PlaylistTest, ClockErrorsAndReplacement) {
    EXPECT_EQ(load("#Mode=object\n#clock:\nrock\n#\n#define rock\n", false),
              loading() +
                  "Playlist is in object mode\n"
                  "Warning: 'rock' in clock not defined, ignoring.\n"
                  "Error: Clock must have at least 1 object for object style playlist mode.\n");

    load("#Mode=object\n#define a\n#define b\n#clock:\na\n#\n#clock:\nb\nb\n#\n");
    EXPECT_EQ(clock_list, (Items{"b", "b"}));
}

TEST_F(PlaylistTest, IncludeAddsKeptLinesAsItems) {
    dir_.write("more.txt", "; comment\nx.nsv\n#\n#include y\n  indented\ny.nsv\r\n");
    const std::string included = dir_.file("more.txt");
    const std::string out =
        load("#Mode=object\n#define o\n#list o\nfirst.nsv\n#include " + included + "\n#include " +
             dir_.file("nope.txt") + "\nlast.nsv\n#\n#clock:\no\n");
    EXPECT_EQ(
        object_list,
        (std::vector<Items>{{"o", "first.nsv", "x.nsv", "#", "#include y", "y.nsv", "last.nsv"}}));
    EXPECT_NE(out.find("Including " + included + " for object o\n"), std::string::npos);
    EXPECT_NE(out.find("Warning: Failure Including " + dir_.file("nope.txt") + " for object o\n"),
              std::string::npos);
}

TEST_F(PlaylistTest, DirectoryChangeIsConsumedAndBareCdChangesNothing) {
    const auto before = std::filesystem::current_path();
    const std::string sub = dir_.path() + "/media";
    std::filesystem::create_directory(sub);
    const std::string out = load("#Mode=basic\n#cd " + sub + "\na.nsv\n#cd\n");
    const auto after = std::filesystem::current_path();
    std::filesystem::current_path(before);
    EXPECT_EQ(after, std::filesystem::path(sub));
    EXPECT_EQ(playlist_list, (Items{"a.nsv"}));
    EXPECT_NE(out.find("Warning: Current Working Directory Changed, all reletive paths will start "
                       "from " +
                       sub + ", including log and configuration files!\n"),
              std::string::npos);
    EXPECT_NE(out.find("start from , including"), std::string::npos);
}

// What the loader passes over in silence is noted for tools, without a log line of its own.
TEST_F(PlaylistTest, NotesWhatIsPassedOverInSilence) {
    const auto before = std::filesystem::current_path();
    std::vector<PlaylistNote> notes;
    dir_.write("list.plo",
               "#Mode=object\n"
               "#cd " +
                   dir_.file("absent") +
                   "\n"
                   "#cd\n"
                   "#define music\n"
                   "stray\n"
                   "#list musik\n"
                   "lost.nsv\n"
                   "#\n"
                   "#list music\n"
                   "kept.nsv\n"
                   "#\n"
                   "#clock:\n"
                   "music\n"
                   "#\n");
    dir_.write("tarnel.log", "");
    EXPECT_TRUE(load_playlist(&notes));
    EXPECT_EQ(std::filesystem::current_path(), before);
    const std::string log = without_stamps(read_file(logfile));
    const auto kind = [](PlaylistNoteKind k) {
        return k == PlaylistNoteKind::kIgnoredLine         ? "ignored"
               : k == PlaylistNoteKind::kListNamesNoObject ? "no object"
                                                           : "cd failed";
    };
    std::vector<std::string> seen;
    for (const PlaylistNote& note : notes) {
        seen.push_back(std::string(kind(note.kind)) + ": " + note.line + " (" + note.reason + ")");
    }
    EXPECT_EQ(seen, (Items{"cd failed: #cd " + dir_.file("absent") + " (No such file or directory)",
                           "cd failed: #cd (no directory named)", "ignored: stray ()",
                           "no object: #list musik ()", "ignored: lost.nsv ()", "ignored: # ()"}));
    EXPECT_EQ(object_list, (std::vector<Items>{{"music", "kept.nsv"}}));

    // The same load without notes logs exactly the same lines.
    reset_playlist();
    dir_.write("tarnel.log", "");
    EXPECT_TRUE(load_playlist());
    EXPECT_EQ(without_stamps(read_file(logfile)), log);
}

TEST_F(PlaylistTest, ReloadKeepsPositions) {
    load("#Mode=basic\na\nb\nc\n");
    playlist_pos = 0;
    load("#Mode=basic\na\nb\nc\n");
    EXPECT_EQ(playlist_pos, 0);
    playlist_pos = 2;
    load("#Mode=basic\na\nb\n");
    EXPECT_EQ(playlist_pos, -1);

    reset_playlist();
    const std::string objects =
        "#Mode=object\n#define a\n#list a\n1\n2\n3\n#\n#define b\n#clock:\na\nb\n#\n";
    load(objects);
    playlist_list_pos = {3, 1};
    clock_pos = 1;
    load(objects + "#define c\n");
    EXPECT_EQ(playlist_list_pos, (std::vector<int>{3, 1, 1, 1, 1}));
    EXPECT_EQ(clock_pos, 1);
    EXPECT_EQ(last_shuffle, (std::vector<long>{0, 0, 0}));
}

TEST_F(PlaylistTest, FileWithoutKeptLinesKeepsTheEarlierMode) {
    EXPECT_EQ(load("; nothing\n\n"), loading());
    EXPECT_EQ(playlist_mode, kPlaylistUnset);
    load("#Mode=basic\na\n");
    EXPECT_EQ(load("; nothing\n"), loading() + "Loaded 0 Items\n");
    EXPECT_EQ(playlist_mode, kPlaylistBasic);
}

}  // namespace
}  // namespace tarnel::test
