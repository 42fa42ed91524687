// The simulator's sentence formatting: every field of the RMC sentence, its checksum parsed
// back, the bearing line, and the UTC clock.

#include <gtest/gtest.h>

#include "kestrel-sim/sentences.h"

namespace kestrel::sim {
namespace {

TEST(SimChecksum, MatchesTheKnownSentenceAndCatchesDamage) {
    EXPECT_EQ(nmeaChecksum("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W"),
              "6A");
    struct Case {
        const char* sentence;
        bool ok;
    };
    const Case cases[] = {
        {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A", true},
        {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6a", true},
        {"$GPRMC,123519,A,4807.039,N,01131.000,E,022.4,084.4,230394,003.1,W*6A", false},
        {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6", false},
        {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", false},
        {"GPRMC,123519*6A", false},
        {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(checksumMatches(c.sentence), c.ok) << c.sentence;
    }
}

void expectRmc(const RmcFix& fix, const char* talker, const std::string& expectedWithoutSum) {
    const std::string s = formatRmc(fix, talker);
    ASSERT_GT(s.size(), 3u);
    EXPECT_EQ(s.substr(0, s.size() - 3), expectedWithoutSum);
    EXPECT_TRUE(checksumMatches(s)) << s;
}

TEST(SimRmc, FormatsEveryFieldFromWholeNumbers) {
    const UtcTime t{2024, 6, 15, 18, 0, 7, 0};
    const auto fix = [&](double lat, double lon, double knots, double course, bool valid = true) {
        RmcFix f;
        f.time = t;
        f.position = {lat, lon};
        f.speedKnots = knots;
        f.courseDeg = course;
        f.valid = valid;
        return f;
    };
    // 34.4167 degrees = 34 degrees 25.002 minutes.
    expectRmc(fix(34.4167, -119.7333, 28.04, 13), "GP",
              "$GPRMC,180007.00,A,3425.0020,N,11943.9980,W,028.0,013.0,150624,,,A");
    expectRmc(fix(-33.5, 151.25, 2.96, 84.44), "GN",
              "$GNRMC,180007.00,A,3330.0000,S,15115.0000,E,003.0,084.4,150624,,,A");
    // Minutes that round up to 60 carry into the degrees.
    expectRmc(fix(47.9999999, -8.99999999, 0, 0), "GP",
              "$GPRMC,180007.00,A,4800.0000,N,00900.0000,W,000.0,000.0,150624,,,A");
    // A course that rounds to 360.0 is sent as 000.0; a negative one wraps; speed is never < 0.
    expectRmc(fix(0.5, 0.5, -1, 359.97), "GP",
              "$GPRMC,180007.00,A,0030.0000,N,00030.0000,E,000.0,000.0,150624,,,A");
    expectRmc(fix(1, 179.5, 100.06, -90), "GP",
              "$GPRMC,180007.00,A,0100.0000,N,17930.0000,E,100.1,270.0,150624,,,A");
    expectRmc(fix(34, -119, 28, 13, false), "GP", "$GPRMC,180007.00,V,,,,,,,150624,,,N");
}

TEST(SimBearingLine, WrapsAndClamps) {
    struct Case {
        int relative;
        int quality;
        const char* expected;
    };
    const Case cases[] = {
        {0, 9, "%000/9"},  {7, 5, "%007/5"},    {359, 3, "%359/3"}, {360, 3, "%000/3"},
        {-1, 0, "%359/0"}, {725, 12, "%005/9"}, {45, -2, "%045/0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formatBearing(c.relative, c.quality), c.expected) << c.relative;
    }
}

TEST(SimClock, CountsDaysMonthsAndYears) {
    const std::int64_t start = *parseUtc("2024-02-28T23:59:59");
    struct Case {
        std::int64_t simMs;
        UtcTime expected;
    };
    const Case cases[] = {
        {0, {2024, 2, 28, 23, 59, 59, 0}},
        {1010, {2024, 2, 29, 0, 0, 0, 1}},       // leap day
        {86'401'000, {2024, 3, 1, 0, 0, 0, 0}},  // and on into March
        {366LL * 86'400'000 + 1000, {2025, 3, 1, 0, 0, 0, 0}},
        {999, {2024, 2, 28, 23, 59, 59, 99}},
    };
    for (const Case& c : cases) {
        const UtcTime t = utcAt(start, c.simMs);
        EXPECT_EQ(std::tie(t.year, t.month, t.day, t.hour, t.minute, t.second, t.centisecond),
                  std::tie(c.expected.year, c.expected.month, c.expected.day, c.expected.hour,
                           c.expected.minute, c.expected.second, c.expected.centisecond))
            << c.simMs;
    }
}

TEST(SimClock, ParsesOnlyRealTimes) {
    EXPECT_EQ(parseUtc("1970-01-01T00:00:00"), 0);
    EXPECT_EQ(parseUtc("2000-03-01 00:00:00Z"), 951868800);
    for (const char* bad : {"2023-02-29T00:00:00", "2024-04-31T00:00:00", "2024-06-15T24:00:00",
                            "2024-06-15T18:00", "2024-13-01T00:00:00", "2024-06-15X18:00:00",
                            "24-06-15T18:00:00", "2024-06-15T18:00:0a", ""}) {
        EXPECT_FALSE(parseUtc(bad).has_value()) << bad;
    }
}

}  // namespace
}  // namespace kestrel::sim
