// What a screen reader says: control names from both layout tables, glyph words, and the
// position and bearing read as a whole.

#include <gtest/gtest.h>

#include <set>

#include "accessibility/spoken_panel.h"
#include "app/layout.h"
#include "app_test_support.h"

namespace kestrel::test {
namespace {

TEST(SpokenPanel, NamesSayWhatTheControlIs) {
    const struct {
        PanelWindow window;
        const char* control;
        const char* caption;
        const char* name;
    } cases[] = {
        {PanelWindow::Main, "CmdButton_LAT_DEGX10_UP", "+ ", "Latitude, tens of degrees, up"},
        {PanelWindow::Main, "CmdButton_LONG_MINX001_DN", "-",
         "Longitude, hundredths of minutes, down"},
        {PanelWindow::Main, "Picture_LONG_DEGX1", "", "Longitude, units of degrees"},
        {PanelWindow::Main, "Picture_BRGX100", "", "Bearing, hundreds of degrees"},
        {PanelWindow::Main, "CmdButton_BRGX1_UP", "+ ", "Bearing, units of degrees, up"},
        {PanelWindow::Main, "CmdButton_LAT_HEMI", "S", "Latitude hemisphere: south"},
        {PanelWindow::Main, "CmdButton_RANGE", "  DX    5 MI", "Bearing line length: DX 5 MI"},
        {PanelWindow::Main, "CmdButton_POSIT_SOURCE", "GPS POS", "Position source: GPS POS"},
        {PanelWindow::Main, "cmdbutton_EXIT", "EXIT", "Exit"},
        {PanelWindow::Options, "cmdbutton_EXIT", "HIDE OPTIONS", "Hide options"},
        {PanelWindow::Options, "CmdButton_COMM_PORT", "COM PORT 2 : BUSY",
         "Next serial port: COM PORT 2 : BUSY"},
        {PanelWindow::Main, "CmdButton_POSIT_SOURCE", "", "Position source"},
        {PanelWindow::Main, "CmdButton_LAT_DEGX10_SIDEWAYS", "", "CmdButton_LAT_DEGX10_SIDEWAYS"},
        {PanelWindow::Main, "Unknown", " ODD  ONE ", "ODD ONE"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(spokenName(c.window, c.control, c.caption), c.name) << c.control;
    }
}

// Every control on screen has a name of its own, never its design name.
template <class Form>
void expectDistinctNames(PanelWindow window, const std::vector<ControlLayout<Form>>& table) {
    std::set<std::string> names;
    for (const auto& row : table) {
        const std::string name = spokenName(window, row.name, "");
        EXPECT_NE(name, row.name);
        EXPECT_TRUE(names.insert(name).second) << name;
    }
}

TEST(SpokenPanel, EveryVisibleControlIsNamed) {
    expectDistinctNames(PanelWindow::Main, mainWindowLayout());
    expectDistinctNames(PanelWindow::Options, optionsWindowLayout());
}

void showGlyphs(const std::array<DigitRegister*, 13>& registers, const char* glyphs) {
    for (size_t i = 0; i < registers.size(); ++i) {
        const char c = glyphs[i];
        registers[i]->glyph = c == '-' ? Glyph::Dash : digitGlyph(c - '0');
    }
}

TEST(SpokenPanel, PositionAndBearingReadAsAWhole) {
    const struct {
        const char* position;  // thirteen glyphs, '-' for a dash
        const char* lat;
        const char* lon;
        std::array<Glyph, 3> bearing;
        const char* spokenPos;
        const char* spokenBrg;
    } cases[] = {
        {"3425111194450",
         "N",
         "W",
         {Glyph::Zero, Glyph::Four, Glyph::Five},
         "34 degrees 25.11 minutes north, 119 degrees 44.50 minutes west",
         "bearing 045 degrees"},
        {"0405070050000",
         "S",
         "E",
         {Glyph::Three, Glyph::Five, Glyph::Nine},
         "4 degrees 5.07 minutes south, 5 degrees 0.00 minutes east",
         "bearing 359 degrees"},
        {"-------------",
         "N",
         "W",
         {Glyph::S, Glyph::P, Glyph::D},
         "position not available",
         "bearing: speed too low"},
        {"342511119445-",
         "N",
         "W",
         {Glyph::Dash, Glyph::Dash, Glyph::Dash},
         "position not available",
         "bearing not available"},
        {"3425111194450",
         "N",
         "W",
         {Glyph::S, Glyph::P, Glyph::Dash},
         "34 degrees 25.11 minutes north, 119 degrees 44.50 minutes west",
         "bearing not available"},
    };
    for (const auto& c : cases) {
        FakeRig rig;
        Form_Kestrelmap& f = rig.main();
        showGlyphs(f.positionRegisters(), c.position);
        f.CmdButton_LAT_HEMI.Caption = c.lat;
        f.CmdButton_LONG_HEMI.Caption = c.lon;
        const auto bearing = f.bearingRegisters();
        for (size_t i = 0; i < 3; ++i) {
            bearing[i]->glyph = c.bearing[i];
        }
        EXPECT_EQ(spokenPosition(f), c.spokenPos) << c.position;
        EXPECT_EQ(spokenBearing(f), c.spokenBrg) << c.position;
        EXPECT_EQ(spokenDescription("Frame_POSITION", f), c.spokenPos);
        EXPECT_EQ(spokenDescription("Frame_DF", f), c.spokenBrg);
        EXPECT_EQ(spokenDescription("Frame_PLOT", f), "");
    }
}

TEST(SpokenPanel, GlyphWords) {
    EXPECT_EQ(spokenGlyph(Glyph::Zero), "0");
    EXPECT_EQ(spokenGlyph(Glyph::Nine), "9");
    EXPECT_EQ(spokenGlyph(Glyph::Dash), "dash");
    EXPECT_EQ(spokenGlyph(Glyph::S) + spokenGlyph(Glyph::P) + spokenGlyph(Glyph::D), "SPD");
}

}  // namespace
}  // namespace kestrel::test
