#include "options/colour_sets.h"

#include <array>
#include <cstdio>

namespace kestrel {

namespace {

using M = Form_Kestrelmap;
using O = Form_Kestrelmap_Options;

// Display background: the main window and its frames, then the options window, its preview box
// and its frames.
constexpr auto kDisplay = std::to_array<ColourTarget>({
    &M::BackColor,
    &M::Frame_POSITION,
    &M::Frame_DF,
    &M::Frame_PLOT,
    &M::Frame_CONTROL,
    &O::BackColor,
    &O::Picture_DISPLAY_BACKGROUND_COLOR,
    &O::Frame_COLORS,
    &O::frame_COMM,
});

// Button background: both hemisphere buttons, the thirteen position up and
// thirteen down buttons, the bearing buttons, the control buttons, every button of the options
// window and the preview box. (The BUTTON BACKGROUND handler also colours Label_IDENT.)
constexpr auto kButtons = std::to_array<ColourTarget>({
    &M::CmdButton_POSIT_SOURCE,
    &M::CmdButton_LAT_HEMI,
    &M::CmdButton_LONG_HEMI,
    &M::CmdButton_LAT_DEGX10_UP,
    &M::CmdButton_LAT_DEGX1_UP,
    &M::CmdButton_LAT_MINX10_UP,
    &M::CmdButton_LAT_MINX1_UP,
    &M::CmdButton_LAT_MINX01_UP,
    &M::CmdButton_LAT_MINX001_UP,
    &M::CmdButton_LONG_DEGX100_UP,
    &M::CmdButton_LONG_DEGX10_UP,
    &M::CmdButton_LONG_DEGX1_UP,
    &M::CmdButton_LONG_MINX10_UP,
    &M::CmdButton_LONG_MINX1_UP,
    &M::CmdButton_LONG_MINX01_UP,
    &M::CmdButton_LONG_MINX001_UP,
    &M::CmdButton_LAT_DEGX10_DN,
    &M::CmdButton_LAT_DEGX1_DN,
    &M::CmdButton_LAT_MINX10_DN,
    &M::CmdButton_LAT_MINX1_DN,
    &M::CmdButton_LAT_MINX01_DN,
    &M::CmdButton_LAT_MINX001_DN,
    &M::CmdButton_LONG_DEGX100_DN,
    &M::CmdButton_LONG_DEGX10_DN,
    &M::CmdButton_LONG_DEGX1_DN,
    &M::CmdButton_LONG_MINX10_DN,
    &M::CmdButton_LONG_MINX1_DN,
    &M::CmdButton_LONG_MINX01_DN,
    &M::CmdButton_LONG_MINX001_DN,
    &M::CmdButton_DF_SOURCE,
    &M::CmdButton_BRGX100_UP,
    &M::CmdButton_BRGX10_UP,
    &M::CmdButton_BRGX1_UP,
    &M::CmdButton_BRGX100_DN,
    &M::CmdButton_BRGX10_DN,
    &M::CmdButton_BRGX1_DN,
    &M::CmdButton_RANGE,
    &M::CmdButton_TIMER,
    &M::CmdButton_SHOW_OPTIONS,
    &M::CmdButton_ADD_PLOT,
    &M::cmdbutton_EXIT,
    &O::cmdbutton_DISPLAY_BACKGROUND_COLOR,
    &O::cmdbutton_BUTTON_BACKGROUND_COLOR,
    &O::cmdbutton_LEGEND_TEXT_COLOR,
    &O::CmdButton_VECTOR_COLOR,
    &O::CmdButton_DEFAULT_COLORS,
    &O::CmdButton_COMM_PORT,
    &O::cmdbutton_EXIT,
    &O::CmdButton_NIGHT_PANEL,
    &O::Picture_BUTTON_BACKGROUND_COLOR,
});

// Legend text: the windows', frames' and identification line's text, then the preview box's
// background.
constexpr auto kLegend = std::to_array<ColourTarget>({
    &M::ForeColor,
    &M::Frame_POSITION,
    &M::Frame_DF,
    &M::Frame_PLOT,
    &M::Frame_CONTROL,
    &M::Label_IDENT,
    &O::Frame_COLORS,
    &O::frame_COMM,
    &O::Picture_LEGEND_TEXT_COLOR,
});

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
// Clang 14 does not deduce aggregate template arguments by itself.
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace

const ColourSet kDisplaySet{FramePart::Back, kDisplay};
const ColourSet kButtonSet{FramePart::Back, kButtons};
const ColourSet kLegendSet{FramePart::Fore, kLegend};

void applyColourSet(Form_Kestrelmap& main, const ColourSet& set, Colour colour) {
    Form_Kestrelmap_Options& options = main.OptionsForm;
    auto frameColour = [&set](Frame& frame) -> Colour& {
        return set.framePart == FramePart::Back ? frame.BackColor : frame.ForeColor;
    };
    const auto apply = Overloaded{
        [&](Colour M::*window) { main.*window = colour; },
        [&](Frame M::*frame) { frameColour(main.*frame) = colour; },
        [&](Button M::*button) { (main.*button).BackColor = colour; },
        [&](Colour O::*window) { options.*window = colour; },
        [&](Frame O::*frame) { frameColour(options.*frame) = colour; },
        [&](Button O::*button) { (options.*button).BackColor = colour; },
        [&](PictureBox O::*box) { (options.*box).BackColor = colour; },
    };
    for (const ColourTarget& target : set.targets) {
        std::visit(apply, target);
    }
}

std::string vectorColourText(int32_t rgb) {
    // Written through its 32-bit pattern, so the text is defined for any value; settings and
    // picker keep colours within 0 to 0xFFFFFF, which gives exactly eight digits.
    char hex[16];
    std::snprintf(hex, sizeof hex, "%06x", static_cast<unsigned>(static_cast<uint32_t>(rgb)));
    return std::string("ff") + hex;
}

}  // namespace kestrel
