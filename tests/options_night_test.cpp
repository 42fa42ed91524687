// The night panel: dark red on black over both windows while the colour settings keep the day;
// the day back by its own switch, RESTORE DEFAULT COLORS or a colour pick; the choice handed out.

#include <gtest/gtest.h>

#include "app_test_support.h"
#include "options/night_panel.h"

namespace kestrel::test {
namespace {

// A control of each kind the sets reach: window and frame background, an entry button, the
// options' own button and the colour unlocked buttons return to, a frame's and the ident's
// text, the ident's background.
std::vector<Colour> painted(Form_Kestrelmap& f) {
    const Form_Kestrelmap_Options& o = f.OptionsForm;
    return {f.BackColor,
            o.frame_COMM.BackColor,
            f.CmdButton_LAT_DEGX1_UP.BackColor,
            o.CmdButton_NIGHT_PANEL.BackColor,
            Colour::fromRgb(f.BUTTON_BC),
            f.Frame_DF.ForeColor,
            f.Label_IDENT.ForeColor,
            f.Label_IDENT.BackColor};
}

std::vector<Colour> set(Colour back, Colour button, Colour legend, Colour ident) {
    return {back, back, button, button, button, legend, legend, ident};
}

TEST(NightPanel, PaintsBothWindowsKeepsTheSettingsAndEndsAsDesigned) {
    const Colour display = Colour::fromRgb(11), button = Colour::fromRgb(22),
                 legend = Colour::fromRgb(33), window = Colour::windowBackground();
    const auto day = set(display, button, legend, window);
    const struct {
        const char* how;
        void (Form_Kestrelmap_Options::*back)();
        std::vector<Colour> after;
    } cases[] = {
        {"own switch", &Form_Kestrelmap_Options::CmdButton_NIGHT_PANEL_Click, day},
        {"restore defaults", &Form_Kestrelmap_Options::CmdButton_DEFAULT_COLORS_Click,
         set(Colour::fromRgb(33410), Colour::fromRgb(44718), Colour::fromRgb(49344), window)},
        {"display pick", &Form_Kestrelmap_Options::cmdbutton_DISPLAY_BACKGROUND_COLOR_Click, day},
        {"button box pick", &Form_Kestrelmap_Options::Picture_BUTTON_BACKGROUND_COLOR_Click,
         set(display, button, legend, button)},  // the designed handler colours the ident
        {"legend pick", &Form_Kestrelmap_Options::cmdbutton_LEGEND_TEXT_COLOR_Click, day},
    };
    for (const auto& c : cases) {
        FakeRig rig;
        rig.files.files[kIniPath] = crlf(iniWith({{16, "11"}, {17, "22"}, {18, "33"}}));
        Form_Kestrelmap& f = rig.main();
        Form_Kestrelmap_Options& o = f.OptionsForm;
        std::vector<bool> told;
        o.nightPanelChanged = [&told](bool on) { told.push_back(on); };
        f.Form_Load();
        ASSERT_EQ(painted(f), day) << c.how;
        f.SAVE_SETTINGS();
        const std::string daySettings = rig.files.files[kIniPath];

        o.CmdButton_NIGHT_PANEL_Click();
        EXPECT_EQ(o.CmdButton_NIGHT_PANEL.Caption, "DAY PANEL");
        EXPECT_EQ(painted(f), set(kNightPaper, kNightPaper, kNightInk, kNightPaper)) << c.how;
        f.CmdButton_POSIT_SOURCE_Click();  // locks the entry buttons grey ...
        f.CmdButton_POSIT_SOURCE_Click();  // ... and unlocks them to the night's black
        EXPECT_EQ(f.CmdButton_LAT_DEGX1_UP.BackColor, kNightPaper) << c.how;
        f.SAVE_SETTINGS();
        EXPECT_EQ(rig.files.files[kIniPath], daySettings) << c.how;

        (o.*c.back)();
        EXPECT_FALSE(o.nightPanel()) << c.how;
        EXPECT_EQ(o.CmdButton_NIGHT_PANEL.Caption, "NIGHT PANEL");
        EXPECT_EQ(painted(f), c.after) << c.how;
        for (const int32_t start : rig.picker.starts) {
            EXPECT_NE(start, kNightPaper.rgb) << c.how;  // the picker starts from the day
        }
        EXPECT_EQ(told, (std::vector<bool>{true, false})) << c.how;
    }
}

}  // namespace
}  // namespace kestrel::test
