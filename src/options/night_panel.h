#pragma once
// The night panel's colours: dark red on black for both windows, their frames, buttons and
// legend, and for the digit glyphs. The colour settings (the preview boxes, and so the settings
// file) keep the day colours all the while; the day panel is painted from them again.

#include "app/controls.h"

namespace kestrel {

inline constexpr Colour kNightPaper = Colour::fromRgb(0, 0, 0);
inline constexpr Colour kNightInk = Colour::fromRgb(128, 0, 0);
// A locked button at night: the light grey of the day would glare.
inline constexpr Colour kNightLocked = Colour::fromRgb(40, 0, 0);

// The colour a control is painted in: at night the locked grey becomes kNightLocked, any other
// colour is painted as it is.
constexpr Colour shownColour(Colour colour, bool night) {
    return night && colour == kLockedGrey ? kNightLocked : colour;
}

}  // namespace kestrel
