#include <gtest/gtest.h>

#include "input_test_support.h"

namespace kestrel::test {
namespace {

struct Shown {
    std::string position;
    int16_t speed;
    int16_t course;
};

// The panel after one valid RMC sentence with these fields, the position following the GPS.
Shown afterFix(const std::string& fields) {
    InputRig rig("GPS");
    Form_Kestrelmap& f = rig.deliver(rmc(fields) + "\r\n");
    EXPECT_EQ(f.GPS_TIMEOUT, 10) << fields;
    // Every digit written shows what its register holds.
    std::string shownDigits = shownPosition(f);
    shownDigits.erase(0, 1);
    shownDigits.erase(shownDigits.find(' ') + 1, 1);
    EXPECT_EQ(shownDigits, heldPosition(f)) << fields;
    return {shownPosition(f), f.SPEED, f.COURSE};
}

void expectFix(const std::string& fields, const std::string& position, int speed, int course) {
    const Shown shown = afterFix(fields);
    EXPECT_EQ(shown.position, position) << fields;
    EXPECT_EQ(shown.speed, speed) << fields;
    EXPECT_EQ(shown.course, course) << fields;
}

TEST(RmcParse, ValidFixesAsShown) {
    // The worked example, then the rounding of minutes (exact, halves to even).
    expectFix("4807.038,N,01131.000,E,022.4,084.4", "N4807.04 E01131.00", 22, 84);
    expectFix("4807.10,N,01131.000,E,022.4,084.4", "N4807.10 E01131.00", 22, 84);
    expectFix("4807.125,N,01131.000,E,022.4,084.4", "N4807.12 E01131.00", 22, 84);
    expectFix("4807.135,N,01131.000,E,022.4,084.4", "N4807.14 E01131.00", 22, 84);
    expectFix("4807.1250001,N,01131.005,E,022.4,084.4", "N4807.13 E01131.00", 22, 84);
    expectFix("4807.015,N,01131.4449999,E,022.4,084.4", "N4807.02 E01131.44", 22, 84);
    // Three-digit longitudes, speed and course truncated.
    expectFix("3944.500,N,10459.250,W,2.9,359.9", "N3944.50 W10459.25", 2, 359);
    expectFix("0000.000,S,17930.000,W,0,0", "S0000.00 W17930.00", 0, 0);
    expectFix("4807.038,N,01131.000,E,-1.5,,", "N4807.04 E01131.00", -1, 0);
    // Degrees only: the minutes read as 0.
    expectFix("48,N,011,E,5,6", "N4800.00 E01100.00", 5, 6);
}

TEST(RmcParse, HemisphereLetters) {
    expectFix("4807.038,n,01131.000,e,022.4,084.4", "N4807.04 E01131.00", 22, 84);
    expectFix("4807.038,S,01131.000,W,022.4,084.4", "S4807.04 W01131.00", 22, 84);
    expectFix("4807.038, ,01131.000, ,022.4,084.4", "S4807.04 W01131.00", 22, 84);
    expectFix("4807.038,x,01131.000,Q,022.4,084.4", "S4807.04 W01131.00", 22, 84);
    // An empty N/S field: the longitude is read one character late (its first digit lost).
    expectFix("4807.038,,01131.000,E,022.4,084.4", "S4807.04 E11301.00", 22, 84);
}

TEST(RmcParse, MinutesCarryAndTheEdgesOfThePanel) {
    expectFix("4859.996,N,01159.995,E,5,6", "N4900.00 E01200.00", 5, 6);
    expectFix("4859.994,N,01159.985,E,5,6", "N4859.99 E01159.98", 5, 6);
    expectFix("8959.996,N,17959.9951,W,5,6", "N8959.99 W17959.99", 5, 6);
    expectFix("9000.000,S,18000.000,E,5,6", "S8959.99 E17959.99", 5, 6);
    expectFix("9959.000,N,99900.000,E,5,6", "N8959.99 E17959.99", 5, 6);
    expectFix("4860.000,N,01160.005,E,5,6", "N4900.00 E01200.00", 5, 6);
}

// The state a sentence may change, as one comparable text.
std::string snapshot(Form_Kestrelmap& f) {
    return shownPosition(f) + "|" + heldPosition(f) + "|" + f.CmdButton_LAT_HEMI.Tag +
           f.CmdButton_LONG_HEMI.Tag + "|" + std::to_string(f.GPS_TIMEOUT) + "|" +
           std::to_string(f.SPEED) + "|" + std::to_string(f.COURSE) + "|" + f.GPRMC_STRING;
}

TEST(RmcParse, BrokenSentencesChangeNothing) {
    const std::string broken[] = {
        "$GPRMC",
        "$GPRMC,123519",
        "$GPRMC,123519,",
        "$GPRMC,123519,A",
        "$GPRMC,123519,A,4807.038,N,01131.000,E",
        "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4",  // no comma after the course
        "$GPRMC,123519,A,,,,,,,230394,,,A",
        "$GPRMC,123519,A,4,N,01131.000,E,022.4,084.4,230394",
        "$GPRMC,123519,A,4807.038,N,01,E,022.4,084.4,230394",
        "$GPRMC,123519,A,4807.038,,,E,022.4,084.4,230394",
        "$GPRMC,123519,A,4807.038,N,01131.000,E,40000,084.4,230394",
        "$GPRMC,123519,A,4807.038,N,01131.000,E,-32769,084.4,230394",
        "$GPRMC,123519,A,4807.038,N,01131.000,E,5,32768,230394",
        "$GPRMC,123519,A,4807.038,N,01131.000,E,99999999999999999999.9,1,2",
        "$GPRMC,123519,A,4860.0051,N,01131.000,E,5,6,230394",
        "$GPRMC,123519,A,4899.000,N,01131.000,E,5,6,230394",
        "$GPRMC,123519,A,48-7.038,N,01131.000,E,5,6,230394",
        "$GPRMC,123519,A,-407.038,N,01131.000,E,5,6,230394",
        "$GPRMC,123519,A,.507.038,N,01131.000,E,5,6,230394",
        "$GPRMC,123519,A,4807.038,N,011+1.000,E,5,6,230394",
        "$GPRMC,,V,,,,,,,,,,N*54",  // a void fix with a corrupted checksum
    };
    for (const std::string& sentence : broken) {
        InputRig rig("GPS");
        Form_Kestrelmap& f = rig.deliver(rmc("4807.038,N,01131.000,E,022.4,084.4") + "\r\n");
        f.GPS_TIMEOUT = 7;
        const std::string before = snapshot(f);
        rig.deliver(sentence + "\r\n");
        EXPECT_EQ(snapshot(f), before) << sentence;
    }
    // Numbers that still fit are used.
    InputRig rig("GPS");
    rig.deliver("$GPRMC,,A,4807.038,N,01131.000,E,32767,-32768.9,\r\n");
    EXPECT_EQ(rig.main().SPEED, 32767);
    EXPECT_EQ(rig.main().COURSE, -32768);
}

// Noise on the line: whatever a corrupted sentence holds, every register keeps a digit of its
// cycle, so the panel never shows a position it cannot hold.
TEST(RmcParse, CorruptedSentencesKeepEveryDigitInItsCycle) {
    const int tops[13] = {8, 9, 5, 9, 9, 9, 1, 9, 9, 5, 9, 9, 9};
    const std::string base = rmc("8959.996,N,17959.996,E,022.4,359.9") + "\r\n%359\r\n";
    const std::string alphabet = "0123456789.,-+ AVNSEWe*$\r";
    InputRig rig("GPS", "DF");
    Form_Kestrelmap& f = rig.deliver(base);
    uint32_t state = 7;
    const auto next = [&state](uint32_t range) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % range;
    };
    for (int round = 0; round < 3000; ++round) {
        std::string line = base;
        for (uint32_t hits = 1 + next(4); hits > 0; --hits) {
            const size_t at = next(static_cast<uint32_t>(line.size()));
            if (next(3) == 0) {
                line.erase(at, 1 + next(6));
            } else {
                line[at] = alphabet[next(static_cast<uint32_t>(alphabet.size()))];
            }
        }
        rig.deliver(line);
        const auto regs = f.positionRegisters();
        for (size_t i = 0; i < regs.size(); ++i) {
            ASSERT_EQ(regs[i]->Tag.size(), 1u) << line;
            ASSERT_LE(regs[i]->Tag[0] - '0', tops[i]) << i << " " << ::testing::PrintToString(line);
        }
        ASSERT_FALSE(f.Picture_LONG_DEGX100.Tag == "1" && f.Picture_LONG_DEGX10.Tag > "7") << line;
        ASSERT_LE(heldBearing(f), "359") << ::testing::PrintToString(line);
    }
}

TEST(RmcParse, AVoidFixDashesThePositionWhateverTheSource) {
    const std::string voidFixes[] = {
        withChecksum("$GPRMC,123519,V,,,,,,,230394,,,N"),
        "$GPRMC,,V",
        "$GPRMC,123519,,4807.038,N,01131.000,E,022.4,084.4,230394",
        "$GNRMC,123519,X,4807.038,N,01131.000,E,022.4,084.4,230394",
    };
    for (const char* source : {"GPS", "MAN"}) {
        for (const std::string& sentence : voidFixes) {
            InputRig rig("GPS");
            Form_Kestrelmap& f = rig.deliver(rmc("4807.038,S,01131.000,W,022.4,084.4") + "\r\n");
            f.CmdButton_POSIT_SOURCE.Tag = source;
            rig.deliver(sentence + "\r\n");
            const std::string context = std::string(source) + " " + sentence;
            EXPECT_EQ(shownPosition(f), "S----.-- W-----.--") << context;
            EXPECT_EQ(heldPosition(f), "4807.04 01131.00") << context;
            EXPECT_EQ(f.GPS_TIMEOUT, 0) << context;
            EXPECT_EQ(f.GPRMC_STRING, "") << context;
            EXPECT_EQ(f.SPEED, 22) << context;
            EXPECT_EQ(f.COURSE, 84) << context;
        }
    }
}

TEST(RmcParse, ManualPositionTakesSpeedAndCourseOnly) {
    InputRig rig("MAN");
    Form_Kestrelmap& f = rig.main();
    const std::string before = shownPosition(f) + heldPosition(f);
    rig.deliver(rmc("3944.500,S,10459.250,W,7.5,123.9") + "\r\n");
    EXPECT_EQ(f.GPS_TIMEOUT, 10);
    EXPECT_EQ(f.SPEED, 7);
    EXPECT_EQ(f.COURSE, 123);
    EXPECT_EQ(shownPosition(f) + heldPosition(f), before);
    EXPECT_EQ(f.CmdButton_LAT_HEMI.Caption + f.CmdButton_LONG_HEMI.Caption, "NE");

    // Status "a" is a valid fix too.
    rig.deliver("$GPRMC,,a,4807.038,N,01131.000,E,3,4,\r\n");
    EXPECT_EQ(f.GPS_TIMEOUT, 10);
    EXPECT_EQ(f.COURSE, 4);
}

}  // namespace
}  // namespace kestrel::test
