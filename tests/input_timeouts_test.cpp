#include <gtest/gtest.h>

#include "input_test_support.h"

namespace kestrel::test {
namespace {

void tick(Form_Kestrelmap& f, int times) {
    for (int i = 0; i < times; ++i) {
        f.Timer_TIMEOUT_Timer();
    }
}

TEST(TimeOuts, SilentGpsTurnsIntoDashesOnTheTenthTick) {
    InputRig rig("GPS", "DF");
    Form_Kestrelmap& f = rig.deliver(rmc("4807.038,S,01131.000,W,022.4,084.4") + "\r\n");
    tick(f, 9);
    EXPECT_EQ(f.GPS_TIMEOUT, 1);
    EXPECT_EQ(shownPosition(f), "S4807.04 W01131.00");
    EXPECT_EQ(f.SPEED, 22);
    tick(f, 1);
    EXPECT_EQ(f.GPS_TIMEOUT, 0);
    EXPECT_EQ(shownPosition(f), "S----.-- W-----.--");
    EXPECT_EQ(heldPosition(f), "4807.04 01131.00");
    EXPECT_EQ(f.SPEED, 0);
    EXPECT_EQ(f.COURSE, 0);
    EXPECT_EQ(f.GPRMC_STRING, "");
    tick(f, 1);
    EXPECT_EQ(f.GPS_TIMEOUT, 0);  // never below zero
    // The next bearing line finds no fresh GPS.
    rig.deliver("%300\r\n");
    EXPECT_EQ(shownBearing(f), "---");
    EXPECT_EQ(f.DF_TIMEOUT, 0);
}

TEST(TimeOuts, ManualPositionStaysWhileGpsDataIsCleared) {
    InputRig rig("MAN");
    Form_Kestrelmap& f = rig.main();
    for (DigitRegister* reg : f.positionRegisters()) {
        reg->Tag = "3";
        reg->glyph = Glyph::Three;
    }
    for (int second = 0; second < 3; ++second) {
        f.SPEED = 9;
        f.COURSE = 99;
        f.GPRMC_STRING = "$GPRMC";
        tick(f, 1);
        EXPECT_EQ(f.SPEED, 0);
        EXPECT_EQ(f.COURSE, 0);
        EXPECT_EQ(f.GPRMC_STRING, "");
        EXPECT_EQ(shownPosition(f), "N3333.33 E33333.33");
    }
}

TEST(TimeOuts, BearingGoesStaleOnlyUnderTheDirectionFinder) {
    struct Case {
        const char* source;
        int ticks;
        std::string shown;
    };
    const Case cases[] = {{"DF", 9, "024"}, {"DF", 10, "---"}, {"MAN", 30, "024"}};
    for (const Case& c : cases) {
        InputRig rig("GPS", "DF");
        Form_Kestrelmap& f = rig.deliver(rmc("4807.038,N,01131.000,E,22,84") + "\r\n%300\r\n");
        ASSERT_EQ(shownBearing(f), "024");
        f.CmdButton_DF_SOURCE.Tag = c.source;
        f.GPS_TIMEOUT = 1000;  // keep the GPS out of the way
        tick(f, c.ticks);
        EXPECT_EQ(shownBearing(f), c.shown) << c.source << " " << c.ticks;
        EXPECT_EQ(heldBearing(f), "024") << c.source << " " << c.ticks;
    }
}

TEST(TimeOuts, SpdTurnsIntoDashesAtTheNextTick) {
    InputRig rig("GPS", "DF");
    Form_Kestrelmap& f = rig.deliver(rmc("4807.038,N,01131.000,E,2.9,84") + "\r\n%300\r\n");
    EXPECT_EQ(shownBearing(f), "SPD");
    tick(f, 1);
    EXPECT_EQ(shownBearing(f), "---");
}

TEST(TimeOuts, BlinkEndsTheHoldOffAndAdvancesThePlotNumber) {
    struct Case {
        int16_t before;
        int16_t after;
        const char* caption;
    };
    const Case cases[] = {{1, 2, "ADD PLOT 2"},
                          {9, 10, "ADD PLOT 10"},
                          {98, 99, "ADD PLOT 99"},
                          {99, 1, "ADD PLOT 1"}};
    for (const Case& c : cases) {
        InputRig rig;
        Form_Kestrelmap& f = rig.main();
        f.BUTTON_BC = 44718;
        f.NEXT_PLOT_NUMBER = c.before;
        f.CmdButton_ADD_PLOT = {"GENERATING PLOT 1", "1", false, Colour::buttonFace()};
        f.Timer_BLINK.setInterval(3000);
        f.Timer_BLINK.setEnabled(true);
        f.Timer_BLINK_Timer();
        EXPECT_EQ(f.NEXT_PLOT_NUMBER, c.after);
        EXPECT_EQ(f.CmdButton_ADD_PLOT.Caption, c.caption);
        EXPECT_TRUE(f.CmdButton_ADD_PLOT.Enabled);
        EXPECT_EQ(f.CmdButton_ADD_PLOT.BackColor, Colour::fromRgb(44718));
        EXPECT_FALSE(f.Timer_BLINK.Enabled);
    }
}

}  // namespace
}  // namespace kestrel::test
