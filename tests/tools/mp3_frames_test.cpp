#include "tools/mp3_frames.h"

#include <gtest/gtest.h>

#include "nsv_test_bytes.h"

namespace tarnel::test {
namespace {

using namespace std::string_literals;

TEST(Mp3FramesTest, HeaderSizesRatesAndSamples) {
    struct Case {
        std::string header;
        uint32_t size;
        uint32_t sample_rate;
        uint32_t samples;
    };
    const Case cases[] = {
        {"\xFF\xFB\x90\x00"s, 417, 44100, 1152},  // MPEG 1 layer III 128k
        {"\xFF\xFB\x92\x00"s, 418, 44100, 1152},  // same with padding
        {"\xFF\xFB\xE4\x00"s, 960, 48000, 1152},  // MPEG 1 layer III 320k 48 kHz
        {"\xFF\xF3\x80\x00"s, 208, 22050, 576},   // MPEG 2 layer III 64k
        {"\xFF\xE3\x18\x00"s, 72, 8000, 576},     // MPEG 2.5 layer III 8k
        {"\xFF\xFD\xA4\x00"s, 576, 48000, 1152},  // MPEG 1 layer II 192k
        {"\xFF\xFF\x10\x00"s, 32, 44100, 384},    // MPEG 1 layer I 32k
        {"\xFF\xFF\x12\x00"s, 36, 44100, 384},    // layer I padding adds one 4-byte slot
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.header));
        const std::optional<MpegAudioHeader> header = parse_mpeg_audio_header(c.header);
        ASSERT_TRUE(header.has_value());
        EXPECT_EQ(header->frame_size, c.size);
        EXPECT_EQ(header->sample_rate, c.sample_rate);
        EXPECT_EQ(header->samples, c.samples);
    }
}

TEST(Mp3FramesTest, InvalidHeadersAreRefused) {
    const std::string cases[] = {
        ""s,
        "\xFF\xFB\x90"s,      // short
        "\xFF\x7B\x90\x00"s,  // sync bits incomplete
        "ID3\x04"s,           // not a frame
        "\xFF\xEB\x90\x00"s,  // version 01 reserved
        "\xFF\xF9\x90\x00"s,  // layer 00 reserved
        "\xFF\xFB\x00\x00"s,  // free format bit rate
        "\xFF\xFB\xF0\x00"s,  // bit rate index 15
        "\xFF\xFB\x9C\x00"s,  // sample rate index 3
    };
    for (const std::string& header : cases) {
        EXPECT_FALSE(parse_mpeg_audio_header(header).has_value()) << testing::PrintToString(header);
    }
}

TEST(Mp3FramesTest, SplitsFramesAfterId3v2AndBeforeId3v1) {
    const std::string frame1 = mpeg_frame(kMp3Header128k, 417, '1');
    const std::string frame2 = mpeg_frame("\xFF\xFB\x92\x00"s, 418, '2');
    // ID3v2 with a 200-byte body: size as four 7-bit bytes 0x00 0x00 0x01 0x48.
    const std::string id3v2 = "ID3\x04\x00\x00\x00\x00\x01\x48"s + std::string(200, '\xFF');
    const std::string id3v1 = "TAG" + std::string(125, ' ');
    std::string error;
    const std::string bytes = id3v2 + frame1 + frame2 + id3v1;
    const std::optional<Mp3Stream> stream = split_mp3_frames(bytes, error);
    ASSERT_TRUE(stream.has_value()) << error;
    EXPECT_EQ(stream->sample_rate, 44100u);
    ASSERT_EQ(stream->frames.size(), 2u);
    EXPECT_EQ(stream->frames[0], frame1);
    EXPECT_EQ(stream->frames[1], frame2);
    EXPECT_EQ(stream->samples_per_frame, (std::vector<uint32_t>{1152, 1152}));
}

TEST(Mp3FramesTest, Id3v2FooterIsSkippedToo) {
    const std::string frame = mpeg_frame(kMp3Header128k, 417);
    const std::string tag =
        "ID3\x04\x00\x10\x00\x00\x00\x05"s + "12345" + "3DI\x04\x00\x10\x00\x00\x00\x05"s;
    std::string error;
    const std::string bytes = tag + frame;
    const std::optional<Mp3Stream> stream = split_mp3_frames(bytes, error);
    ASSERT_TRUE(stream.has_value()) << error;
    EXPECT_EQ(stream->frames.size(), 1u);
}

TEST(Mp3FramesTest, BadStreamsAreRefused) {
    const std::string frame = mpeg_frame(kMp3Header128k, 417);
    const std::string frame_48k = mpeg_frame("\xFF\xFB\x94\x00"s, 384);  // 128k at 48 kHz
    struct Case {
        const char* name;
        std::string bytes;
        const char* error_part;
    };
    const Case cases[] = {
        {"empty", "", "no MPEG audio frame"},
        {"only a tag", "ID3\x04\x00\x00\x00\x00\x00\x02xx"s, "no MPEG audio frame"},
        {"tag longer than file", "ID3\x04\x00\x00\x00\x00\x7F\x7F"s + frame,
         "longer than the file"},
        {"garbage between frames", frame + "junk" + frame,
         "no MPEG audio frame header at offset 417"},
        {"last frame cut", frame + frame.substr(0, 100), "offset 417 is cut short"},
        {"header cut", frame + frame.substr(0, 3), "offset 417"},
        {"sample rate change", frame + frame_48k, "sample rate changes at offset 417"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        EXPECT_FALSE(split_mp3_frames(c.bytes, error).has_value());
        EXPECT_NE(error.find(c.error_part), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace tarnel::test
