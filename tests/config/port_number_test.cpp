#include "config/port_number.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "config/settings.h"

namespace tarnel::test {
namespace {

TEST(PortNumberTest, OnlyAWholeNumberFrom1To65535IsAPort) {
    struct Case {
        std::string text;
        std::optional<int> port;
        std::optional<long long> number;
    };
    const std::vector<Case> cases = {
        {"8000", 8000, 8000},
        {"1", 1, 1},
        {"65535", 65535, 65535},
        {"08000", 8000, 8000},
        {"0", std::nullopt, 0},
        {"65536", std::nullopt, 65536},
        // atoi read these as 18073 (after wrapping) and 8000.
        {"4294985368", std::nullopt, 4294985368LL},
        {"8000abc", std::nullopt, std::nullopt},
        {" 8000", std::nullopt, std::nullopt},
        {"8000 ", std::nullopt, std::nullopt},
        {"+8000", std::nullopt, std::nullopt},
        {"-1", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"0x1F40", std::nullopt, std::nullopt},
        {"1234567890123456789", std::nullopt, std::nullopt},  // 19 digits
    };
    for (const Case& c : cases) {
        EXPECT_EQ(port_number(c.text), c.port) << '"' << c.text << '"';
        EXPECT_EQ(decimal_number(c.text), c.number) << '"' << c.text << '"';
    }
}

// Queue positions and history lengths: a count from 1 to a limit, never more digits than it has.
TEST(PortNumberTest, ANumberInItsRangeHasNoMoreDigitsThanTheLimit) {
    const struct {
        const char* text;
        std::optional<size_t> number;
    } cases[] = {
        {"1", 1},
        {"100", 100},
        {"007", 7},
        {"0", std::nullopt},
        {"101", std::nullopt},
        {"0007", std::nullopt},
        {"", std::nullopt},
        {"1a", std::nullopt},
        {"-1", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decimal_number_in(c.text, 100), c.number) << '"' << c.text << '"';
    }
}

TEST(PortNumberTest, TheBasePortOfTheSettingIsZeroWhenItNamesNone) {
    reset_settings();
    EXPECT_EQ(base_port_number(), 8000);
    port = "8000abc";
    EXPECT_EQ(base_port_number(), 0);
    port = "443";
    EXPECT_EQ(base_port_number(), 443);
    reset_settings();
}

}  // namespace
}  // namespace tarnel::test
