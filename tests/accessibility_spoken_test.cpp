// What a screen reader says: control names from both layout tables, and the position and bearing
// read as a whole.

#include <gtest/gtest.h>

#include <set>

#include "accessibility/spoken_panel.h"
#include "app/layout.h"
#include "app_test_support.h"

namespace kestrel::test {
namespace {

TEST(SpokenPanel, NamesSayWhatTheControlIs) {
    constexpr auto kMain = PanelWindow::Main;
    const struct {
        PanelWindow window;
        const char* control;
        const char* caption;
        const char* name;
    } cases[] = {
        {kMain, "CmdButton_LONG_MINX001_DN", "-", "Longitude, hundredths of minutes, down"},
        {kMain, "Picture_BRGX100", "", "Bearing, hundreds of degrees"},
        {kMain, "CmdButton_LAT_HEMI", "S", "Latitude hemisphere: south"},
        {kMain, "CmdButton_RANGE", "  DX    5 MI", "Bearing line length: DX 5 MI"},
        {PanelWindow::Options, "cmdbutton_EXIT", "HIDE OPTIONS", "Hide options"},
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

// Thirteen position glyphs ('-' a dash), the hemispheres and three bearing glyphs ('S', 'P',
// 'D' or '-' for those) as they read.
void expectSpoken(const char* position, const char* hemispheres, const char* bearing,
                  const char* spokenPos, const char* spokenBrg) {
    const auto glyph = [](char c) {
        return c == '-'   ? Glyph::Dash
               : c == 'S' ? Glyph::S
               : c == 'P' ? Glyph::P
               : c == 'D' ? Glyph::D
                          : digitGlyph(c - '0');
    };
    FakeRig rig;
    Form_Kestrelmap& f = rig.main();
    const auto registers = f.positionRegisters();
    for (size_t i = 0; i < registers.size(); ++i) {
        registers[i]->glyph = glyph(position[i]);
    }
    f.CmdButton_LAT_HEMI.Caption = hemispheres[0];
    f.CmdButton_LONG_HEMI.Caption = hemispheres[1];
    for (size_t i = 0; i < 3; ++i) {
        f.bearingRegisters()[i]->glyph = glyph(bearing[i]);
    }
    EXPECT_EQ(spokenDescription("Frame_POSITION", f), spokenPos) << position;
    EXPECT_EQ(spokenDescription("Frame_DF", f), spokenBrg) << bearing;
    EXPECT_EQ(spokenDescription("Frame_PLOT", f), "");
}

TEST(SpokenPanel, PositionAndBearingReadAsAWhole) {
    expectSpoken("3425111194450", "NW", "045",
                 "34 degrees 25.11 minutes north, 119 degrees 44.50 minutes west",
                 "bearing 045 degrees");
    expectSpoken("0405070050000", "SE", "359",
                 "4 degrees 5.07 minutes south, 5 degrees 0.00 minutes east",
                 "bearing 359 degrees");
    expectSpoken("-------------", "NW", "SPD", "position not available", "bearing: speed too low");
    expectSpoken("342511119445-", "NW", "---", "position not available", "bearing not available");
    expectSpoken("3425111194450", "NW", "SP-",
                 "34 degrees 25.11 minutes north, 119 degrees 44.50 minutes west",
                 "bearing not available");
}

}  // namespace
}  // namespace kestrel::test
