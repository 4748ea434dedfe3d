// Frame and file header byte layouts, the inserted chunk layouts and the hex helpers.

#include "nsv/nsv_format.h"

#include <gtest/gtest.h>

#include <string>

#include "nsv/nsv_reader.h"

namespace tarnel {
namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) {
        out.push_back(static_cast<char>(v));
    }
    return out;
}

TEST(NsvFrameHeader, DecodesTheWorkedExample) {
    const nsv::FrameHeader header =
        nsv::decode_frame_header(bytes({0x30, 0x01, 0x00, 0x40, 0x01}).data());
    EXPECT_EQ(header.aux_count, 0);
    EXPECT_EQ(header.video_length, 19);
    EXPECT_EQ(header.audio_length, 320);
    EXPECT_EQ(header.payload_length(), 339);
}

TEST(NsvFrameHeader, ReencodesTheWorkedExampleWithOneInsertedChunk) {
    EXPECT_EQ(nsv::encode_frame_header(19 + 37, 320, 1), bytes({0x81, 0x03, 0x00, 0x40, 0x01}));
    char out[5];
    NSVReader::CreateFrameHeader(out, 19 + 37, 320, 1);
    EXPECT_EQ(std::string(out, 5), bytes({0x81, 0x03, 0x00, 0x40, 0x01}));
}

TEST(NsvFrameHeader, LargestLengths) {
    const nsv::FrameHeader header =
        nsv::decode_frame_header(bytes({0xF0, 0xFF, 0xFF, 0xFF, 0xFF}).data());
    EXPECT_EQ(header.video_length, 1048575);
    EXPECT_EQ(header.audio_length, 65535);
    EXPECT_EQ(header.aux_count, 0);
    EXPECT_EQ(nsv::encode_frame_header(1048575, 65535, 0), bytes({0xF0, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(NsvFrameHeader, AuxCountIsTheLowNibble) {
    EXPECT_EQ(nsv::decode_frame_header(bytes({0x3F, 0x01, 0x00, 0x00, 0x00}).data()).aux_count, 15);
    EXPECT_EQ(nsv::decode_frame_header(bytes({0x3F, 0x01, 0x00, 0x00, 0x00}).data()).video_length,
              19);
}

TEST(NsvFrameHeader, AnyNonZeroAuxFlagGivesOneAndRoundTrips) {
    char out[5];
    NSVReader::CreateFrameHeader(out, 0x12345, 0xBEEF, 7);
    EXPECT_EQ(std::string(out, 5), bytes({0x51, 0x34, 0x12, 0xEF, 0xBE}));
    const nsv::FrameHeader header = nsv::decode_frame_header(out);
    EXPECT_EQ(header.video_length, 0x12345);
    EXPECT_EQ(header.audio_length, 0xBEEF);
    EXPECT_EQ(header.aux_count, 1);
    NSVReader::CreateFrameHeader(out, 0, 0, 0);
    EXPECT_EQ(std::string(out, 5), std::string(5, '\0'));
}

TEST(NsvFrameRate, CodeTable) {
    EXPECT_EQ(nsv::decode_frame_rate(0x00), 0.0);
    EXPECT_EQ(nsv::decode_frame_rate(0x01), 1.0);
    EXPECT_EQ(nsv::decode_frame_rate(0x1E), 30.0);
    EXPECT_EQ(nsv::decode_frame_rate(0x7F), 127.0);
    EXPECT_EQ(nsv::decode_frame_rate(0x81), 29.97);
    EXPECT_EQ(nsv::decode_frame_rate(0x83), 23.976);
    EXPECT_EQ(nsv::decode_frame_rate(0x85), 14.985);
    EXPECT_EQ(nsv::decode_frame_rate(0xC5), 59.94);
    EXPECT_EQ(nsv::decode_frame_rate(0xC7), 47.952);
    for (int code = 0x80; code <= 0xFF; ++code) {
        if (code == 0x81 || code == 0x83 || code == 0x85 || code == 0xC5 || code == 0xC7) {
            continue;
        }
        EXPECT_EQ(nsv::decode_frame_rate(static_cast<unsigned char>(code)), 0.0) << code;
    }
}

TEST(NsvFrameRate, FramesPerSecondIsTheCeiling) {
    EXPECT_EQ(nsv::frames_per_second(0), 0);
    EXPECT_EQ(nsv::frames_per_second(29.97), 30);
    EXPECT_EQ(nsv::frames_per_second(23.976), 24);
    EXPECT_EQ(nsv::frames_per_second(14.985), 15);
    EXPECT_EQ(nsv::frames_per_second(59.94), 60);
    EXPECT_EQ(nsv::frames_per_second(47.952), 48);
    EXPECT_EQ(nsv::frames_per_second(30), 30);
    EXPECT_EQ(nsv::frames_per_second(1), 1);
}

TEST(NsvChunks, EndMarker) {
    EXPECT_EQ(nsv::end_marker_chunk(), bytes({0x00, 0x00, 0x41, 0x53, 0x59, 0x4E}));
}

TEST(NsvChunks, SubtitleChunkForFiveBytesByteForByte) {
    const std::string chunk =
        nsv::subtitle_chunk("Hello", nsv::SubtitleStyle{300, 10, -1, 255, 256, 0x1234});
    const std::string expected = bytes({0x1E, 0x00}) + "SUBT" + bytes({0x1C, 0x00}) +
                                 std::string("english\0", 8) + "Hello" + bytes({0, 0, 0}) +
                                 bytes({44}) + bytes({0, 0, 0}) +
                                 bytes({10, 0xFF, 0xFF, 0x00, 0x34}) + bytes({0xFF, 0xFF, 0x00});
    ASSERT_EQ(chunk.size(), 36u);
    EXPECT_EQ(chunk, expected);
    EXPECT_EQ(chunk.substr(0, 8), bytes({0x1E, 0x00, 0x53, 0x55, 0x42, 0x54, 0x1C, 0x00}));
}

TEST(NsvChunks, SubtitleChunkLengthsForLongAndEmptyTexts) {
    const std::string longest(nsv::kMaxSubtitleTextLength, 'x');
    const std::string chunk = nsv::subtitle_chunk(longest, {});
    ASSERT_EQ(chunk.size(), longest.size() + 31);
    EXPECT_EQ(nsv::read_u16(chunk.data()), 65535);
    EXPECT_EQ(nsv::read_u16(chunk.data() + 6), 65533);
    const std::string empty = nsv::subtitle_chunk("", {});
    EXPECT_EQ(empty.size(), 31u);
    EXPECT_EQ(nsv::read_u16(empty.data()), 25);
}

TEST(NsvHex, IntToHex) {
    EXPECT_EQ(NSVReader::IntToHex(0x0A, false), "0A");
    EXPECT_EQ(NSVReader::IntToHex(static_cast<char>(0xFF), false), "FF");
    EXPECT_EQ(NSVReader::IntToHex(0x00, false), "00");
    EXPECT_EQ(NSVReader::IntToHex(static_cast<char>(0xBE), false), "BE");
    EXPECT_EQ(NSVReader::IntToHex(static_cast<char>(0xBE), true), "B");
    EXPECT_EQ(NSVReader::IntToHex(0x0A, true), "0");
    EXPECT_EQ(nsv::hex_text(bytes({0x30, 0x01, 0x00, 0x40, 0x01}).data(), 5), "3001004001");
}

TEST(NsvHex, NibbleToInt) {
    const std::string digits = "0123456789";
    for (size_t i = 0; i < digits.size(); ++i) {
        EXPECT_EQ(nibbleToInt(digits[i]), static_cast<int>(i));
    }
    EXPECT_EQ(nibbleToInt('a'), 10);
    EXPECT_EQ(nibbleToInt('f'), 15);
    EXPECT_EQ(nibbleToInt('A'), 10);
    EXPECT_EQ(nibbleToInt('F'), 15);
    EXPECT_EQ(nibbleToInt('g'), 0);
    EXPECT_EQ(nibbleToInt('G'), 0);
    EXPECT_EQ(nibbleToInt(' '), 0);
    EXPECT_EQ(nibbleToInt('\0'), 0);
    EXPECT_EQ(NSVReader::nibbleToInt('e'), 14);
}

TEST(NsvFields, MetadataAndFormatCodes) {
    EXPECT_EQ(nsv::metadata_text("TITLE='a'\0rest", 14), "TITLE='a'");
    EXPECT_EQ(nsv::metadata_text("no zero", 7), "no zero");
    EXPECT_EQ(nsv::metadata_text("\0abc", 4), "");
    EXPECT_EQ(nsv::format_code("VP62MP3 "), "VP62");
    EXPECT_EQ(nsv::format_code(std::string("V\0P6", 4).data()), "V");
    EXPECT_EQ(nsv::read_i16(bytes({0xFE, 0xFF}).data()), -2);
    EXPECT_EQ(nsv::read_u32(bytes({0x01, 0x02, 0x03, 0x84}).data()), 0x84030201u);
}

}  // namespace
}  // namespace tarnel
