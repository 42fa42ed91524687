// The fix estimate on hand-made hunts: exact bearings, the frame's hard places (antimeridian,
// pole), the reasons for showing nothing, and the rejection of a wild bearing.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <GeographicLib/Geodesic.hpp>

#include "estimate/estimator.h"
#include "estimate_sim.h"

namespace kestrel::estimate {
namespace {

const GeographicLib::Geodesic& earth() {
    return GeographicLib::Geodesic::WGS84();
}

double distanceM(double lat1, double lon1, double lat2, double lon2) {
    double s = 0;
    earth().Inverse(lat1, lon1, lat2, lon2, s);
    return s;
}

// Plots at (distance m, azimuth deg from the transmitter), each bearing exact plus `turnDeg`.
std::vector<Bearing> around(double txLat, double txLon,
                            const std::vector<std::pair<double, double>>& at, double turnDeg = 0) {
    std::vector<Bearing> out;
    for (const auto& [distance, azimuth] : at) {
        double lat = 0, lon = 0, azi = 0, back = 0;
        earth().Direct(txLat, txLon, azimuth, distance, lat, lon);
        earth().Inverse(lat, lon, txLat, txLon, azi, back);
        out.push_back({static_cast<int>(out.size()) + 1, lat, lon, azi + turnDeg, std::nullopt});
    }
    return out;
}

// Eight plots on a 3 to 5 km ring all round.
const std::vector<std::pair<double, double>> kRing = {{3000, 10},  {4000, 55},  {5000, 100},
                                                      {3500, 150}, {4500, 200}, {3000, 250},
                                                      {5000, 290}, {4000, 330}};

struct Place {
    const char* name;
    double lat, lon;
};

const Place kPlaces[] = {
    {"mid-latitude", 39.74, -104.99},
    {"southern", -33.9, 151.2},
    {"equator", 0, 0},
    {"antimeridian", 65.0, 179.99},
    {"antimeridian west", -10, -179.995},
    {"near the pole", 89.95, 30},
    {"on the pole", 90, 0},
};

TEST(EstimateFix, ExactBearingsGiveTheTransmitter) {
    for (const Place& place : kPlaces) {
        const Estimate e = estimateFix(around(place.lat, place.lon, kRing));
        ASSERT_TRUE(e.shown) << place.name << ": " << e.reason;
        EXPECT_LT(distanceM(e.latitudeDeg, e.longitudeDeg, place.lat, place.lon), 1.0)
            << place.name;
        EXPECT_EQ(e.used, 8) << place.name;
        EXPECT_TRUE(e.provisional) << place.name;
    }
}

// The ring's first vertex lies one semi-major axis from the fix along the major axis, and the
// quarter-way vertex one semi-minor axis across: the projection and its convergence agree.
TEST(EstimateFix, EllipseRingFollowsItsAxesEverywhere) {
    for (const Place& place : kPlaces) {
        sim::Random random(7);
        std::vector<Bearing> bearings = around(place.lat, place.lon, kRing);
        for (Bearing& b : bearings) {
            b.bearingDeg += 3 * random.normal();
        }
        const Estimate e = estimateFix(bearings);
        ASSERT_TRUE(e.shown) << place.name << ": " << e.reason;
        ASSERT_EQ(e.ellipse95.size(), 73u) << place.name;
        EXPECT_EQ(e.ellipse95.front(), e.ellipse95.back()) << place.name;
        double s = 0, azi = 0, back = 0;
        earth().Inverse(e.latitudeDeg, e.longitudeDeg, e.ellipse95[0].first, e.ellipse95[0].second,
                        s, azi, back);
        EXPECT_NEAR(s, e.semiMajorM, 0.01 * e.semiMajorM) << place.name;
        const double off = std::remainder(azi - e.majorAzimuthDeg, 180.0);
        EXPECT_NEAR(off, 0, 0.5) << place.name;
        EXPECT_NEAR(
            distanceM(e.latitudeDeg, e.longitudeDeg, e.ellipse95[18].first, e.ellipse95[18].second),
            e.semiMinorM, 0.01 * e.semiMinorM)
            << place.name;
        EXPECT_GT(e.semiMajorM, e.sigma1MajorM * 2.4) << place.name;
    }
}

// Noisy bearings, so that the answer rests on every bearing: reversing the order or adding
// whole turns to the bearings moves the fix by nothing measurable.
TEST(EstimateFix, OrderAndWholeTurnsChangeNothing) {
    const sim::Scenario loop{"L300", sim::Route::Loop, 300, 7, 0.15};
    for (int plots : {12, 40, 99}) {
        const sim::Hunt hunt = sim::makeHunt(loop, 11, plots);
        const Estimate base = estimateFix(hunt.bearings);
        ASSERT_TRUE(base.computed) << plots << ": " << base.reason;
        std::vector<Bearing> changed(hunt.bearings.rbegin(), hunt.bearings.rend());
        for (size_t i = 0; i < changed.size(); ++i) {
            changed[i].bearingDeg += (i % 3 == 0) ? 360 : (i % 3 == 1 ? -720 : 0);
        }
        const Estimate e = estimateFix(changed);
        EXPECT_LT(distanceM(e.latitudeDeg, e.longitudeDeg, base.latitudeDeg, base.longitudeDeg),
                  0.01)
            << plots;
        EXPECT_NEAR(e.semiMajorM, base.semiMajorM, 0.01) << plots;
        std::vector<int> rejected = e.rejectedIds;
        std::sort(rejected.begin(), rejected.end());
        EXPECT_EQ(rejected, base.rejectedIds) << plots;
    }
}

std::vector<Bearing> withQuality(std::vector<Bearing> bearings, size_t index, int quality) {
    bearings[index].quality = quality;
    return bearings;
}

TEST(EstimateFix, NoEstimateSaysWhy) {
    const double lat = 48.1, lon = 11.6;
    std::vector<Bearing> parallel;
    parallel.reserve(8);
    for (int i = 0; i < 8; ++i) {
        parallel.push_back({i + 1, lat + i * 0.01, lon, 90.0 + 0.5 * (i % 2), std::nullopt});
    }
    std::vector<Bearing> nan = around(lat, lon, kRing);
    nan[0].latitudeDeg = NAN;
    nan[1].bearingDeg = INFINITY;
    nan[2].latitudeDeg = 95;
    nan[3].quality = 0;
    struct Case {
        const char* name;
        std::vector<Bearing> bearings;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"none", {}, "0 plots; 5 needed"},
        {"four", around(lat, lon, {{3000, 0}, {3000, 90}, {3000, 180}, {3000, 270}}),
         "4 plots; 5 needed"},
        {"quality 0 leaves four",
         withQuality(
             around(lat, lon, {{3000, 0}, {3000, 72}, {3000, 144}, {3000, 216}, {3000, 288}}), 2,
             0),
         "4 plots; 5 needed"},
        {"impossible values leave four", nan, "4 plots; 5 needed"},
        {"parallel", parallel, "the bearings are nearly parallel"},
        {"pointing away", around(lat, lon, kRing, 180), "the fix lies behind"},
        {"plots across the world",
         around(0, 0, {{3000, 0}, {3000, 90}, {9e6, 180}, {3000, 270}, {9e6, 45}}),
         "the plots are too far apart"},
    };
    for (const Case& c : cases) {
        const Estimate e = estimateFix(c.bearings);
        EXPECT_FALSE(e.shown) << c.name;
        EXPECT_EQ(e.reason, c.reason) << c.name;
        ASSERT_EQ(e.usedFlags.size(), c.bearings.size()) << c.name;
    }
    // Nothing computed: every verdict stays "used" but for quality 0 and impossible values.
    EXPECT_EQ(estimateFix(cases[2].bearings).rejectedIds, std::vector<int>{3});
    EXPECT_EQ(estimateFix(nan).rejectedIds, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(estimateFix(parallel).rejectedIds, std::vector<int>{});
}

TEST(EstimateFix, WildBearingIsRejectedAndNamed) {
    std::vector<std::pair<double, double>> ten = kRing;
    ten.insert(ten.end(), {{2500, 80}, {6000, 220}});
    for (size_t wild = 0; wild < ten.size(); wild += 3) {
        std::vector<Bearing> bearings = around(-20, 140, ten);
        bearings[wild].bearingDeg += 90;
        const Estimate e = estimateFix(bearings);
        ASSERT_TRUE(e.shown) << wild << ": " << e.reason;
        EXPECT_EQ(e.rejectedIds, std::vector<int>{static_cast<int>(wild) + 1}) << wild;
        EXPECT_FALSE(e.usedFlags[wild]) << wild;
        EXPECT_EQ(e.used, 9) << wild;
        EXPECT_LT(distanceM(e.latitudeDeg, e.longitudeDeg, -20, 140), 1.0) << wild;
    }
}

// At the transmitter the plots stand within the GPS error of it. The fix must still show, and
// its ellipse must not claim more than the GPS allows: the error all plots share moves the fix
// with it, however many bearings there are.
TEST(EstimateFix, AtTheTransmitterTheFixShowsWithTheGpsError) {
    const double lat = 51.5, lon = -0.12;
    struct Case {
        const char* name;
        std::vector<std::pair<double, double>> at;  // where the car stood, metres and azimuth
        double shiftM;  // the GPS error all plots share: each moved north this far
    };
    const std::vector<Case> cases = {
        {"stopping beside it", {{32, 0}, {25, 60}, {40, 110}, {28, 170}, {35, 230}, {30, 300}}, 0},
        {"walking round it, GPS off",
         {{20, 10}, {35, 80}, {25, 150}, {30, 220}, {22, 290}, {28, 330}},
         9},
        {"last plots of an approach",
         {{800, 0}, {600, 15}, {400, 30}, {250, 50}, {120, 80}, {60, 120}, {30, 160}},
         6},
    };
    for (const Case& c : cases) {
        std::vector<Bearing> bearings = around(lat, lon, c.at);
        for (size_t i = 0; i < bearings.size(); ++i) {
            // The shared error moves every plot north; each also wanders 4 m east or west.
            Bearing& b = bearings[i];
            earth().Direct(b.latitudeDeg, b.longitudeDeg, 0, c.shiftM, b.latitudeDeg,
                           b.longitudeDeg);
            earth().Direct(b.latitudeDeg, b.longitudeDeg, i % 2 == 0 ? 90 : 270, 4, b.latitudeDeg,
                           b.longitudeDeg);
        }
        const Estimate e = estimateFix(bearings);
        ASSERT_TRUE(e.shown) << c.name << ": " << e.reason << " " << e.semiMajorM << " x "
                             << e.semiMinorM;
        const double errorM = distanceM(e.latitudeDeg, e.longitudeDeg, lat, lon);
        EXPECT_LT(errorM, 25) << c.name;
        EXPECT_LT(errorM, e.semiMajorM) << c.name;
        // Half of 15 m per axis is shared: 2.45 x 7.5 m at the least.
        EXPECT_GE(e.semiMinorM, 18) << c.name;
        EXPECT_LT(e.semiMajorM, 100) << c.name;
    }
}

}  // namespace
}  // namespace kestrel::estimate
