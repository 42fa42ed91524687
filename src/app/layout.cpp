#include "app/layout.h"

#include "app/form_kestrelmap.h"

namespace kestrel {

namespace {

using F = Form_Kestrelmap;
using O = Form_Kestrelmap_Options;
using MainRow = MainControlLayout;

// Every register column: the up button "+ " at top 16, the register at top 32, the down
// button "-" at top 64, all 25 wide.
constexpr int kColumnWidth = 25;

struct Column {
    const char* name;
    const char* frame;
    int left;
    Button F::*up;
    DigitRegister F::*reg;
    Button F::*down;
    void (F::*upClick)();
    void (F::*downClick)();
};

const Column kColumns[] = {
    {"LAT_DEGX10", "Frame_POSITION", 72, &F::CmdButton_LAT_DEGX10_UP, &F::Picture_LAT_DEGX10,
     &F::CmdButton_LAT_DEGX10_DN, &F::CmdButton_LAT_DEGX10_UP_Click,
     &F::CmdButton_LAT_DEGX10_DN_Click},
    {"LAT_DEGX1", "Frame_POSITION", 96, &F::CmdButton_LAT_DEGX1_UP, &F::Picture_LAT_DEGX1,
     &F::CmdButton_LAT_DEGX1_DN, &F::CmdButton_LAT_DEGX1_UP_Click,
     &F::CmdButton_LAT_DEGX1_DN_Click},
    {"LAT_MINX10", "Frame_POSITION", 136, &F::CmdButton_LAT_MINX10_UP, &F::Picture_LAT_MINX10,
     &F::CmdButton_LAT_MINX10_DN, &F::CmdButton_LAT_MINX10_UP_Click,
     &F::CmdButton_LAT_MINX10_DN_Click},
    {"LAT_MINX1", "Frame_POSITION", 160, &F::CmdButton_LAT_MINX1_UP, &F::Picture_LAT_MINX1,
     &F::CmdButton_LAT_MINX1_DN, &F::CmdButton_LAT_MINX1_UP_Click,
     &F::CmdButton_LAT_MINX1_DN_Click},
    {"LAT_MINX01", "Frame_POSITION", 192, &F::CmdButton_LAT_MINX01_UP, &F::Picture_LAT_MINX01,
     &F::CmdButton_LAT_MINX01_DN, &F::CmdButton_LAT_MINX01_UP_Click,
     &F::CmdButton_LAT_MINX01_DN_Click},
    {"LAT_MINX001", "Frame_POSITION", 216, &F::CmdButton_LAT_MINX001_UP, &F::Picture_LAT_MINX001,
     &F::CmdButton_LAT_MINX001_DN, &F::CmdButton_LAT_MINX001_UP_Click,
     &F::CmdButton_LAT_MINX001_DN_Click},
    {"LONG_DEGX100", "Frame_POSITION", 272, &F::CmdButton_LONG_DEGX100_UP, &F::Picture_LONG_DEGX100,
     &F::CmdButton_LONG_DEGX100_DN, &F::CmdButton_LONG_DEGX100_UP_Click,
     &F::CmdButton_LONG_DEGX100_DN_Click},
    {"LONG_DEGX10", "Frame_POSITION", 296, &F::CmdButton_LONG_DEGX10_UP, &F::Picture_LONG_DEGX10,
     &F::CmdButton_LONG_DEGX10_DN, &F::CmdButton_LONG_DEGX10_UP_Click,
     &F::CmdButton_LONG_DEGX10_DN_Click},
    {"LONG_DEGX1", "Frame_POSITION", 320, &F::CmdButton_LONG_DEGX1_UP, &F::Picture_LONG_DEGX1,
     &F::CmdButton_LONG_DEGX1_DN, &F::CmdButton_LONG_DEGX1_UP_Click,
     &F::CmdButton_LONG_DEGX1_DN_Click},
    {"LONG_MINX10", "Frame_POSITION", 360, &F::CmdButton_LONG_MINX10_UP, &F::Picture_LONG_MINX10,
     &F::CmdButton_LONG_MINX10_DN, &F::CmdButton_LONG_MINX10_UP_Click,
     &F::CmdButton_LONG_MINX10_DN_Click},
    {"LONG_MINX1", "Frame_POSITION", 384, &F::CmdButton_LONG_MINX1_UP, &F::Picture_LONG_MINX1,
     &F::CmdButton_LONG_MINX1_DN, &F::CmdButton_LONG_MINX1_UP_Click,
     &F::CmdButton_LONG_MINX1_DN_Click},
    {"LONG_MINX01", "Frame_POSITION", 416, &F::CmdButton_LONG_MINX01_UP, &F::Picture_LONG_MINX01,
     &F::CmdButton_LONG_MINX01_DN, &F::CmdButton_LONG_MINX01_UP_Click,
     &F::CmdButton_LONG_MINX01_DN_Click},
    {"LONG_MINX001", "Frame_POSITION", 440, &F::CmdButton_LONG_MINX001_UP, &F::Picture_LONG_MINX001,
     &F::CmdButton_LONG_MINX001_DN, &F::CmdButton_LONG_MINX001_UP_Click,
     &F::CmdButton_LONG_MINX001_DN_Click},
    {"BRGX100", "Frame_DF", 56, &F::CmdButton_BRGX100_UP, &F::Picture_BRGX100,
     &F::CmdButton_BRGX100_DN, &F::CmdButton_BRGX100_UP_Click, &F::CmdButton_BRGX100_DN_Click},
    {"BRGX10", "Frame_DF", 80, &F::CmdButton_BRGX10_UP, &F::Picture_BRGX10, &F::CmdButton_BRGX10_DN,
     &F::CmdButton_BRGX10_UP_Click, &F::CmdButton_BRGX10_DN_Click},
    {"BRGX1", "Frame_DF", 104, &F::CmdButton_BRGX1_UP, &F::Picture_BRGX1, &F::CmdButton_BRGX1_DN,
     &F::CmdButton_BRGX1_UP_Click, &F::CmdButton_BRGX1_DN_Click},
};

void addColumn(std::vector<MainRow>& rows, const Column& c) {
    const std::string name = c.name;
    rows.push_back({"CmdButton_" + name + "_UP",
                    c.frame,
                    {c.left, 16, kColumnWidth, 17},
                    ControlKind::Button,
                    c.up,
                    c.upClick});
    rows.push_back({"Picture_" + name,
                    c.frame,
                    {c.left, 32, kColumnWidth, 33},
                    ControlKind::DigitRegister,
                    c.reg});
    rows.push_back({"CmdButton_" + name + "_DN",
                    c.frame,
                    {c.left, 64, kColumnWidth, 17},
                    ControlKind::Button,
                    c.down,
                    c.downClick});
}

std::vector<MainRow> buildMainLayout() {
    std::vector<MainRow> rows = {
        {"Frame_POSITION", "", {8, 8, 473, 97}, ControlKind::Frame, &F::Frame_POSITION},
        {"Frame_DF", "", {488, 8, 137, 97}, ControlKind::Frame, &F::Frame_DF},
        {"Frame_PLOT", "", {632, 8, 153, 97}, ControlKind::Frame, &F::Frame_PLOT},
        {"Frame_CONTROL", "", {792, 8, 113, 97}, ControlKind::Frame, &F::Frame_CONTROL},
        {"Label_IDENT",
         "",
         {8, 112, 897, 17},
         ControlKind::Label,
         &F::Label_IDENT,
         nullptr,
         FontRole::Ident},

        {"CmdButton_POSIT_SOURCE",
         "Frame_POSITION",
         {8, 24, 41, 49},
         ControlKind::Button,
         &F::CmdButton_POSIT_SOURCE,
         &F::CmdButton_POSIT_SOURCE_Click},
        {"Picture_LAT_POINT", "Frame_POSITION", {184, 32, 9, 33}, ControlKind::DecimalPoint, {}},
        {"Picture_LONG_POINT", "Frame_POSITION", {408, 32, 9, 33}, ControlKind::DecimalPoint, {}},
        {"CmdButton_DF_SOURCE",
         "Frame_DF",
         {8, 24, 41, 49},
         ControlKind::Button,
         &F::CmdButton_DF_SOURCE,
         &F::CmdButton_DF_SOURCE_Click},

        {"CmdButton_RANGE",
         "Frame_PLOT",
         {8, 16, 65, 33},
         ControlKind::Button,
         &F::CmdButton_RANGE,
         &F::CmdButton_RANGE_Click},
        {"CmdButton_TIMER",
         "Frame_PLOT",
         {80, 16, 65, 33},
         ControlKind::Button,
         &F::CmdButton_TIMER,
         &F::CmdButton_TIMER_Click},
        {"CmdButton_ADD_PLOT",
         "Frame_PLOT",
         {8, 56, 137, 33},
         ControlKind::Button,
         &F::CmdButton_ADD_PLOT,
         &F::CmdButton_ADD_PLOT_Click},

        {"CmdButton_SHOW_OPTIONS",
         "Frame_CONTROL",
         {8, 16, 97, 33},
         ControlKind::Button,
         &F::CmdButton_SHOW_OPTIONS,
         &F::CmdButton_SHOW_OPTIONS_Click},
        {"cmdbutton_EXIT",
         "Frame_CONTROL",
         {8, 56, 97, 33},
         ControlKind::Button,
         &F::cmdbutton_EXIT,
         &F::cmdbutton_EXIT_Click},
    };
    for (const Column& c : kColumns) {
        addColumn(rows, c);
    }
    // On the window itself, over Frame_POSITION, just left of the first digit of each row.
    rows.push_back({"CmdButton_LAT_HEMI",
                    "",
                    {56, 32, 25, 49},
                    ControlKind::Button,
                    &F::CmdButton_LAT_HEMI,
                    &F::CmdButton_LAT_HEMI_Click,
                    FontRole::Hemisphere});
    rows.push_back({"CmdButton_LONG_HEMI",
                    "",
                    {256, 32, 25, 49},
                    ControlKind::Button,
                    &F::CmdButton_LONG_HEMI,
                    &F::CmdButton_LONG_HEMI_Click,
                    FontRole::Hemisphere});
    return rows;
}

// The options window is designed in twips; each measure here is the design's twips / 15.
constexpr Rect twipsRect(int left, int top, int width, int height) {
    return {twips(left), twips(top), twips(width), twips(height)};
}

std::vector<OptionsControlLayout> buildOptionsLayout() {
    using K = ControlKind;
    return {
        {"Frame_COLORS", "", twipsRect(120, 120, 3255, 2535), K::Frame, &O::Frame_COLORS},
        {"frame_COMM", "", twipsRect(3600, 120, 2295, 1575), K::Frame, &O::frame_COMM},
        {"cmdbutton_EXIT", "", twipsRect(3600, 1920, 2295, 615), K::Button, &O::cmdbutton_EXIT,
         &O::cmdbutton_EXIT_Click},

        {"cmdbutton_DISPLAY_BACKGROUND_COLOR", "Frame_COLORS", twipsRect(120, 360, 2415, 375),
         K::Button, &O::cmdbutton_DISPLAY_BACKGROUND_COLOR,
         &O::cmdbutton_DISPLAY_BACKGROUND_COLOR_Click},
        {"Picture_DISPLAY_BACKGROUND_COLOR", "Frame_COLORS", twipsRect(2520, 360, 615, 375),
         K::ColourBox, &O::Picture_DISPLAY_BACKGROUND_COLOR},
        {"cmdbutton_BUTTON_BACKGROUND_COLOR", "Frame_COLORS", twipsRect(120, 720, 2415, 375),
         K::Button, &O::cmdbutton_BUTTON_BACKGROUND_COLOR,
         &O::cmdbutton_BUTTON_BACKGROUND_COLOR_Click},
        {"Picture_BUTTON_BACKGROUND_COLOR", "Frame_COLORS", twipsRect(2520, 720, 615, 375),
         K::ColourBox, &O::Picture_BUTTON_BACKGROUND_COLOR,
         &O::Picture_BUTTON_BACKGROUND_COLOR_Click},
        {"cmdbutton_LEGEND_TEXT_COLOR", "Frame_COLORS", twipsRect(120, 1080, 2415, 375), K::Button,
         &O::cmdbutton_LEGEND_TEXT_COLOR, &O::cmdbutton_LEGEND_TEXT_COLOR_Click},
        {"Picture_LEGEND_TEXT_COLOR", "Frame_COLORS", twipsRect(2520, 1080, 615, 375), K::ColourBox,
         &O::Picture_LEGEND_TEXT_COLOR, &O::Picture_LEGEND_TEXT_COLOR_Click},
        {"CmdButton_VECTOR_COLOR", "Frame_COLORS", twipsRect(120, 1440, 2415, 375), K::Button,
         &O::CmdButton_VECTOR_COLOR, &O::CmdButton_VECTOR_COLOR_Click},
        {"Picture_VECTOR_COLOR", "Frame_COLORS", twipsRect(2520, 1440, 615, 375), K::ColourBox,
         &O::Picture_VECTOR_COLOR},
        {"CmdButton_DEFAULT_COLORS", "Frame_COLORS", twipsRect(120, 1920, 3015, 495), K::Button,
         &O::CmdButton_DEFAULT_COLORS, &O::CmdButton_DEFAULT_COLORS_Click},

        {"CmdButton_COMM_PORT", "frame_COMM", twipsRect(120, 360, 2055, 1095), K::Button,
         &O::CmdButton_COMM_PORT, &O::CmdButton_COMM_PORT_Click},

        // Not of the design: the night panel's switch, in the left half of the free strip between
        // the port frame and HIDE OPTIONS (the shell's instruments button has the right half), in
        // a smaller font to fit it.
        {"CmdButton_NIGHT_PANEL",
         "",
         {240, 113, 76, 14},
         K::Button,
         &O::CmdButton_NIGHT_PANEL,
         &O::CmdButton_NIGHT_PANEL_Click,
         FontRole::Small},
    };
}

}  // namespace

FontSpec fontSpec(FontRole role) {
    switch (role) {
        case FontRole::Hemisphere:
            return {12.0, true};
        case FontRole::Ident:
            return {9.75, false};
        case FontRole::Small:
            return {6.75, false};
        case FontRole::Default:
            break;
    }
    return {8.25, false};
}

const std::vector<MainControlLayout>& mainWindowLayout() {
    static const std::vector<MainControlLayout> rows = buildMainLayout();
    return rows;
}

const std::vector<OptionsControlLayout>& optionsWindowLayout() {
    static const std::vector<OptionsControlLayout> rows = buildOptionsLayout();
    return rows;
}

const std::vector<std::string>& digitColumns() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const Column& c : kColumns) {
            out.emplace_back(c.name);
        }
        return out;
    }();
    return names;
}

}  // namespace kestrel
