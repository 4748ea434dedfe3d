// Subtitles composed by the running program, as they arrive in the stream.

#include <gtest/gtest.h>

#include "support/console_capture.h"
#include "support/loopback_server.h"
#include "support/nsv_expected.h"
#include "support/nsv_writer.h"
#include "support/subtitle_chunks.h"
#include "support/tarnel_run.h"

namespace tarnel::test {
namespace {

using std::chrono::seconds;

nsv::SubtitleStyle style(int display_time, int x, int y, int red, int green, int blue) {
    nsv::SubtitleStyle result;
    result.display_time = display_time;
    result.x = x;
    result.y = y;
    result.red = red;
    result.green = green;
    result.blue = blue;
    return result;
}

TEST(SubtitleEndToEndTest, TagModeTitlesTheFirstSecondOnceAcrossFilesOfTheSameTitle) {
    LoopbackServer server;
    TarnelRun run(server);
    NsvWriter first;
    first.file_header("TITLE=\"Artist - Song\"").frames(45, 0x1E, 120, 20, 30);
    NsvWriter second;
    second.file_header("TITLE=\"Artist - Song\"").frames(40, 0x1E, 130, 20, 30);
    first.write(run.dir().file("one.nsv"));
    second.write(run.dir().file("two.nsv"));
    run.configure("SubtitleMode=tag\nSubtitlePosX=5\nSubtitlePosY=6\nSubtitleRed=7\n");
    run.playlist("#Mode=basic\none.nsv\ntwo.nsv\n");
    run.start();

    NsvProcessState state;
    SecondOffer title;
    title.subtitle = "Artist\nSong";
    title.style = style(150, 5, 6, 7, 255, 255);  // five seconds' worth at 30 fps
    const std::string wire = expected_stream(first.bytes(), {title}, state).wire() +
                             expected_stream(second.bytes(), {}, state).wire();
    ASSERT_TRUE(wait_until([&] { return server.stream_bytes(0).size() >= wire.size(); }, 15000));
    run.process().kill();
    EXPECT_EQ(server.stream_bytes(0).substr(0, wire.size()), wire);
    const auto found = find_subtitles(wire);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].text, "Artist\nSong");
}

TEST(SubtitleEndToEndTest, ClockModeOffersANewTimeEverySecond) {
    LoopbackServer server;
    TarnelRun run(server);
    NsvWriter clip;
    clip.frames(300, 0x1E, 120, 20, 30);
    clip.write(run.dir().file("clip.nsv"));
    run.configure("SubtitleMode=clock\n");
    run.playlist("#Mode=basic\nclip.nsv\n");
    run.start();
    ASSERT_TRUE(
        wait_until([&] { return find_subtitles(server.stream_bytes(0)).size() >= 4; }, 15000));
    run.process().kill();
    const auto found = find_subtitles(server.stream_bytes(0));
    const std::string clock_text = "99/99/9999 99:99:99";  // '9': any digit
    for (size_t i = 0; i < found.size(); ++i) {
        EXPECT_TRUE(found[i].text.size() == clock_text.size() &&
                    fits_pattern(found[i].text, 0, clock_text))
            << found[i].text;
        EXPECT_EQ(found[i].display_time, 30);  // one second's worth of frames
        if (i > 0) {
            EXPECT_LT(found[i - 1].text, found[i].text);
        }
    }
}

TEST(SubtitleEndToEndTest, ScriptModeFollowsRewritesOfTheScriptFile) {
    LoopbackServer server;
    TarnelRun run(server);
    NsvWriter clip;
    clip.frames(600, 0x1E, 120, 20, 30);
    clip.write(run.dir().file("clip.nsv"));
    run.dir().write("subtitle.txt", "0 60 10 20 300 258 3\nHello\nthere");
    run.configure("SubtitleMode=script\n");
    run.playlist("#Mode=basic\nclip.nsv\n");
    run.start();
    ASSERT_TRUE(
        wait_until([&] { return find_subtitles(server.stream_bytes(0)).size() >= 1; }, 10000));
    // A text offered while the first one still shows is dropped; the repeat flag offers it again
    // every second until the countdown lets it in.
    run.dir().write("subtitle.txt", "1 30 1 2 3 4 5 Rewritten");
    ASSERT_TRUE(
        wait_until([&] { return find_subtitles(server.stream_bytes(0)).size() >= 2; }, 10000));
    run.process().kill();

    const auto found = find_subtitles(server.stream_bytes(0));
    EXPECT_EQ(found[0].text, "Hello\nthere");
    // Values above 255 reach the stream as their low 8 bits.
    EXPECT_EQ((std::vector<int>{found[0].display_time, found[0].x, found[0].y, found[0].red,
                                found[0].green, found[0].blue}),
              (std::vector<int>{60, 10, 20, 44, 2, 3}));
    EXPECT_EQ(found[1].text, "Rewritten");
    EXPECT_EQ(found[1].display_time, 30);
    EXPECT_EQ(found[1].blue, 5);
}

}  // namespace
}  // namespace tarnel::test
