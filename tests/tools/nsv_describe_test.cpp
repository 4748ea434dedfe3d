#include <gtest/gtest.h>

#include "nsv_test_bytes.h"
#include "tools/nsv_check.h"

namespace tarnel::test {
namespace {

TEST(NsvDescribeTest, CleanFile) {
    const std::string bytes = file_header("TITLE=\"Clip\"") + sync_frame("v", "a", 0x81, 160, 120) +
                              continuation_frame("v", "");
    EXPECT_EQ(describe_nsv("clip.nsv", inspect_nsv(bytes)),
              "file: clip.nsv\n"
              "metadata: TITLE=\"Clip\"\n"
              "video: \"VP80\"\n"
              "audio: \"MP3 \"\n"
              "size: 160x120\n"
              "frame rate: 29.970 (code 0x81)\n"
              "frames: 2 (1 sync)\n"
              "seconds: 0.07\n"
              "problems: none\n");
}

TEST(NsvDescribeTest, ProblemsAndUnknownsAreSpelledOut) {
    const std::string bytes = std::string("\x01\x02", 2) + "TITLE";
    EXPECT_EQ(describe_nsv("bad", inspect_nsv(bytes)),
              "file: bad\n"
              "metadata: (no file header)\n"
              "video: (none)\naudio: (none)\nsize: (none)\n"
              "frame rate: unset (no sync frame)\n"
              "frames: 0 (0 sync)\n"
              "seconds: unknown\n"
              "problems: 2\n"
              "problem: unrecognised frame start at offset 0: bytes here start neither a sync nor "
              "a continuation frame\n"
              "problem: no frames at offset 0: no complete frame\n");
}

TEST(NsvDescribeTest, UnprintableBytesAreEscaped) {
    const std::string bytes = file_header(std::string("T\x01\\", 3)) + sync_frame("", "", 0x84);
    const std::string text = describe_nsv("x", inspect_nsv(bytes));
    EXPECT_NE(text.find("metadata: T\\x01\\x5c\n"), std::string::npos) << text;
    EXPECT_NE(text.find("frame rate: unset (code 0x84)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("problem: frame rate unset at offset 31"), std::string::npos) << text;
}

}  // namespace
}  // namespace tarnel::test
