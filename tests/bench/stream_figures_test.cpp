#include "stream_figures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnel::bench {
namespace {

constexpr std::int64_t kSecond = 1'000'000'000;
constexpr std::int64_t kMs = 1'000'000;

TEST(SpreadTest, NearestRankPercentiles) {
    struct Case {
        std::vector<double> values;
        double median, p99, max;
    };
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i) {
        hundred.push_back(i);  // unsorted on purpose
    }
    const Case cases[] = {
        {{}, 0, 0, 0},           {{7}, 7, 7, 7},         {{3, 1, 2}, 2, 3, 3},
        {{1, 2, 3, 4}, 2, 4, 4}, {hundred, 50, 99, 100},
    };
    for (const Case& c : cases) {
        const Spread spread = spread_of(c.values);
        EXPECT_EQ(spread.count, c.values.size());
        EXPECT_EQ(spread.median, c.median);
        EXPECT_EQ(spread.p99, c.p99);
        EXPECT_EQ(spread.max, c.max);
    }
}

TEST(TickLatenessTest, FirstReceiveAfterASilenceStartsASecond) {
    const std::int64_t t0 = 1'800'000'000 * kSecond;
    const std::vector<Arrival> arrivals = {
        {t0 + 400 * kMs, 0, 100},                // the connection's first second: left out
        {t0 + 401 * kMs, 100, 100},              // same burst
        {t0 + kSecond + 2 * kMs, 200, 100},      // 2 ms after its tick
        {t0 + kSecond + 9 * kMs, 300, 100},      // same second, later receive
        {t0 + 2 * kSecond + 7'500'000, 400, 1},  // 7.5 ms
        {t0 + 4 * kSecond + 999 * kMs, 401, 1},  // a second sent 999 ms after its tick
    };
    EXPECT_EQ(tick_lateness_ms(arrivals, 300 * kMs), (std::vector<double>{2, 7.5, 999}));
    EXPECT_TRUE(tick_lateness_ms({}, 300 * kMs).empty());
}

// One 188-byte transport packet starting a PES packet with the given stream id and PTS, or a
// packet carrying no PES start when stream_id is 0.
std::string packet(unsigned stream_id, std::int64_t pts, bool adaptation = false) {
    std::string p(188, '\xFF');
    p[0] = 0x47;
    p[1] = static_cast<char>(stream_id != 0 ? 0x41 : 0x01);
    p[2] = 0x00;
    p[3] = static_cast<char>(adaptation ? 0x30 : 0x10);
    size_t at = 4;
    if (adaptation) {
        p[4] = 7;  // adaptation field length
        at += 8;
    }
    if (stream_id == 0) {
        return p;
    }
    const std::string pes = {0,
                             0,
                             1,
                             static_cast<char>(stream_id),
                             0,
                             0,
                             static_cast<char>(0x80),
                             static_cast<char>(0x80),
                             5};
    p.replace(at, pes.size(), pes);
    at += pes.size();
    p[at] = static_cast<char>(0x21 | ((pts >> 29) & 0x0E));
    p[at + 1] = static_cast<char>((pts >> 22) & 0xFF);
    p[at + 2] = static_cast<char>(((pts >> 14) & 0xFE) | 1);
    p[at + 3] = static_cast<char>((pts >> 7) & 0xFF);
    p[at + 4] = static_cast<char>(((pts << 1) & 0xFE) | 1);
    return p;
}

TEST(TransportSecondsTest, VideoTimeStampsMarkEachSecond) {
    const std::int64_t base = 0x1'2345'6789;  // 33 bits: the top bit must survive
    std::string stream;
    stream += packet(0, 0);                        // 0: no PES start
    stream += packet(0xE0, base);                  // 188: second 0
    stream += packet(0xC0, base + 95000);          // 376: audio, ignored
    stream += packet(0xE0, base + 89999);          // 564: still second 0
    stream += packet(0xBD, base + 90000, true);    // 752: second 1 (private stream, adaptation)
    stream += packet(0xE0, base + 3 * 90000 + 1);  // 940: seconds 2 and 3
    EXPECT_EQ(transport_second_offsets(stream), (std::vector<std::uint64_t>{188, 752, 940, 940}));

    std::string broken = stream;
    broken[752] = 0;  // lost sync ends the scan
    EXPECT_EQ(transport_second_offsets(broken), (std::vector<std::uint64_t>{188}));
}

TEST(ScheduleLatenessTest, AgainstTheFirstSecondPlusMediaTime) {
    const std::vector<Arrival> arrivals = {
        {10 * kSecond, 0, 100},
        {11 * kSecond + 3 * kMs, 100, 50},
        {12 * kSecond - 2 * kMs, 150, 50},
    };
    EXPECT_EQ(arrival_of(arrivals, 0), 10 * kSecond);
    EXPECT_EQ(arrival_of(arrivals, 149), 11 * kSecond + 3 * kMs);
    EXPECT_EQ(arrival_of(arrivals, 200), -1);
    EXPECT_EQ(schedule_lateness_ms(arrivals, {50, 120, 160, 500}), (std::vector<double>{3, -2}));
}

}  // namespace
}  // namespace tarnel::bench
