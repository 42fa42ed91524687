// The options window's colour rows, the two clickable preview boxes and RESTORE DEFAULT COLORS.

#include <gtest/gtest.h>

#include "app_test_support.h"
#include "options/colour_sets.h"

namespace kestrel::test {
namespace {

struct Started {
    FakeRig rig;
    Form_Kestrelmap& f = rig.main();
    Form_Kestrelmap_Options& o = rig.options();
    explicit Started(int32_t buttonColour = 44718) {
        rig.files.files[kIniPath] = crlf(iniWith({{17, std::to_string(buttonColour)}}));
        f.Form_Load();
    }
};

TEST(Colours, CancelledButtonPickColoursEveryButtonEvenLockedOnes) {
    for (const bool viaPreviewBox : {false, true}) {
        Started s(12345);
        // Lock some buttons as an instrument source would.
        s.f.CmdButton_POSIT_SOURCE_Click();
        ASSERT_FALSE(s.f.CmdButton_LAT_DEGX1_UP.Enabled);
        ASSERT_EQ(s.f.CmdButton_LAT_DEGX1_UP.BackColor, kLockedGrey);
        if (viaPreviewBox) {
            s.o.Picture_BUTTON_BACKGROUND_COLOR_Click();
        } else {
            s.o.cmdbutton_BUTTON_BACKGROUND_COLOR_Click();
        }
        ASSERT_EQ(s.rig.picker.starts, std::vector<int32_t>{12345});
        EXPECT_EQ(s.rig.picker.lastFlags, 3);
        for (Button* b : visibleMainButtons(s.f)) {
            EXPECT_EQ(b->BackColor, Colour::fromRgb(12345)) << b->Caption;
        }
        for (Button* b : optionsButtons(s.o)) {
            EXPECT_EQ(b->BackColor, Colour::fromRgb(12345)) << b->Caption;
        }
        EXPECT_FALSE(s.f.CmdButton_LAT_DEGX1_UP.Enabled);
        EXPECT_EQ(s.f.Label_IDENT.BackColor, Colour::fromRgb(12345));
        EXPECT_EQ(s.f.CmdButton_LAT_HEMI_TEMP.BackColor, Colour::buttonFace());
    }
}

TEST(Colours, ButtonColourIsWhatUnlockedButtonsTakeFromThenOn) {
    Started s;
    s.f.CmdButton_POSIT_SOURCE_Click();
    s.rig.picker.answers = {Colour::fromRgb(10, 20, 30).rgb};
    s.o.cmdbutton_BUTTON_BACKGROUND_COLOR_Click();
    EXPECT_EQ(s.f.BUTTON_BC, Colour::fromRgb(10, 20, 30).rgb);
    s.f.CmdButton_POSIT_SOURCE_Click();  // back to manual: the entry buttons unlock
    EXPECT_EQ(s.f.CmdButton_LAT_DEGX1_UP.BackColor, Colour::fromRgb(10, 20, 30));

    s.o.CmdButton_DEFAULT_COLORS_Click();
    EXPECT_EQ(s.f.BUTTON_BC, 44718);
    EXPECT_EQ(s.f.Label_IDENT.BackColor, Colour::fromRgb(10, 20, 30));  // restore leaves it
}

TEST(Colours, EachRowReachesItsSet) {
    Started s;
    s.rig.picker.answers = {111, 222, 333};
    s.o.cmdbutton_DISPLAY_BACKGROUND_COLOR_Click();
    s.o.Picture_LEGEND_TEXT_COLOR_Click();
    s.o.cmdbutton_LEGEND_TEXT_COLOR_Click();
    EXPECT_EQ(s.rig.picker.starts, (std::vector<int32_t>{33410, 49344, 222}));
    for (const Colour c : {s.f.BackColor, s.f.Frame_POSITION.BackColor, s.f.Frame_DF.BackColor,
                           s.f.Frame_PLOT.BackColor, s.f.Frame_CONTROL.BackColor, s.o.BackColor,
                           s.o.Picture_DISPLAY_BACKGROUND_COLOR.BackColor,
                           s.o.Frame_COLORS.BackColor, s.o.frame_COMM.BackColor}) {
        EXPECT_EQ(c, Colour::fromRgb(111));
    }
    for (const Colour c : {s.f.ForeColor, s.f.Frame_POSITION.ForeColor, s.f.Label_IDENT.ForeColor,
                           s.o.Frame_COLORS.ForeColor, s.o.frame_COMM.ForeColor,
                           s.o.Picture_LEGEND_TEXT_COLOR.BackColor}) {
        EXPECT_EQ(c, Colour::fromRgb(333));
    }
    EXPECT_EQ(s.f.Label_IDENT.BackColor, Colour::windowBackground());
    EXPECT_EQ(s.f.CmdButton_RANGE.BackColor, Colour::fromRgb(44718));
}

TEST(Colours, VectorColourText) {
    const struct {
        int32_t picked;
        const char* text;
    } cases[] = {
        {Colour::fromRgb(0, 0, 255).rgb, "ffff0000"},
        {Colour::fromRgb(0, 255, 0).rgb, "ff00ff00"},
        {255, "ff0000ff"},
        {33410, "ff008282"},
        {0, "ff000000"},
        {0xFFFFFF, "ffffffff"},
        {0xABCDEF, "ffabcdef"},
        {-1, "ff0000ff"},
        {0x1000000, "ff0000ff"},  // not a colour: as cancelled
    };
    for (const auto& c : cases) {
        Started s;
        s.rig.picker.answers = {c.picked};
        s.o.CmdButton_VECTOR_COLOR_Click();
        EXPECT_EQ(s.f.VECTOR_COLOR, c.text) << c.picked;
        EXPECT_EQ(s.f.VECTOR_COLOR, vectorColourText(s.o.Picture_VECTOR_COLOR.BackColor.rgb));
    }
}

TEST(Colours, RestoredDefaultsReachTheNextPlot) {
    Started s;
    s.rig.picker.answers = {0x00FF00, 1, 2, 3};
    s.o.CmdButton_VECTOR_COLOR_Click();
    s.o.cmdbutton_DISPLAY_BACKGROUND_COLOR_Click();
    s.o.cmdbutton_BUTTON_BACKGROUND_COLOR_Click();
    s.o.cmdbutton_LEGEND_TEXT_COLOR_Click();
    s.o.CmdButton_DEFAULT_COLORS_Click();
    EXPECT_EQ(s.rig.picker.starts.size(), 4u);  // no picker for the defaults
    EXPECT_EQ(s.o.Picture_DISPLAY_BACKGROUND_COLOR.BackColor, Colour::fromRgb(33410));
    EXPECT_EQ(s.f.Frame_DF.BackColor, Colour::fromRgb(33410));
    EXPECT_EQ(s.o.CmdButton_COMM_PORT.BackColor, Colour::fromRgb(44718));
    EXPECT_EQ(s.f.Frame_PLOT.ForeColor, Colour::fromRgb(49344));
    EXPECT_EQ(s.o.Picture_VECTOR_COLOR.BackColor, Colour::fromRgb(255));
    s.f.CmdButton_ADD_PLOT_Click();
    const std::string& map = s.rig.files.files[kCurrentHunt];
    EXPECT_NE(map.find("<color>ff0000ff</color>"), std::string::npos);
    EXPECT_EQ(map.find("ff00ff00"), std::string::npos);
    // The colours reach the settings file at the close.
    s.f.SAVE_SETTINGS();
    EXPECT_NE(s.rig.files.files[kIniPath].find(" 33410 \r\n 44718 \r\n 49344 \r\n 255 \r\n"),
              std::string::npos);
}

}  // namespace
}  // namespace kestrel::test
