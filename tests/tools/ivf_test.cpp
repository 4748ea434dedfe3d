#include "tools/ivf.h"

#include <gtest/gtest.h>

#include "nsv_test_bytes.h"

namespace tarnel::test {
namespace {

TEST(IvfTest, ParsesHeaderAndFrames) {
    std::string error;
    const std::string bytes = ivf_file({"key", "", "inter!"}, 30000, 1001, "VP80", 640, 360);
    const std::optional<IvfStream> stream = parse_ivf(bytes, error);
    ASSERT_TRUE(stream.has_value()) << error;
    EXPECT_EQ(stream->fourcc, "VP80");
    EXPECT_EQ(stream->width, 640);
    EXPECT_EQ(stream->height, 360);
    EXPECT_EQ(stream->time_rate, 30000u);
    EXPECT_EQ(stream->time_scale, 1001u);
    EXPECT_EQ(stream->declared_frames, 3u);
    ASSERT_EQ(stream->frames.size(), 3u);
    EXPECT_EQ(stream->frames[0].data, "key");
    EXPECT_EQ(stream->frames[1].data, "");
    EXPECT_EQ(stream->frames[2].data, "inter!");
    EXPECT_EQ(stream->frames[2].pts, 2u);
}

TEST(IvfTest, LargeTimestampAndLongerHeader) {
    // Header length 40: the 8 extra bytes are skipped; pts uses all 64 bits.
    std::string bytes = ivf_file({});
    bytes[6] = 40;
    bytes += std::string(8, 'x') + le32(2) + le32(5) + le32(1) + "ab";
    std::string error;
    const std::optional<IvfStream> stream = parse_ivf(bytes, error);
    ASSERT_TRUE(stream.has_value()) << error;
    ASSERT_EQ(stream->frames.size(), 1u);
    EXPECT_EQ(stream->frames[0].data, "ab");
    EXPECT_EQ(stream->frames[0].pts, (uint64_t{1} << 32) | 5u);
}

TEST(IvfTest, BadInputIsRefusedWithoutReadingPastTheEnd) {
    const std::string good = ivf_file({"abcd"});
    std::string short_header_length = good;
    short_header_length[6] = 16;
    std::string lying_header_length = good;
    lying_header_length[6] = static_cast<char>(0xFF);
    lying_header_length[7] = static_cast<char>(0xFF);
    struct Case {
        const char* name;
        std::string bytes;
        const char* error_part;
    };
    const Case cases[] = {
        {"empty", "", "DKIF"},
        {"other signature", "RIFF" + good.substr(4), "DKIF"},
        {"header cut", good.substr(0, 20), "cut short"},
        {"header length below 32", short_header_length, "header length"},
        {"header length past the end", lying_header_length, "header length"},
        {"frame header cut", good.substr(0, 32 + 7), "frame header at offset 32"},
        {"frame data cut", good.substr(0, good.size() - 1), "announces 4 bytes, only 3 left"},
        {"huge frame size", good.substr(0, 32) + le32(0xFFFFFFFF) + le32(0) + le32(0) + "x",
         "announces 4294967295"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        EXPECT_FALSE(parse_ivf(c.bytes, error).has_value());
        EXPECT_NE(error.find(c.error_part), std::string::npos) << error;
    }
}

TEST(IvfTest, Vp8KeyFrameIsBitZeroClear) {
    struct Case {
        std::string frame;
        bool key;
    };
    const Case cases[] = {
        {std::string("\x10\x02\x00", 3), true},
        {"\x31\x02", false},
        {std::string(1, '\0'), true},
        {"\x01", false},
        {"\xFE", true},
        {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(is_vp8_key_frame(c.frame), c.key) << testing::PrintToString(c.frame);
    }
}

}  // namespace
}  // namespace tarnel::test
