#include "driver/subtitle.h"

#include <gtest/gtest.h>

#include "config/settings.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

class SubtitleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_settings();
        reset_subtitles();
    }
    void TearDown() override {
        reset_settings();
        reset_subtitles();
    }
    DriverState state_;
};

TEST_F(SubtitleTest, ScriptParsing) {
    struct Case {
        std::string bytes;
        std::vector<int> values;  // repeat, display, x, y, red, green, blue
        std::string text;
    };
    const Case cases[] = {
        {"1 300 10 20 300 -1 7\n\nHello\nworld\n", {1, 300, 10, 20, 300, -1, 7}, "Hello\nworld\n"},
        {"0 90 1 2\nPartial", {0, 90, 1, 2, 255, 255, 255}, "Partial"},
        {"no numbers", {0, 290, 0, 0, 255, 255, 255}, "no numbers"},
        {"1 2 3 4 5 6 7", {1, 2, 3, 4, 5, 6, 7}, ""},
        {"1 2 3 4 5 6 7 A" + std::string(1, '\0') + "gone", {1, 2, 3, 4, 5, 6, 7}, "A"},
        // A sign with no digit after it is consumed by the scan, as C's scanf does.
        {"- Breaking news", {0, 290, 0, 0, 255, 255, 255}, " Breaking news"},
        {"1 -x rest", {1, 290, 0, 0, 255, 255, 255}, "x rest"},
        {"+News", {0, 290, 0, 0, 255, 255, 255}, "News"},
    };
    for (const Case& c : cases) {
        SubtitleOffer offer = default_offer(29.97);
        std::string text;
        parse_subtitle_script(c.bytes, offer, text);
        EXPECT_EQ(
            (std::vector<int>{offer.repeat, offer.style.display_time, offer.style.x, offer.style.y,
                              offer.style.red, offer.style.green, offer.style.blue}),
            c.values)
            << c.bytes;
        EXPECT_EQ(text, c.text);
    }
    // A NUL ends only its own 255-byte piece: the following pieces are still appended.
    const std::string head = "1 2 3 4 5 6 7\n";
    std::string first_piece = "A" + std::string(1, '\0') + std::string(253, 'x');
    SubtitleOffer offer;
    std::string text;
    parse_subtitle_script(head + first_piece + "next", offer, text);
    EXPECT_EQ(text, "Anext");
}

TEST_F(SubtitleTest, TagModeOffersEachTitleOnceWithALineBreak) {
    subtitle_mode = kSubtitleTag;
    state_.file_title = "Artist - Song - Live";
    SubtitleOffer offer = compose_subtitle(state_, 29.97, 0);
    EXPECT_EQ(offer.text, "Artist\nSong - Live");
    EXPECT_EQ(offer.style.display_time, 145);
    EXPECT_EQ(compose_subtitle(state_, 29.97, 0).text, "");  // same title again: nothing
    state_.file_title = "Other";
    EXPECT_EQ(compose_subtitle(state_, 30, 0).text, "Other");
}

TEST_F(SubtitleTest, ClockAndDebugModes) {
    subtitle_mode = kSubtitleClock;
    const SubtitleOffer first = compose_subtitle(state_, 29.97, 1000000000);
    EXPECT_EQ(first.style.display_time, 29);
    EXPECT_EQ(first.text.size(), 19u);
    EXPECT_EQ(state_.line_buffer, first.text);
    EXPECT_EQ(compose_subtitle(state_, 29.97, 1000000000).text, "");  // same second
    EXPECT_NE(compose_subtitle(state_, 29.97, 1000000001).text, "");

    subtitle_mode = kSubtitleDebug;
    state_.line_buffer = "Video: 10kbps";
    EXPECT_EQ(compose_subtitle(state_, 15, 0).text, "Video: 10kbps");
    EXPECT_EQ(compose_subtitle(state_, 15, 0).text, "");
}

TEST_F(SubtitleTest, NoneAndUnsetOfferNothing) {
    for (const int mode : {kSubtitleNone, kSubtitleUnset}) {
        subtitle_mode = mode;
        state_.file_title = "Title";
        EXPECT_EQ(compose_subtitle(state_, 30, 0).text, "");
    }
}

TEST_F(SubtitleTest, ScriptModeFollowsTheFileAndTheRepeatFlag) {
    TempDir dir;
    ScopedChdir here(dir.path());
    subtitle_mode = kSubtitleScript;
    sub_red = "9";
    EXPECT_EQ(compose_subtitle(state_, 30, 0).text, "");  // no file yet

    dir.write("subtitle.txt", "0 60 1 2 3 4 5\nHi");
    SubtitleOffer offer = compose_subtitle(state_, 30, 0);
    EXPECT_EQ(offer.text, "Hi");
    EXPECT_EQ(offer.style.display_time, 60);
    EXPECT_EQ(offer.style.red, 3);
    EXPECT_EQ(compose_subtitle(state_, 30, 0).text, "");  // unchanged: not offered again

    dir.write("subtitle.txt", "1 60 1 2 3 4 5\nHi");
    EXPECT_EQ(compose_subtitle(state_, 30, 0).text, "Hi");  // repeat flag 1: every cycle
    EXPECT_EQ(compose_subtitle(state_, 30, 0).text, "Hi");

    dir.write("subtitle.txt", "0 60 1 2 3 4 5\n");
    EXPECT_EQ(compose_subtitle(state_, 30, 0).text, "");
    dir.write("subtitle.txt", "0 60 1 2 3 4 5\nHi");
    EXPECT_EQ(compose_subtitle(state_, 30, 0).text, "Hi");  // back after an empty text

    std::remove("subtitle.txt");
    offer = compose_subtitle(state_, 30, 0);
    EXPECT_EQ(offer.text, "");      // keeps the previous text, which equals the last offer
    EXPECT_EQ(offer.style.red, 9);  // and the defaults apply
}

}  // namespace
}  // namespace tarnel::test
