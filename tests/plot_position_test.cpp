// POSITION and ENDPOINT: the displayed digits to decimal degrees, and the offsets to the end
// of the bearing line.

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <string>

#include "fakes/fake_platform.h"
#include "plot_rig.h"

namespace kestrel {
namespace {

using test::FakeRig;
using test::readyToPlot;
using test::showBearing;
using test::showPosition;

struct PositionCase {
    const char* digits;  // DDMMmm DDDMMmm
    const char* latHemi;
    const char* longHemi;
    float latitude;
    float longitude;
};

void expectPosition(const PositionCase& c) {
    FakeRig rig;
    auto& f = rig.main();
    showPosition(f, c.digits, c.latHemi, c.longHemi);
    f.POSITION();
    EXPECT_EQ(f.GOOGLE_LATITUDE_DEGREES, c.latitude) << c.digits << ' ' << c.latHemi;
    EXPECT_EQ(f.GOOGLE_LONGITUDE_DEGREES, c.longitude) << c.digits << ' ' << c.longHemi;
}

TEST(Position, DigitsToSignedDecimalDegrees) {
    const PositionCase cases[] = {
        {"0000000000000", "N", "E", 0.0f, 0.0f},
        {"3944501045925", "N", "W", 39.741665f, -104.9875f},
        {"3944501045925", "S", "E", -39.741665f, 104.9875f},
        {"3944501045925", "s", "w", 39.741665f, 104.9875f},  // exact, case-sensitive tests
        {"3944501045925", "", "", 39.741665f, 104.9875f},
        {"9999999999999", "N", "E", 100.6665f, 1000.6665f},  // no range check
        {"", "N", "E", 0.0f, 0.0f},                          // empty tags read as 0
        {"0000010000001", "N", "E", static_cast<float>(0.01 / 60), static_cast<float>(0.01 / 60)},
    };
    for (const PositionCase& c : cases) {
        expectPosition(c);
    }
    // The single nearest 39.7416667.
    EXPECT_EQ(39.741665f, static_cast<float>(39.7416667));
}

TEST(Position, ValueUnderADashCountsAndNonDigitsReadAsZero) {
    FakeRig rig;
    auto& f = rig.main();
    showPosition(f, "3944501045925", "N", "W");
    f.Picture_LAT_DEGX10.glyph = Glyph::Dash;  // the register keeps its "3"
    f.Picture_LAT_DEGX1.Tag = "-";
    f.POSITION();
    EXPECT_EQ(f.GOOGLE_LATITUDE_DEGREES, static_cast<float>(30 + 44.5 / 60));
}

// A value compared with a printed figure to the digits printed (seven significant ones).
std::string sevenDigits(double value) {
    char buf[32];
    value += 0.0;  // -0 reads as 0
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 7);
    return std::string(buf, r.ptr);
}

struct EndpointCase {
    const char* bearing;
    const char* range;
    const char* dfSource;
    int16_t dfTimeout;
    double deltaLatitude;  // printed figures
    double deltaLongitude;
};

void expectEndpoint(const EndpointCase& c, float latitude = 39.741665f) {
    FakeRig rig;
    auto& f = rig.main();
    readyToPlot(f);
    showBearing(f, c.bearing);
    f.CmdButton_RANGE.Tag = c.range;
    f.CmdButton_DF_SOURCE.Tag = c.dfSource;
    f.DF_TIMEOUT = c.dfTimeout;
    f.GOOGLE_LATITUDE_DEGREES = latitude;
    f.ENDPOINT();
    const std::string what = std::string("bearing ") + c.bearing + " range " + c.range + " " +
                             c.dfSource + " latitude " + std::to_string(latitude);
    EXPECT_EQ(sevenDigits(f.DELTA_LATITUDE), sevenDigits(c.deltaLatitude)) << what;
    EXPECT_EQ(sevenDigits(f.DELTA_LONGITUDE), sevenDigits(c.deltaLongitude)) << what;
}

TEST(Endpoint, OffsetsAtFiveMilesFromLatitude39) {
    const EndpointCase cases[] = {
        {"000", "5", "MAN", 0, 0.07233796, 0.000004358312},
        {"045", "5", "MAN", 0, 0.05114948, 0.06652442},
        {"090", "5", "MAN", 0, 0, 0.09407756},
        {"180", "5", "MAN", 0, -0.07233796, -0.00001307494},
        {"270", "5", "MAN", 0, 0.000006702372, -0.09407756},
        {"045", "5", "DF", 10, 0.05114948, 0.06652442},   // a current received bearing
        {"450", "5", "MAN", 0, 0, 0.09407756},            // above 359: one turn added back
        {"999", "5", "MAN", 0, 0.01129596, -0.09292348},  // ... only once
    };
    for (const EndpointCase& c : cases) {
        expectEndpoint(c);
    }
}

TEST(Endpoint, NoLineWithoutRangeOrCurrentBearing) {
    const EndpointCase cases[] = {
        {"045", "0", "MAN", 0, 0, 0}, {"270", "0", "DF", 10, 0, 0},
        {"045", "5", "DF", 0, 0, 0},  {"045", "5", "DF", -3, 0, 0},
        {"045", "", "MAN", 0, 0, 0},  {"045", "5", "man", 0, 0, 0},  // "man" is not "MAN"
    };
    for (const EndpointCase& c : cases) {
        expectEndpoint(c);
    }
}

TEST(Endpoint, AtThePolesTheOffsetStaysFinite) {
    // Exactly 90 north: no east-west extent. 90 south: 6.283 is short of a turn, so the
    // divisor is 0.0000927 and the offset large but finite.
    expectEndpoint({"000", "5", "MAN", 0, 0.07233796, 0}, 90.0f);
    expectEndpoint({"090", "5", "MAN", 0, 0, 0}, 90.0f);
    expectEndpoint({"090", "5", "MAN", 0, 0, 780.7357}, -90.0f);
}

}  // namespace
}  // namespace kestrel
