#pragma once
// What a screen reader says for the panel: a name for every visible control of both windows, the
// glyph a digit register shows as a word, and the position and bearing read as a whole. Plain
// text from the core's controls; the shell hands it to the platform's accessibility layer.

#include <string>
#include <string_view>

#include "app/controls.h"

namespace kestrel {

class Form_Kestrelmap;

enum class PanelWindow { Main, Options };

// The accessible name of a control, by its design name ("CmdButton_LAT_DEGX10_UP" gives
// "Latitude, tens of degrees, up"). Buttons whose caption shows a setting ("MAN POS", "N",
// "COM PORT 1 : FREE") are named with it: "Position source: MAN POS". An unknown control is
// named by its caption, or by its design name when it has none.
std::string spokenName(PanelWindow window, std::string_view control, std::string_view caption);

// "0" to "9", "dash", "S", "P" or "D".
std::string spokenGlyph(Glyph glyph);

// "34 degrees 25.11 minutes north, 119 degrees 44.50 minutes west"; "position not available"
// while any position register shows something other than a digit.
std::string spokenPosition(const Form_Kestrelmap& form);

// "bearing 045 degrees"; "bearing: speed too low" while the registers show S P D; "bearing not
// available" for anything else that is not three digits.
std::string spokenBearing(const Form_Kestrelmap& form);

// The text that stands beside a control's name: the position for the POSITION frame, the
// bearing for the DF frame, nothing for any other control.
std::string spokenDescription(std::string_view control, const Form_Kestrelmap& form);

}  // namespace kestrel
