// The generated drive as the program would receive it: the sentences parsed back, the
// bearings checked against the geometry, the stops, and determinism for a seed.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "kestrel-sim/command_line.h"
#include "kestrel-sim/runner.h"
#include "kestrel-sim/sentences.h"
#include "sim_test_support.h"

namespace kestrel::sim {
namespace {

using test::drive;
using test::eventsUntil;

std::string bytesOf(const GeneratorSettings& g, ScheduleSettings s) {
    Scheduler scheduler(std::make_unique<GeneratedSource>(g), s);
    StringSink sink;
    RunSettings fast;
    fast.paced = false;
    runSimulation(scheduler, sink, fast);
    return sink.bytes();
}

std::vector<std::string> fields(const std::string& sentence) {
    std::vector<std::string> out(1);
    for (char c : sentence.substr(0, sentence.find('*'))) {
        if (c == ',') {
            out.emplace_back();
        } else {
            out.back() += c;
        }
    }
    return out;
}

// ddmm.mmmm / dddmm.mmmm and the hemisphere back to signed degrees.
double coordinate(const std::string& field, const std::string& hemi, int degreeDigits) {
    const double v =
        std::stoi(field.substr(0, degreeDigits)) + std::stod(field.substr(degreeDigits)) / 60;
    return hemi == "S" || hemi == "W" ? -v : v;
}

TEST(SimDrive, RmcSentencesParseBackToTheVehicle) {
    for (const char* talker : {"GP", "GN"}) {
        GeneratorSettings g = drive(7);
        g.talker = talker;
        std::int64_t expectedMs = 0;
        for (const SimEvent& e : eventsUntil(g, 600'000)) {
            if (e.lineKind != LineKind::Rmc) {
                continue;
            }
            ASSERT_TRUE(checksumMatches(e.text)) << e.text;
            const std::vector<std::string> f = fields(e.text);
            ASSERT_EQ(f.size(), 13u) << e.text;
            EXPECT_EQ(f[0], std::string("$") + talker + "RMC");
            EXPECT_EQ(e.atMs, expectedMs);
            expectedMs += 1000;
            const UtcTime t = utcAt(g.startEpochSeconds, e.atMs);
            char hms[16];
            std::snprintf(hms, sizeof hms, "%02d%02d%02d.00", t.hour, t.minute, t.second);
            EXPECT_EQ(f[1], hms);
            EXPECT_EQ(f[9], "150624");
            EXPECT_EQ(f[2], "A");
            EXPECT_NEAR(coordinate(f[3], f[4], 2), e.vehicle.position.latDeg, 1e-6);
            EXPECT_NEAR(coordinate(f[5], f[6], 3), e.vehicle.position.lonDeg, 1e-6);
            EXPECT_NEAR(std::stod(f[8]), e.vehicle.headingDeg, 0.051 + (f[8] == "000.0" ? 360 : 0));
            if (e.vehicle.speedKnots >= 0.3) {
                EXPECT_NEAR(std::stod(f[7]), e.vehicle.speedKnots, 0.051);
            }
        }
        EXPECT_EQ(expectedMs, 600'000);
    }
}

// The direction finder's relative bearing plus the heading its antennas point by (the
// vehicle's of a moment before) is the bearing to the transmitter, within the clipped noise
// and the rounding to a whole degree; on straight runs the noise is as asked for.
TEST(SimDrive, BearingPlusCourseIsTheBearingToTheTransmitter) {
    struct Case {
        std::uint64_t seed;
        double noiseDeg;
        double wildPercent;
        bool turnLag;
    };
    const Case cases[] = {
        {1, 3, 2, true}, {2, 0, 0, true}, {3, 1, 10, true}, {4, 8, 0, true}, {1, 3, 2, false}};
    for (const Case& c : cases) {
        GeneratorSettings g = drive(c.seed);
        g.dfNoiseDeg = c.noiseDeg;
        g.dfWildPercent = c.wildPercent;
        g.turnLag = c.turnLag;
        int bearings = 0, wild = 0, straight = 0;
        double sumSq = 0;
        std::int64_t lastMs = -1;
        for (const SimEvent& e : eventsUntil(g, 1'200'000)) {
            if (e.lineKind != LineKind::Bearing) {
                continue;
            }
            ASSERT_EQ(e.text.size(), 6u);
            ASSERT_EQ(e.text[0], '%');
            ASSERT_EQ(e.text[4], '/');
            const int relative = std::stoi(e.text.substr(1, 3));
            const int quality = e.text[5] - '0';
            ASSERT_TRUE(relative >= 0 && relative <= 359) << e.text;
            if (lastMs >= 0) {
                EXPECT_TRUE(e.atMs - lastMs >= 250 && e.atMs - lastMs <= 330);
            }
            lastMs = e.atMs;
            ++bearings;
            if (e.wild) {
                ++wild;
                EXPECT_LE(quality, 2);
                continue;
            }
            EXPECT_GE(quality, 3);
            if (!c.turnLag) {
                EXPECT_EQ(e.antennaHeadingDeg, e.vehicle.headingDeg);
            }
            const double err = angleDifference(e.trueBearingDeg, relative + e.antennaHeadingDeg);
            EXPECT_LE(std::abs(err), 3.5 * e.noiseSigmaDeg + 0.5)
                << "seed " << c.seed << " " << e.text;
            if (e.noiseSigmaDeg == c.noiseDeg) {
                ++straight;
                sumSq += err * err;
            }
        }
        // 3 to 4 lines a second; the wild share and the spread as asked for.
        EXPECT_GT(bearings, 1200 * 3);
        EXPECT_LT(bearings, 1200 * 4);
        EXPECT_NEAR(100.0 * wild / bearings, c.wildPercent, 1.0 + c.wildPercent / 4);
        EXPECT_GT(straight, (bearings - wild) * 3 / 4);
        const double rms = std::sqrt(sumSq / straight);
        EXPECT_NEAR(rms, std::max(c.noiseDeg, 0.29), 0.2 + c.noiseDeg * 0.1) << "seed " << c.seed;
    }
}

// Each stop brings the reported speed below 3 knots (S P D) for at least its standing time;
// braking begins at the stop time unless a turn is under way.
TEST(SimDrive, StopsShowBelowThreeKnots) {
    struct Case {
        std::int64_t firstMs, everyMs, forMs;
        std::vector<std::int64_t> expectedStartsMs;
    };
    const Case cases[] = {
        {40'000, 180'000, 12'000, {40'000, 220'000, 400'000}},
        {0, kNever, 5'000, {0}},
        {90'000, 100'000, 20'000, {90'000, 190'000, 290'000, 390'000}},
        {kNever, kNever, 12'000, {}},
    };
    for (const Case& c : cases) {
        for (std::uint64_t seed : {1, 2, 3}) {
            GeneratorSettings g = drive(seed);
            g.route.firstStopMs = c.firstMs;
            g.route.stopEveryMs = c.everyMs;
            g.route.stopForMs = c.forMs;
            std::vector<std::pair<std::int64_t, std::int64_t>> slowRuns;  // [first, last] ms
            for (const SimEvent& e : eventsUntil(g, 480'000)) {
                if (e.lineKind != LineKind::Rmc) {
                    continue;
                }
                if (std::stod(fields(e.text)[7]) < 3.0) {
                    if (!slowRuns.empty() && slowRuns.back().second == e.atMs - 1000) {
                        slowRuns.back().second = e.atMs;
                    } else {
                        slowRuns.emplace_back(e.atMs, e.atMs);
                    }
                }
            }
            ASSERT_EQ(slowRuns.size(), c.expectedStartsMs.size()) << "seed " << seed;
            for (std::size_t i = 0; i < slowRuns.size(); ++i) {
                const std::int64_t wanted = c.expectedStartsMs[i];
                // Braking from cruise speed takes up to 10 s; a turn may delay it by 17 s.
                EXPECT_GE(slowRuns[i].first, wanted) << "seed " << seed;
                EXPECT_LE(slowRuns[i].first, wanted + 28'000) << "seed " << seed;
                EXPECT_GE(slowRuns[i].second - slowRuns[i].first, c.forMs) << "seed " << seed;
            }
        }
    }
}

TEST(SimDrive, StaysNearTheStartAndAwayFromTheTransmitter) {
    for (std::uint64_t seed = 1; seed <= 5; ++seed) {
        GeneratorSettings g = drive(seed);
        double farthest = 0, nearestTx = 1e9;
        int turningSeconds = 0;
        double lastHeading = -1;
        for (const SimEvent& e : eventsUntil(g, 3'600'000)) {
            if (e.lineKind != LineKind::Rmc) {
                continue;
            }
            farthest = std::max(farthest, distanceMiles(g.route.start, e.vehicle.position));
            nearestTx = std::min(nearestTx, distanceMiles(g.transmitter, e.vehicle.position));
            if (lastHeading >= 0 &&
                std::abs(angleDifference(lastHeading, e.vehicle.headingDeg)) > 1) {
                ++turningSeconds;
            }
            lastHeading = e.vehicle.headingDeg;
        }
        EXPECT_LT(farthest, g.route.roamMiles + 0.6) << "seed " << seed;
        EXPECT_GT(nearestTx, 0.5) << "seed " << seed;
        EXPECT_GT(turningSeconds, 120) << "seed " << seed;
    }
}

TEST(SimDrive, TheSameSeedGivesTheSameBytes) {
    GeneratorSettings g = drive(11);
    g.plotEveryMs = 7000;
    g.garbageMeanMs = 5000;
    ScheduleSettings s;
    s.durationMs = 300'000;
    s.cablePull = {60'000, 5'000};
    const std::string a = bytesOf(g, s);
    EXPECT_EQ(a, bytesOf(g, s));
    EXPECT_GT(a.size(), 30'000u);
    g.route.seed = 12;
    EXPECT_NE(a, bytesOf(g, s));
}

// Each feature draws from its own random stream: garbage, remote plots and the Kraken leave
// the GPS and bearing lines exactly as they were.
TEST(SimDrive, ExtrasDoNotDisturbTheInstruments) {
    const auto instrumentLines = [](const GeneratorSettings& g) {
        std::string out;
        for (const SimEvent& e : eventsUntil(g, 120'000)) {
            if (e.lineKind == LineKind::Rmc || e.lineKind == LineKind::Bearing) {
                out += e.text + "\n";
            }
        }
        return out;
    };
    GeneratorSettings plain = drive(5);
    GeneratorSettings busy = plain;
    busy.plotEveryMs = 3000;
    busy.garbageMeanMs = 2000;
    busy.kraken.on = true;
    busy.kraken.secondFrequencyHz = 146'550'000;
    EXPECT_EQ(instrumentLines(plain), instrumentLines(busy));
}

TEST(SimDrive, GarbageNeverFormsALineTheProgramLooksFor) {
    Random random(3, 9);
    std::map<std::size_t, int> lengths;
    for (int i = 0; i < 2000; ++i) {
        const std::string burst = GeneratedSource::garbageBurst(random);
        ASSERT_EQ(burst.find_first_of("\r\n$%@"), std::string::npos);
        ++lengths[burst.size()];
    }
    EXPECT_EQ(lengths.begin()->first, 8u);
    EXPECT_EQ(lengths.rbegin()->first, 120u);
}

TEST(SimDrive, GpsLosesItsFixInItsWindows) {
    GeneratorSettings g = drive(1);
    g.gpsVoid = {30'000, 10'000};
    for (const SimEvent& e : eventsUntil(g, 100'000)) {
        if (e.lineKind == LineKind::Rmc) {
            const bool voidWanted = (e.atMs >= 30'000 && e.atMs < 40'000) ||
                                    (e.atMs >= 60'000 && e.atMs < 70'000) || e.atMs >= 90'000;
            EXPECT_EQ(fields(e.text)[2], voidWanted ? "V" : "A") << e.atMs;
            EXPECT_TRUE(checksumMatches(e.text));
        }
    }
}

}  // namespace
}  // namespace kestrel::sim
