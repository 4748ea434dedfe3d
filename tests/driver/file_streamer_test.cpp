#include "driver/file_streamer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tarnel::test {
namespace {

TEST(CutHeaderValueTest, ATitleOver1KiBIsCutAtACharacterBoundary) {
    const std::string ascii(4 * 1024 * 1024, 'a');  // the header allows up to 4 GB
    const std::string utf8 = std::string(1023, 'a') + "\xc3\xa9" + "tail";  // é across the limit
    struct Case {
        const char* name;
        std::string value;
        std::optional<std::string> cut;
    };
    const std::vector<Case> cases = {
        {"short", "Song", std::nullopt},
        {"exactly 1 KiB", std::string(1024, 'a'), std::nullopt},
        {"4 MiB", ascii, std::string(1024, 'a')},
        {"a character across the limit", utf8, std::string(1023, 'a')},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cut_header_value(c.value), c.cut) << c.name;
    }
    EXPECT_EQ(kMaxTitleBytes, 1024u);
}

}  // namespace
}  // namespace tarnel::test
