#include <gtest/gtest.h>

#include "input_test_support.h"

namespace kestrel::test {
namespace {

std::string readText(const std::string& sentence) {
    const std::optional<HeadingReading> r = readHeading(sentence);
    return r ? std::to_string(r->trueDegrees) + " " + r->from : "none";
}

TEST(Heading, SentencesGiveATrueHeadingOrNone) {
    struct Case {
        std::string sentence;
        std::string expected;
    };
    const Case cases[] = {
        {"$HEHDT,123.4,T", "123 HDT"},
        {withChecksum("$GPHDT,090.5,T"), "90 HDT"},  // half to even
        {withChecksum("$GPHDT,091.5,T"), "92 HDT"},
        {"$HEHDT,359.7,T", "0 HDT"},
        {"$HEHDT,360,T", "0 HDT"},
        {"$HEHDT,360.1,T", "none"},
        {"$HEHDT,,T", "none"},
        {"$HEHDT,-12,T", "none"},
        {"$HEHDT,12x,T", "none"},
        {"$HEHDT,123.4,M", "none"},
        {"$HEHDT,123.4", "none"},
        {"$HEHDT,123.4,T*00", "none"},  // checksum present and wrong
        {"$hehdt,123.4,T", "none"},
        {"$HCHDG,100.0,,,5.0,E", "105 HDG"},
        {"$HCHDG,100.0,,,5.0,W", "95 HDG"},
        {"$HCHDG,358.0,,,5.0,E", "3 HDG"},
        {"$HCHDG,2.0,,,5.0,W", "357 HDG"},
        {"$HCHDG,100.0,2.0,E,5.0,W", "97 HDG"},  // deviation then variation
        {"$HCHDG,100.0,2.0,W,5.0,W", "93 HDG"},
        {withChecksum("$HCHDG,100.0,,,5.0,E"), "105 HDG"},
        {"$HCHDG,100.0,,,,", "none"},  // no variation: magnetic only, unusable
        {"$HCHDG,100.0,,,5.0,", "none"},
        {"$HCHDG,100.0,,,5.0,X", "none"},
        {"$HCHDG,100.0,2.0,,5.0,E", "none"},
        {"$HCHDG,100.0,,,181,E", "none"},
        {"$HCHDG,100.0,,,5.0,E,extra", "none"},
        {"$GPRMC,123.4,T", "none"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(readText(c.sentence), c.expected) << c.sentence;
    }
}

// The bearing registers after a bearing line "%<relative>", with a heading sentence that
// arrived `headingAgeMs` before (none when empty) and the GPS as given.
struct Situation {
    std::string heading;  // a heading sentence, or empty
    int64_t headingAgeMs = 0;
    int gpsTimeout = 10;
    int speed = 10;
    int course = 40;
};

std::string bearingAfter(const Situation& s, int relative, std::string* headingFrom = nullptr) {
    InputRig rig("GPS", "DF");
    Form_Kestrelmap& f = rig.main();
    if (!s.heading.empty()) {
        rig.deliver(s.heading + "\r\n");
        rig.clock.utcMs += s.headingAgeMs;
    }
    f.GPS_TIMEOUT = static_cast<int16_t>(s.gpsTimeout);
    f.SPEED = static_cast<int16_t>(s.speed);
    f.COURSE = static_cast<int16_t>(s.course);
    rig.deliver("%" + std::to_string(relative) + "/5\r\n");
    if (headingFrom != nullptr) {
        *headingFrom = f.lastHeadingFrom;
    }
    return shownBearing(f);
}

TEST(Heading, AFreshHeadingTakesThePlaceOfTheCourse) {
    struct Case {
        const char* name;
        Situation situation;
        std::string expected;
        std::string from;
    };
    const std::string hdt = "$HEHDT,200.0,T";
    const std::string hdg = "$HCHDG,190.0,,,10.0,E";
    const Case cases[] = {
        {"no heading: course", {}, "050", "COG"},
        {"fresh HDT", {hdt, 0}, "210", "HDT"},
        {"HDT 2 s old is still fresh", {hdt, 2000}, "210", "HDT"},
        {"HDT older than 2 s: course", {hdt, 2001}, "050", "COG"},
        {"clock went back: course", {hdt, -1}, "050", "COG"},
        {"fresh HDG with variation", {hdg, 500}, "210", "HDG"},
        {"standing still, no heading", {"", 0, 10, 1}, "SPD", "COG"},
        {"standing still, fresh heading", {hdt, 100, 10, 0}, "210", "HDT"},
        {"standing still, stale heading", {hdt, 3000, 10, 0}, "SPD", "COG"},
        {"GPS silent, fresh heading", {hdt, 100, 0, 0}, "210", "HDT"},
        {"GPS silent, no heading", {"", 0, 0, 0}, "---", "COG"},
        {"bad checksum is no heading", {hdt + "*00", 0}, "050", "COG"},
        {"HDG without variation is no heading", {"$HCHDG,190.0,,,,", 0}, "050", "COG"},
    };
    for (const Case& c : cases) {
        std::string from;
        EXPECT_EQ(bearingAfter(c.situation, 10, &from), c.expected) << c.name;
        if (c.expected != "SPD" && c.expected != "---") {
            EXPECT_EQ(from, c.from) << c.name;
        }
    }
}

TEST(Heading, PlotRecordSaysWhatTurnedTheBearing) {
    struct Recorder : HuntObserver {
        void plotMade(const PlotRecord& plot) override { from.push_back(plot.headingFrom); }
        std::vector<std::string> from;
    };
    InputRig rig("GPS", "DF");
    Recorder recorder;
    rig.main().addObserver(recorder);
    rig.main().CmdButton_RANGE.Tag = "1";
    rig.deliver(withChecksum(rmc("4807.038,N,01131.000,E,10,40")) + "\r\n%010/5\r\n@PLOT\r\n");
    rig.main().Timer_BLINK_Timer();
    rig.deliver("$HEHDT,100,T\r\n%010/5\r\n@PLOT\r\n");
    rig.main().Timer_BLINK_Timer();
    rig.deliver("$HCHDG,90,,,10,E\r\n%010/5\r\n@PLOT\r\n");
    EXPECT_EQ(recorder.from, (std::vector<std::string>{"COG", "HDT", "HDG"}));
}

}  // namespace
}  // namespace kestrel::test
