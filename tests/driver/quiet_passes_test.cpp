#include "driver/quiet_passes.h"

#include <gtest/gtest.h>

namespace tarnel::test {
namespace {

using Lines = std::vector<std::string>;

Lines missing(int position, const std::string& entry) {
    return {"Playlist Pos Changed to: " + std::to_string(position), "Unable to open " + entry};
}

// One pass over two missing entries; returns what was to be written.
Lines pass_over_missing(QuietPasses& passes) {
    Lines written;
    for (const Lines& entry : {missing(1, "a.nsv"), missing(2, "b.nsv")}) {
        const Lines now = passes.fruitless_entry(entry);
        written.insert(written.end(), now.begin(), now.end());
    }
    return written;
}

TEST(QuietPassesTest, AfterTheFirstFruitlessPassTheSamePassIsNotWrittenAgain) {
    QuietPasses passes;
    EXPECT_FALSE(passes.quiet());
    EXPECT_EQ(pass_over_missing(passes), Lines{});  // written as the lines came
    EXPECT_TRUE(passes.pass_fruitless());           // say it once
    EXPECT_TRUE(passes.quiet());
    for (int pass = 0; pass < 3; ++pass) {
        EXPECT_EQ(pass_over_missing(passes), Lines{});
        EXPECT_FALSE(passes.pass_fruitless());
    }
}

TEST(QuietPassesTest, AnEntryWithANewLineIsWrittenWholeAndTheNoticeRepeated) {
    QuietPasses passes;
    pass_over_missing(passes);
    passes.pass_fruitless();
    // b.nsv now opens but holds nothing: its lines are new, and are written with its position.
    EXPECT_EQ(passes.fruitless_entry(missing(1, "a.nsv")), Lines{});
    const Lines empty_file = {"Playlist Pos Changed to: 2", "Opened b.nsv successfully!",
                              "file has no headers", "Title Updated (b.nsv)"};
    EXPECT_EQ(passes.fruitless_entry(empty_file), empty_file);
    EXPECT_TRUE(passes.pass_fruitless());
    // The next pass is the same again: quiet.
    EXPECT_EQ(passes.fruitless_entry(missing(1, "a.nsv")), Lines{});
    EXPECT_EQ(passes.fruitless_entry(empty_file), Lines{});
    EXPECT_FALSE(passes.pass_fruitless());
}

TEST(QuietPassesTest, ProgressLinesAreNeverNewsAndSignalLinesAlwaysAre) {
    QuietPasses passes;
    pass_over_missing(passes);
    passes.pass_fruitless();
    const Lines waiting = {"Playlist Pos Changed to: 9, clock list pos 1 (music)",
                           "Shuffle Found, however we have to wait 3581 secs"};
    EXPECT_EQ(passes.fruitless_entry(waiting), Lines{});
    const Lines reload = {"Playlist Pos Changed to: 1",
                          "Opened a.nsv successfully!",
                          "SIGUSR1 recieved; playlist reloading!",
                          "Loading Playlist list.plo",
                          "Playlist is in basic mode",
                          "Loaded 2 Items"};
    EXPECT_EQ(passes.fruitless_entry(reload), reload);
    EXPECT_EQ(passes.fruitless_entry(reload), reload);  // a second reload shows too
}

TEST(QuietPassesTest, AnEntryThatPlaysEndsTheQuietAndGetsItsHeldLines) {
    QuietPasses passes;
    pass_over_missing(passes);
    passes.pass_fruitless();
    const Lines opened = {"Playlist Pos Changed to: 1", "Opened a.nsv successfully!",
                          "file has headers, they were skipped", "Title Updated (A)"};
    EXPECT_EQ(passes.entry_plays(opened), opened);
    EXPECT_FALSE(passes.quiet());
    // Not quiet: lines are written as they come, so nothing is returned.
    EXPECT_EQ(passes.entry_plays(opened), Lines{});
    // What failed before is forgotten: a fruitless pass after a play is said again.
    EXPECT_EQ(pass_over_missing(passes), Lines{});
    EXPECT_TRUE(passes.pass_fruitless());
}

TEST(QuietPassesTest, WhatIsRememberedIsBounded) {
    QuietPasses passes;
    pass_over_missing(passes);
    passes.pass_fruitless();
    Lines many;
    for (size_t i = 0; i < QuietPasses::kMaxRemembered + 10; ++i) {
        many.push_back("Unable to open " + std::to_string(i) + ".nsv");
    }
    EXPECT_EQ(passes.fruitless_entry(many), many);
    // Past the bound the oldest knowledge went: a.nsv's failure is written once more.
    EXPECT_EQ(passes.fruitless_entry(missing(1, "a.nsv")), missing(1, "a.nsv"));
    EXPECT_EQ(passes.fruitless_entry(missing(1, "a.nsv")), Lines{});
}

}  // namespace
}  // namespace tarnel::test
