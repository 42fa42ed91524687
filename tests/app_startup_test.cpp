// Start-up: the hunt stamp and files, the port trial, the registers and colours it leaves, and
// a start without the Kestrelmap folder.

#include <gtest/gtest.h>

#include "app/hunt_stamp.h"
#include "app_test_support.h"

namespace kestrel::test {
namespace {

TEST(Startup, HuntStampAndCaption) {
    const struct {
        LocalTime time;
        const char* stamp;
    } cases[] = {
        {{2027, 1, 1, 0, 0, 7}, "010127_000007"},
        {{2026, 3, 7, 9, 5, 3}, "030726_090503"},
        {{2099, 12, 31, 23, 59, 59}, "123199_235959"},
        {{2000, 10, 10, 10, 10, 10}, "101000_101010"},
    };
    for (const auto& c : cases) {
        FakeRig rig;
        rig.clock.time = c.time;
        rig.main().Form_Load();
        EXPECT_EQ(rig.main().Caption, std::string("Kestrelmap ") + c.stamp);
        EXPECT_EQ(rig.main().FILENAME_STRING, std::string("/hunt/") + c.stamp + ".kml");
        EXPECT_EQ(rig.main().CURRENT_FILENAME, kCurrentHunt);
    }
}

TEST(Startup, BothHuntFilesHoldTheSameEmptyDocument) {
    FakeRig rig;
    rig.files.files[kCurrentHunt] = "an earlier hunt";
    rig.main().Form_Load();
    const std::string expected = crlf({
        R"(<?xml version="1.0" encoding="UTF-8"?>)",
        R"(<kml xmlns="http://www.opengis.net/kml/2.2")",
        R"(xmlns:gx="http://www.google.com/kml/ext/2.2")",
        R"(xmlns:kml="http://www.opengis.net/kml/2.2")",
        R"(xmlns:atom="http://www.w3.org/2005/Atom">)",
        "<Document>",
        "</Document>",
        "</kml>",
    });
    EXPECT_EQ(rig.files.files["/hunt/030726_090503.kml"], expected);
    EXPECT_EQ(rig.files.files[kCurrentHunt], expected);
    EXPECT_EQ(rig.main().NEXT_PLOT_NUMBER, 1);
    EXPECT_TRUE(rig.messages.shown.empty());
}

TEST(Startup, LiveHuntLinkFollowsTheCurrentHuntFile) {
    FakeRig rig;
    rig.main().Form_Load();
    const std::string& live = rig.files.files["/hunt/Live_Hunt.kml"];
    EXPECT_EQ(live, liveHuntDocument());
    EXPECT_NE(live.find("<href>Current_Hunt.kml</href>\r\n"), std::string::npos);
    EXPECT_NE(live.find("<refreshMode>onInterval</refreshMode>\r\n"), std::string::npos);
    EXPECT_NE(live.find("<refreshInterval>5</refreshInterval>\r\n"), std::string::npos);
    EXPECT_EQ(live.find("\n\n"), std::string::npos);
    EXPECT_EQ(live.substr(live.size() - 8), "</kml>\r\n");
}

TEST(Startup, PortTrialShowsFreeOrBusy) {
    const struct {
        int port;
        bool busy;
        const char* caption;
    } cases[] = {
        {1, false, "COM PORT 1 : FREE"},
        {3, false, "COM PORT 3 : FREE"},
        {1, true, "COM PORT 1 : BUSY"},
        {8, true, "COM PORT 8 : BUSY"},
    };
    for (const auto& c : cases) {
        FakeRig rig;
        rig.files.files[kIniPath] = crlf(iniWith({{17, "1234"}, {20, std::to_string(c.port)}}));
        if (c.busy) {
            rig.serial.busyPorts.insert(static_cast<int16_t>(c.port));
        }
        rig.main().Form_Load();
        const Button& button = rig.options().CmdButton_COMM_PORT;
        EXPECT_EQ(button.Caption, c.caption);
        EXPECT_EQ(button.BackColor, c.busy ? Colour::buttonShadow() : Colour::fromRgb(1234));
        EXPECT_EQ(rig.main().PORT_VALID, !c.busy);
        EXPECT_FALSE(rig.serial.isOpen()) << c.caption;
        EXPECT_EQ(rig.serial.opens, 1);
        EXPECT_TRUE(rig.messages.shown.empty());  // told on activation, not here
    }
}

TEST(Startup, RegistersShowStoredDigitsAndKeepOddValues) {
    FakeRig rig;
    rig.files.files[kIniPath] = crlf(iniWith({{1, "9"}, {2, "7"}, {7, "2"}, {13, "x"}}));
    Form_Kestrelmap& f = rig.main();
    f.Form_Load();
    EXPECT_EQ(f.Picture_LAT_DEGX10.Tag, "9");  // outside 0 to 8: dash, value kept
    EXPECT_EQ(f.Picture_LAT_DEGX10.glyph, Glyph::Dash);
    EXPECT_EQ(f.Picture_LAT_DEGX1.glyph, Glyph::Seven);
    EXPECT_EQ(f.Picture_LONG_DEGX100.glyph, Glyph::Dash);  // only 0 and 1
    EXPECT_EQ(f.Picture_LONG_DEGX1.glyph, Glyph::Nine);
    EXPECT_EQ(f.Picture_LONG_MINX001.glyph, Glyph::Dash);
    EXPECT_EQ(f.Picture_BRGX100.glyph, Glyph::Zero);
    f.SAVE_SETTINGS();
    EXPECT_EQ(rig.files.files[kIniPath].substr(0, 3), "9\r\n");
}

TEST(Startup, ColoursReachBothWindows) {
    FakeRig rig;
    rig.files.files[kIniPath] = crlf(iniWith({{16, "11"}, {17, "22"}, {18, "33"}}));
    Form_Kestrelmap& f = rig.main();
    f.Form_Load();
    const Form_Kestrelmap_Options& o = f.OptionsForm;
    for (const Colour c : {f.BackColor, f.Frame_POSITION.BackColor, f.Frame_CONTROL.BackColor,
                           o.BackColor, o.Frame_COLORS.BackColor, o.frame_COMM.BackColor}) {
        EXPECT_EQ(c, Colour::fromRgb(11));
    }
    for (Button* b : visibleMainButtons(f)) {
        EXPECT_EQ(b->BackColor, Colour::fromRgb(22)) << b->Caption;
    }
    for (Button* b : optionsButtons(rig.options())) {
        EXPECT_EQ(b->BackColor, Colour::fromRgb(22)) << b->Caption;
    }
    EXPECT_FALSE(f.CmdButton_TIMER.Enabled);
    EXPECT_EQ(f.CmdButton_LAT_HEMI_TEMP.BackColor, Colour::buttonFace());
    EXPECT_EQ(f.Label_IDENT.BackColor, Colour::windowBackground());
    for (const Colour c : {f.ForeColor, f.Frame_DF.ForeColor, f.Frame_PLOT.ForeColor,
                           f.Label_IDENT.ForeColor, o.Frame_COLORS.ForeColor}) {
        EXPECT_EQ(c, Colour::fromRgb(33));
    }
    EXPECT_TRUE(o.Loaded);
    EXPECT_FALSE(o.Visible);
    EXPECT_TRUE(f.Timer_TIMEOUT.Enabled);
    EXPECT_FALSE(f.Timer_BLINK.Enabled || f.Timer_PLOT.Enabled);
}

TEST(Startup, MissingFolderIsToldOnceAndTheHuntGoesOnInMemory) {
    FakeRig rig;
    rig.files.failAll = true;
    rig.files.failReason = "No such file or directory";
    Form_Kestrelmap& f = rig.main();
    f.Form_Load();
    ASSERT_EQ(rig.messages.shown.size(), 1u);
    const auto& message = rig.messages.shown[0];
    EXPECT_NE(message.text.find("Create the folder /hunt/ and start Kestrelmap again."),
              std::string::npos);
    EXPECT_NE(message.text.find("No such file or directory"), std::string::npos);
    EXPECT_EQ(message.title, "Kestrelmap");
    EXPECT_EQ(message.buttons, MessageButtons::Ok);
    EXPECT_EQ(positionTags(f), "3|4|2|5|1|1|1|1|9|4|4|5|0");  // defaults, from memory
    EXPECT_EQ(f.CmdButton_LONG_HEMI.Tag, "W");
    EXPECT_LE(rig.files.writes, 4);  // two hunt files, the link, one try at the defaults

    // Plots are kept in memory and do not repeat the message.
    f.CmdButton_ADD_PLOT_Click();
    EXPECT_EQ(f.NUMBER_OF_PLOTS, 1);
    EXPECT_EQ(rig.messages.shown.size(), 1u);
}

}  // namespace
}  // namespace kestrel::test
