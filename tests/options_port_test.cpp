// The options window's port button: stepping, trying, and putting instrument sources back to
// manual first.

#include <gtest/gtest.h>

#include "app/text_number.h"
#include "app_test_support.h"

namespace kestrel::test {
namespace {

struct Press {
    std::string caption;
    bool busyColour;
    bool valid;
};

// Starts on `port` with `busy` ports, presses the button `presses` times, reports the last.
Press pressFrom(int port, std::set<int16_t> busy, int presses) {
    FakeRig rig;
    rig.files.files[kIniPath] = crlf(iniWith({{17, "777"}, {20, std::to_string(port)}}));
    rig.main().Form_Load();
    rig.serial.busyPorts = std::move(busy);
    for (int i = 0; i < presses; ++i) {
        rig.options().CmdButton_COMM_PORT_Click();
    }
    const Button& b = rig.options().CmdButton_COMM_PORT;
    EXPECT_FALSE(rig.serial.isOpen());
    EXPECT_EQ(rig.serial.portNumber(), leadingNumber(b.Caption.substr(9)));
    EXPECT_EQ(b.BackColor == Colour::buttonShadow(), !rig.main().PORT_VALID);
    if (rig.main().PORT_VALID) {
        EXPECT_EQ(b.BackColor, Colour::fromRgb(777));
    }
    return {b.Caption, b.BackColor == Colour::buttonShadow(), rig.main().PORT_VALID};
}

TEST(PortSelect, StepsAndTries) {
    const struct {
        int port;
        std::set<int16_t> busy;
        int presses;
        const char* caption;
        bool valid;
    } cases[] = {
        {8, {}, 1, "COM PORT 1 : FREE", true},
        {1, {}, 1, "COM PORT 2 : FREE", true},
        {3, {4}, 1, "COM PORT 4 : BUSY", false},
        {3, {4}, 2, "COM PORT 5 : FREE", true},
        {7, {8, 1, 2}, 4, "COM PORT 3 : FREE", true},
        {1, {1, 2, 3, 4, 5, 6, 7, 8}, 9, "COM PORT 2 : BUSY", false},
    };
    for (const auto& c : cases) {
        const Press p = pressFrom(c.port, c.busy, c.presses);
        EXPECT_EQ(p.caption, c.caption);
        EXPECT_EQ(p.valid, c.valid) << c.caption;
    }
}

TEST(PortSelect, ABusyPortRefusesTheSourcesUntilAFreeOneIsFound) {
    FakeRig rig;
    rig.files.files[kIniPath] = crlf(iniWith({{20, "3"}}));
    Form_Kestrelmap& f = rig.main();
    f.Form_Load();
    rig.serial.busyPorts = {4};
    rig.options().CmdButton_COMM_PORT_Click();
    f.CmdButton_POSIT_SOURCE_Click();
    f.CmdButton_DF_SOURCE_Click();
    ASSERT_EQ(rig.messages.shown.size(), 2u);
    EXPECT_EQ(rig.messages.shown[1].text, "COM port not available");
    EXPECT_EQ(f.CmdButton_POSIT_SOURCE.Tag, "MAN");
    rig.options().CmdButton_COMM_PORT_Click();
    f.CmdButton_POSIT_SOURCE_Click();
    EXPECT_EQ(f.CmdButton_POSIT_SOURCE.Tag, "GPS");
    EXPECT_TRUE(rig.serial.isOpen());
    EXPECT_EQ(rig.serial.portNumber(), 5);
}

// Position on GPS and/or bearing on DF, through their own buttons, with digits the instruments
// then overwrote; a press must bring back exactly the hand-entered state.
TEST(PortSelect, InstrumentSourcesGoBackToManual) {
    const struct {
        bool gps, df;
    } cases[] = {{true, true}, {false, true}, {true, false}, {false, false}};
    for (const auto& c : cases) {
        FakeRig rig;
        Form_Kestrelmap& f = rig.main();
        f.Form_Load();
        f.Picture_BRGX10.Tag = "4";
        const std::string manualTags = positionTags(f);
        if (c.gps) {
            f.CmdButton_POSIT_SOURCE_Click();
        }
        if (c.df) {
            f.CmdButton_DF_SOURCE_Click();
        }
        // The instruments write; the operator's own digits must survive in the shadows only.
        f.Picture_LAT_DEGX1.Tag = c.gps ? "0" : "6";
        f.Picture_BRGX10.Tag = c.df ? "9" : "8";
        const std::string expectedTags = c.gps ? manualTags : positionTags(f);
        const int opensBefore = rig.serial.opens;
        rig.options().CmdButton_COMM_PORT_Click();

        EXPECT_FALSE(rig.serial.isOpen());
        EXPECT_EQ(rig.serial.opens, opensBefore + 1);  // only the trial of port 2
        EXPECT_EQ(f.CmdButton_POSIT_SOURCE.Caption + f.CmdButton_DF_SOURCE.Caption,
                  "MAN POSMAN BRG");
        EXPECT_EQ(positionTags(f), expectedTags);
        EXPECT_EQ(f.Picture_BRGX10.Tag, c.df ? "4" : "8");
        for (Button* b : {&f.CmdButton_LAT_HEMI, &f.CmdButton_LONG_MINX001_DN,
                          &f.CmdButton_BRGX1_UP, &f.CmdButton_BRGX100_DN}) {
            EXPECT_TRUE(b->Enabled);
            EXPECT_EQ(b->BackColor, Colour::fromRgb(44718));
        }
        // The timer button is locked by any switch back; untouched when both were manual.
        EXPECT_FALSE(f.CmdButton_TIMER.Enabled);
        EXPECT_EQ(f.CmdButton_TIMER.BackColor,
                  (c.gps || c.df) ? kLockedGrey : Colour::fromRgb(44718));
    }
}

}  // namespace
}  // namespace kestrel::test
