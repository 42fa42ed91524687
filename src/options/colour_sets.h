#pragma once
// The control sets the display, button and legend colours are applied to, as tables, and the
// bearing-line colour text. Start-up and the options window's colour handlers use the same
// sets: each set ends with its preview box, which at start-up already holds the colour.

#include <cstdint>
#include <span>
#include <string>
#include <variant>

#include "app/form_kestrelmap.h"

namespace kestrel {

// One control of either window. A frame or label takes the set's colour part; a window entry
// names its colour directly; buttons and preview boxes always take it as background.
using ColourTarget =
    std::variant<Colour Form_Kestrelmap::*, Frame Form_Kestrelmap::*, Button Form_Kestrelmap::*,
                 Colour Form_Kestrelmap_Options::*, Frame Form_Kestrelmap_Options::*,
                 Button Form_Kestrelmap_Options::*, PictureBox Form_Kestrelmap_Options::*>;

enum class FramePart { Back, Fore };

struct ColourSet {
    FramePart framePart;
    std::span<const ColourTarget> targets;
};

// The display background, every button, the legend text: used by start-up, the options
// window's colour handlers and RESTORE DEFAULT COLORS.
extern const ColourSet kDisplaySet;
extern const ColourSet kButtonSet;
extern const ColourSet kLegendSet;

// Gives every control of the set the colour, in the order of the table.
void applyColourSet(Form_Kestrelmap& main, const ColourSet& set, Colour colour);

// The bearing-line colour for the map file: "ff" and the colour 0x00BBGGRR as at least six
// hexadecimal digits, lower case ("ff0000ff" for red).
std::string vectorColourText(int32_t rgb);

// The default colours a new settings file holds and RESTORE DEFAULT COLORS brings back.
inline constexpr int32_t kDefaultDisplayColour = 33410;
inline constexpr int32_t kDefaultButtonColour = 44718;
inline constexpr int32_t kDefaultLegendColour = 49344;
inline constexpr int32_t kDefaultVectorColour = 255;

// The largest colour value a colour line or the picker can give (white).
inline constexpr int32_t kMaxRgb = 0xFFFFFF;

}  // namespace kestrel
