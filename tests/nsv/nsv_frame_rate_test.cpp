#include "nsv/nsv_frame_rate.h"

#include <gtest/gtest.h>

namespace tarnel::test {
namespace {

TEST(NsvFrameRateTest, CodesDecodeToTheirRates) {
    struct Case {
        uint8_t code;
        double rate;
    };
    const Case cases[] = {
        {0x01, 1.0},       {0x1E, 30.0},      {0x7F, 127.0},       {0x81, 29.97002997},
        {0x83, 23.976024}, {0x85, 14.985015}, {0xC5, 59.94005994}, {0xC7, 47.952048},
    };
    for (const Case& c : cases) {
        const std::optional<double> rate = nsv_frame_rate(c.code);
        ASSERT_TRUE(rate.has_value()) << int{c.code};
        EXPECT_NEAR(*rate, c.rate, 1e-5) << int{c.code};
    }
}

TEST(NsvFrameRateTest, CodesThatSetNoRate) {
    for (const int code : {0x00, 0x80, 0x82, 0x84, 0x86, 0xC4, 0xC6, 0xC8, 0xFF}) {
        EXPECT_FALSE(nsv_frame_rate(static_cast<uint8_t>(code)).has_value()) << code;
    }
}

TEST(NsvFrameRateTest, RatesMapToCodes) {
    struct Case {
        uint32_t numerator;
        uint32_t denominator;
        uint8_t code;
    };
    const Case cases[] = {
        {30, 1, 0x1E},
        {25, 1, 0x19},
        {1, 1, 0x01},
        {127, 1, 0x7F},
        {60000, 2000, 0x1E},
        {30000, 1001, 0x81},
        {24000, 1001, 0x83},
        {15000, 1001, 0x85},
        {60000, 1001, 0xC5},
        {48000, 1001, 0xC7},
        {60000000, 2002000, 0x81},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(nsv_frame_rate_code(c.numerator, c.denominator), std::optional<uint8_t>(c.code))
            << c.numerator << "/" << c.denominator;
    }
}

TEST(NsvFrameRateTest, RatesWithoutCodeAreRefused) {
    const uint32_t cases[][2] = {{0, 1},  {30, 0},       {128, 1},       {25, 2},
                                 {1, 30}, {29970, 1000}, {120000, 1001}, {12000, 1001}};
    for (const auto& c : cases) {
        EXPECT_FALSE(nsv_frame_rate_code(c[0], c[1]).has_value()) << c[0] << "/" << c[1];
    }
}

}  // namespace
}  // namespace tarnel::test
