#pragma once
// The geometry of both windows in one place: every visible control with its design name, the
// frame it sits in, its place and size in logical pixels (96 dpi), its kind and font, the core
// control it shows and the handler a click on it runs. The shell builds its widgets from these
// tables and from nothing else, and the tests check the real windows against them. Captions and
// tags are not here: the windows' constructors set them, as part of the state.

#include <string>
#include <variant>
#include <vector>

#include "app/controls.h"

namespace kestrel {

class Form_Kestrelmap;
class Form_Kestrelmap_Options;

inline constexpr int kMainClientWidth = 913;
inline constexpr int kMainClientHeight = 133;
// Nothing visible on the main window reaches below this many pixels from the top.
inline constexpr int kMainVisibleBottom = 129;

inline constexpr int kTwipsPerPixel = 15;
constexpr int twips(int value) {
    return value / kTwipsPerPixel;
}
inline constexpr int kOptionsClientWidth = twips(6045);   // 403
inline constexpr int kOptionsClientHeight = twips(2730);  // 182

enum class ControlKind {
    Frame,          // a captioned group box; the controls that name it as parent sit inside it
    Label,          // one line of text on a background
    Button,         // a command button painted in its background colour
    DigitRegister,  // shows one glyph image, black on white
    DecimalPoint,   // shows the fixed decimal-point image; never changes
    ColourBox,      // a colour preview box of the options window
};

enum class FontRole {
    Default,     // the window's default font
    Hemisphere,  // the two hemisphere buttons
    Ident,       // the identification line
    Small,       // the night panel's switch
};

// A plain sans-serif face at this size; the shell picks the platform's stand-in.
struct FontSpec {
    double pointSize = 0;
    bool bold = false;
};
FontSpec fontSpec(FontRole role);

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    constexpr int right() const { return left + width; }   // first column past the control
    constexpr int bottom() const { return top + height; }  // first row below the control
    friend constexpr bool operator==(const Rect&, const Rect&) = default;
};

template <class Form>
struct ControlLayout {
    using Control = std::variant<std::monostate, Frame Form::*, Button Form::*,
                                 DigitRegister Form::*, PictureBox Form::*>;
    using Handler = void (Form::*)();

    std::string name;
    std::string parent;  // the frame it sits in; empty: the window's client area
    Rect rect;           // relative to the parent's top-left corner
    ControlKind kind = ControlKind::Button;
    Control control;  // empty for the decimal points, which show fixed images
    Handler click = nullptr;
    FontRole font = FontRole::Default;
};

using MainControlLayout = ControlLayout<Form_Kestrelmap>;
using OptionsControlLayout = ControlLayout<Form_Kestrelmap_Options>;

// Frames come before the controls inside them, and controls that stand over a frame on the
// window itself come after it, so creating widgets in table order stacks them as designed.
const std::vector<MainControlLayout>& mainWindowLayout();
const std::vector<OptionsControlLayout>& optionsWindowLayout();

// A control's place in its window's client area: its rect moved by its frame's corner.
template <class Form>
Rect windowRect(const std::vector<ControlLayout<Form>>& table, const ControlLayout<Form>& entry) {
    Rect r = entry.rect;
    for (const ControlLayout<Form>& other : table) {
        if (!entry.parent.empty() && other.name == entry.parent) {
            r.left += other.rect.left;
            r.top += other.rect.top;
        }
    }
    return r;
}

// The name of every digit column of the main window, in screen order ("LAT_DEGX10", ...):
// a column is CmdButton_<name>_UP, Picture_<name> and CmdButton_<name>_DN.
const std::vector<std::string>& digitColumns();

}  // namespace kestrel
