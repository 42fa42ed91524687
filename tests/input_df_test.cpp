#include <gtest/gtest.h>

#include "input_test_support.h"

namespace kestrel::test {
namespace {

struct Bearing {
    std::string shown;
    std::string held;
    int16_t dfTimeout;
    int16_t bearing;
    bool operator==(const Bearing&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Bearing& b) {
    return os << b.shown << " held " << b.held << " DF_TIMEOUT " << b.dfTimeout << " BEARING "
              << b.bearing;
}

// AGRELLO_PARSE on a freshly framed bearing text (DF_TIMEOUT 10, BEARING 123 before).
Bearing parse(const char* source, int gpsTimeout, int speed, int course, const std::string& text) {
    InputRig rig("GPS", source);
    Form_Kestrelmap& f = rig.main();
    f.GPS_TIMEOUT = static_cast<int16_t>(gpsTimeout);
    f.SPEED = static_cast<int16_t>(speed);
    f.COURSE = static_cast<int16_t>(course);
    f.BEARING = 123;
    f.AGRELLO_STRING = text;
    f.DF_TIMEOUT = 10;
    f.AGRELLO_PARSE();
    return {shownBearing(f), heldBearing(f), f.DF_TIMEOUT, f.BEARING};
}

TEST(DfParse, TrueBearingOrWhyNone) {
    struct Case {
        const char* source;
        int gps, speed, course;
        std::string text;
        Bearing expected;
    };
    const Case cases[] = {
        {"MAN", 10, 20, 84, "300", {"000", "000", 10, 123}},  // manual: untouched
        {"DF", 0, 20, 84, "300", {"---", "000", 0, 123}},     // no fresh GPS
        {"DF", 10, 2, 84, "300", {"SPD", "000", 0, 123}},     // too slow
        {"DF", 10, 3, 84, "300", {"024", "024", 10, 24}},     // 384 wraps
        {"DF", 1, 3, 0, "000", {"000", "000", 10, 0}},
        {"DF", 10, 3, 200, "159", {"359", "359", 10, 359}},
        {"DF", 10, 3, 200, "160", {"000", "000", 10, 0}},
        {"DF", 10, 3, 359, "359", {"358", "358", 10, 358}},
        {"DF", 10, 3, 100, "12\r", {"112", "112", 10, 112}},
        {"DF", 10, 3, 100, " 7\r", {"107", "107", 10, 107}},
        {"DF", 10, 3, 100, "abc", {"100", "100", 10, 100}},  // no number reads as 0
        {"DF", 10, 3, 100, "1.5", {"102", "102", 10, 102}},
        {"DF", 10, 3, 100, "2.5", {"102", "102", 10, 102}},
        {"DF", 10, 3, 100, "0.5", {"100", "100", 10, 100}},
        {"DF", 10, 3, 400, "000", {"040", "040", 10, 40}},  // wrapped once, still a bearing
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parse(c.source, c.gps, c.speed, c.course, c.text), c.expected)
            << c.source << " course " << c.course << " text '" << c.text << "'";
    }
}

// Bearing text outside 000 to 359, or a sum that cannot be shown: dashes, stale at once.
TEST(DfParse, UnusableBearingsShowDashes) {
    const Bearing dashes{"---", "000", 0, 123};
    const std::string texts[] = {"-12",
                                 "+12",
                                 "-0",
                                 "360",
                                 "999",
                                 "1E2",
                                 "1e2",
                                 "1D2",
                                 "12E",
                                 "359.5",
                                 "99999999999999999999"};
    for (const std::string& text : texts) {
        EXPECT_EQ(parse("DF", 10, 20, 84, text), dashes) << text;
    }
    EXPECT_EQ(parse("DF", 10, 20, -5, "003"), dashes) << "negative course";
    EXPECT_EQ(parse("DF", 10, 20, 800, "000"), dashes) << "course far beyond a circle";
}

// From the line to the panel: a fix gives the course, the bearing line the relative bearing.
TEST(DfParse, BearingLineAfterAFix) {
    InputRig rig("GPS", "DF");
    rig.deliver(rmc("4807.038,N,01131.000,E,022.4,084.4") + "\r\n%300\r\n");
    EXPECT_EQ(shownBearing(rig.main()), "024");
    EXPECT_EQ(rig.main().DF_TIMEOUT, 10);
    rig.deliver("%-12\r\n");
    EXPECT_EQ(shownBearing(rig.main()), "---");
    EXPECT_EQ(rig.main().DF_TIMEOUT, 0);
}

}  // namespace
}  // namespace kestrel::test
