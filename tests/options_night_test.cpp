// The night panel: dark red on black over both windows while the colour settings keep the day,
// back to the day by its own switch or by RESTORE DEFAULT COLORS, and the choice handed out.

#include <gtest/gtest.h>

#include "app_test_support.h"
#include "options/night_panel.h"

namespace kestrel::test {
namespace {

// The colours of the controls each set reaches, as one line of text.
std::string panelColours(Form_Kestrelmap& f) {
    const Form_Kestrelmap_Options& o = f.OptionsForm;
    const auto text = [](Colour c) {
        return (c.isRgb() ? std::to_string(c.rgb) : "sys" + std::to_string(int(c.system))) + " ";
    };
    std::string out = text(f.BackColor) + text(f.Frame_POSITION.BackColor) + text(o.BackColor) +
                      text(o.frame_COMM.BackColor) + "| ";
    for (Button* b : visibleMainButtons(f)) {
        out += b->Enabled ? text(b->BackColor) : "";
    }
    out += text(o.CmdButton_NIGHT_PANEL.BackColor) + text(Colour::fromRgb(f.BUTTON_BC)) + "| ";
    out += text(f.ForeColor) + text(f.Frame_DF.ForeColor) + text(f.Label_IDENT.ForeColor) +
           text(o.Frame_COLORS.ForeColor) + "| " + text(f.Label_IDENT.BackColor);
    return out;
}

std::string uniform(Colour back, Colour button, Colour legend, Colour ident,
                    size_t enabledButtons) {
    const auto text = [](Colour c) {
        return (c.isRgb() ? std::to_string(c.rgb) : "sys" + std::to_string(int(c.system))) + " ";
    };
    std::string out;
    for (int i = 0; i < 4; ++i) {
        out += text(back);
    }
    out += "| ";
    for (size_t i = 0; i < enabledButtons + 2; ++i) {
        out += text(button);
    }
    out += "| ";
    for (int i = 0; i < 4; ++i) {
        out += text(legend);
    }
    return out + "| " + text(ident);
}

TEST(NightPanel, SwitchesPaintBothWindowsAndKeepTheSettings) {
    constexpr Colour kDisplay = Colour::fromRgb(11), kButton = Colour::fromRgb(22),
                     kLegend = Colour::fromRgb(33);
    const std::string dayFile = crlf(iniWith({{16, "11"}, {17, "22"}, {18, "33"}}));
    const size_t enabled = visibleMainButtons(*FakeRig().form).size() - 1;  // TMR is locked
    const std::string day =
        uniform(kDisplay, kButton, kLegend, Colour::windowBackground(), enabled);
    const std::string night = uniform(kNightPaper, kNightPaper, kNightInk, kNightPaper, enabled);

    const struct {
        const char* name;
        void (*back)(Form_Kestrelmap_Options&);  // how the day comes back
        std::string expectedDay;
    } cases[] = {
        {"own switch", [](Form_Kestrelmap_Options& o) { o.CmdButton_NIGHT_PANEL_Click(); }, day},
        {"a display colour chosen (cancelled)",
         [](Form_Kestrelmap_Options& o) { o.cmdbutton_DISPLAY_BACKGROUND_COLOR_Click(); }, day},
        {"a button colour chosen (cancelled)",
         [](Form_Kestrelmap_Options& o) { o.Picture_BUTTON_BACKGROUND_COLOR_Click(); },
         uniform(kDisplay, kButton, kLegend, kButton, enabled)},  // the handler colours IDENT
        {"a legend colour chosen (cancelled)",
         [](Form_Kestrelmap_Options& o) { o.cmdbutton_LEGEND_TEXT_COLOR_Click(); }, day},
        {"restore defaults", [](Form_Kestrelmap_Options& o) { o.CmdButton_DEFAULT_COLORS_Click(); },
         uniform(Colour::fromRgb(33410), Colour::fromRgb(44718), Colour::fromRgb(49344),
                 Colour::windowBackground(), enabled)},
    };
    for (const auto& c : cases) {
        FakeRig rig;
        rig.files.files[kIniPath] = dayFile;
        Form_Kestrelmap& f = rig.main();
        Form_Kestrelmap_Options& o = f.OptionsForm;
        std::vector<bool> told;
        o.nightPanelChanged = [&told](bool on) { told.push_back(on); };
        f.Form_Load();
        ASSERT_EQ(panelColours(f), day) << c.name;
        f.SAVE_SETTINGS();
        const std::string daySaved = rig.files.files[kIniPath];

        o.CmdButton_NIGHT_PANEL_Click();
        EXPECT_TRUE(o.nightPanel());
        EXPECT_EQ(o.CmdButton_NIGHT_PANEL.Caption, "DAY PANEL");
        EXPECT_EQ(panelColours(f), night) << c.name;
        f.SAVE_SETTINGS();
        EXPECT_EQ(rig.files.files[kIniPath], daySaved) << c.name;  // the day colours are kept
        f.CmdButton_POSIT_SOURCE_Click();                          // lock and unlock at night
        f.CmdButton_POSIT_SOURCE_Click();
        EXPECT_EQ(f.CmdButton_LAT_DEGX1_UP.BackColor, kNightPaper) << c.name;

        c.back(o);
        for (const int32_t start : rig.picker.starts) {
            EXPECT_NE(start, kNightPaper.rgb) << c.name;  // the picker starts from the day
        }
        EXPECT_FALSE(o.nightPanel()) << c.name;
        EXPECT_EQ(o.CmdButton_NIGHT_PANEL.Caption, "NIGHT PANEL");
        EXPECT_EQ(panelColours(f), c.expectedDay) << c.name;
        EXPECT_EQ(told, (std::vector<bool>{true, false})) << c.name;
    }
}

TEST(NightPanel, SettingTheSameChoiceAgainChangesNothing) {
    FakeRig rig;
    Form_Kestrelmap_Options& o = rig.options();
    int calls = 0;
    o.nightPanelChanged = [&calls](bool) { ++calls; };
    rig.main().Form_Load();
    o.setNightPanel(false);
    o.setNightPanel(true);
    o.setNightPanel(true);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(rig.main().BackColor, kNightPaper);
}

TEST(NightPanel, LockedButtonsAreDimmedOnlyAtNight) {
    EXPECT_EQ(shownColour(kLockedGrey, true), kNightLocked);
    EXPECT_EQ(shownColour(kLockedGrey, false), kLockedGrey);
    EXPECT_EQ(shownColour(kNightPaper, true), kNightPaper);
    EXPECT_EQ(shownColour(Colour::buttonFace(), true), Colour::buttonFace());
}

}  // namespace
}  // namespace kestrel::test
