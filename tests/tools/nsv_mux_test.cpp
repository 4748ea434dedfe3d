#include "tools/nsv_mux.h"

#include <gtest/gtest.h>

#include <list>

#include "nsv_test_bytes.h"
#include "tools/nsv_check.h"

namespace tarnel::test {
namespace {

using namespace std::string_literals;

TEST(NsvMuxTest, FrameHeaderEncoding) {
    struct Case {
        uint32_t video;
        uint32_t audio;
        uint32_t aux;
        std::string bytes;
    };
    const Case cases[] = {
        {19, 320, 0, "\x30\x01\x00\x40\x01"s},          {19 + 37, 320, 1, "\x81\x03\x00\x40\x01"s},
        {0xFFFFF, 0xFFFF, 0, "\xF0\xFF\xFF\xFF\xFF"s},  {0, 0, 0, std::string(5, '\0')},
        {0x12345, 0xABCD, 15, "\x5F\x34\x12\xCD\xAB"s},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(encode_nsv_frame_header(c.video, c.audio, c.aux), c.bytes)
            << c.video << " " << c.audio << " " << c.aux;
    }
}

TEST(NsvMuxTest, MetadataText) {
    struct Case {
        std::string title;
        std::string url;
        std::string text;
    };
    const Case cases[] = {
        {"Clip", "http://x/", "TITLE=\"Clip\" URL=\"http://x/\""},
        {"Clip", "", "TITLE=\"Clip\""},
        {"", "u", "URL=\"u\""},
        {"", "", ""},
        {"say \"hi\"", "", "TITLE='say \"hi\"'"},
        {"a\"b'c", "", "TITLE=|a\"b'c|"},
        {"nul\0byte"s, "", "TITLE=\"nulbyte\""},
        {"\"'|`~^", "", "TITLE=\"'|`~^\""},  // every delimiter taken: double quotes are dropped
    };
    for (const Case& c : cases) {
        EXPECT_EQ(nsv_metadata_text(c.title, c.url), c.text);
    }
}

// IvfStream and Mp3Stream only view their frames; the bytes live here for the whole test run.
std::string_view keep(const std::string& bytes) {
    static std::list<std::string> storage;
    storage.push_back(bytes);
    return storage.back();
}

IvfStream make_video(const std::vector<std::string>& frames, uint32_t rate = 30,
                     uint32_t scale = 1) {
    IvfStream video;
    video.fourcc = "VP80";
    video.width = 176;
    video.height = 144;
    video.time_rate = rate;
    video.time_scale = scale;
    for (const std::string& frame : frames) {
        video.frames.push_back(IvfFrame{keep(frame), 0});
    }
    return video;
}

Mp3Stream make_audio(const std::vector<std::string>& frames, uint32_t sample_rate = 44100) {
    Mp3Stream audio;
    audio.sample_rate = sample_rate;
    for (const std::string& frame : frames) {
        audio.frames.push_back(keep(frame));
        audio.samples_per_frame.push_back(1152);
    }
    return audio;
}

TEST(NsvMuxTest, FileHeaderFields) {
    const std::vector<std::string> pictures = {"\x10k"s, "\x01i"s, "\x01i"s, "\x01i"s};
    std::string error;
    const std::optional<NsvMuxResult> result =
        mux_nsv(make_video(pictures), nullptr, "TITLE=\"t\"", error);
    ASSERT_TRUE(result.has_value()) << error;
    const std::string& bytes = result->bytes;
    EXPECT_EQ(bytes.substr(0, 4), "NSVf");
    EXPECT_EQ(bytes.substr(4, 4), le32(28 + 10));                              // header size
    EXPECT_EQ(bytes.substr(8, 4), le32(static_cast<uint32_t>(bytes.size())));  // file size
    EXPECT_EQ(bytes.substr(12, 4), le32(133));             // 4 frames at 30/s in ms
    EXPECT_EQ(bytes.substr(16, 4), le32(10));              // metadata with its zero byte
    EXPECT_EQ(bytes.substr(20, 8), std::string(8, '\0'));  // no index
    EXPECT_EQ(bytes.substr(28, 10), "TITLE=\"t\""s + '\0');
}

// At 30 frames/s frame i ends at (i + 1) / 30 s; 1152-sample audio frames at 44100 Hz start
// every 26.12 ms, so frames 0..3 get audio frames {0,1}, {2}, {3}, {4,5}; 6 is left out.
TEST(NsvMuxTest, InterleavesAudioAndPlacesSyncFramesAtKeyFrames) {
    const std::vector<std::string> pictures = {"\x10key0"s, "\x01p1"s, "\x00key2"s, "\x05p3"s};
    const Mp3Stream audio = make_audio({"A0", "A1", "A2", "A3", "A4", "A5", "A6"});
    std::string error;
    const std::optional<NsvMuxResult> result =
        mux_nsv(make_video(pictures), &audio, "TITLE=\"t\"", error);
    ASSERT_TRUE(result.has_value()) << error;
    EXPECT_EQ(result->frames, 4u);
    EXPECT_EQ(result->sync_frames, 2u);
    EXPECT_EQ(result->dropped_audio_frames, 1u);

    const std::vector<ListedFrame> frames = list_frames(result->bytes);
    ASSERT_EQ(frames.size(), 4u);
    const std::string sync_prefix = "NSVsVP80MP3 " + le16(176) + le16(144) + "\x1E" + le16(0);
    const bool sync[] = {true, false, true, false};
    const char* audio_of[] = {"A0A1", "A2", "A3", "A4A5"};
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(frames[i].sync, sync[i]);
        EXPECT_EQ(frames[i].prefix, sync[i] ? sync_prefix : "\xEF\xBE");
        EXPECT_EQ(frames[i].video, pictures[i]);
        EXPECT_EQ(frames[i].audio, audio_of[i]);
    }
    const NsvSummary summary = inspect_nsv(result->bytes);
    EXPECT_TRUE(summary.problems.empty());
    EXPECT_EQ(summary.metadata, "TITLE=\"t\"");
}

TEST(NsvMuxTest, FirstFrameIsSyncEvenWithoutKeyFrameAndVideoOnlySaysNone) {
    std::string error;
    const std::optional<NsvMuxResult> result =
        mux_nsv(make_video({"\x01p"s, "\x01p"s}, 30000, 1001), nullptr, "", error);
    ASSERT_TRUE(result.has_value()) << error;
    const std::vector<ListedFrame> frames = list_frames(result->bytes);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(frames[0].sync);
    EXPECT_EQ(frames[0].prefix.substr(8, 4), "NONE");
    EXPECT_EQ(static_cast<uint8_t>(frames[0].prefix[16]), 0x81);
    EXPECT_FALSE(frames[1].sync);
    EXPECT_EQ(frames[1].audio, "");
}

TEST(NsvMuxTest, LargestLengthsFit) {
    const std::string picture = "\x01" + std::string(kMaxNsvVideoLength - 1, 'v');
    const Mp3Stream audio = make_audio({std::string(kMaxNsvAudioLength, 'a')});
    std::string error;
    const std::optional<NsvMuxResult> result =
        mux_nsv(make_video({picture}, 1, 1), &audio, "", error);
    ASSERT_TRUE(result.has_value()) << error;
    const std::vector<ListedFrame> frames = list_frames(result->bytes);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].video.size(), kMaxNsvVideoLength);
    EXPECT_EQ(frames[0].audio.size(), kMaxNsvAudioLength);
}

TEST(NsvMuxTest, RefusesWhatCannotBeWritten) {
    const Mp3Stream big_audio = make_audio({std::string(40000, 'a'), std::string(40000, 'b')});
    IvfStream vp9 = make_video({"\x10"s});
    vp9.fourcc = "VP90";
    IvfStream wide = make_video({"\x10"s});
    wide.width = 32768;
    struct Case {
        const char* name;
        IvfStream video;
        const Mp3Stream* audio;
        const char* error_part;
    };
    const Case cases[] = {
        {"not VP8", vp9, nullptr, "not VP8"},
        {"no frames", make_video({}), nullptr, "no frames"},
        {"too wide", wide, nullptr, "beyond 32767"},
        {"rate 25/2", make_video({"\x10"s}, 25, 2), nullptr, "frame rate 25/2"},
        {"rate 0", make_video({"\x10"s}, 0, 1), nullptr, "frame rate 0/1"},
        {"video too long", make_video({std::string(kMaxNsvVideoLength + 1, '\0')}), nullptr,
         "video frame 0 is 1048576 bytes"},
        {"audio too long", make_video({"\x10"s, "\x01"s}, 1, 1), &big_audio,
         "audio of frame 0 is 80000 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        EXPECT_FALSE(mux_nsv(c.video, c.audio, "", error).has_value());
        EXPECT_NE(error.find(c.error_part), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace tarnel::test
