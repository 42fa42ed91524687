#pragma once
// The settings file Kestrelmap.ini: twenty lines carrying the position shown, the hemispheres,
// the four colours and the serial port from one run to the next. This header holds the text
// side (reading and writing the twenty lines); LOAD_SETTINGS and SAVE_SETTINGS apply it to the
// window.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

class Form_Kestrelmap;

struct StoredSettings {
    std::array<std::string, 13> digits;  // lines 1 to 13: the position registers' tags
    std::string latHemisphere;           // line 14, as held
    std::string longHemisphere;          // line 15, as held
    std::array<int32_t, 4> colours{};    // lines 16 to 19: display, button, legend, vector
    int16_t port = 1;                    // line 20, 1 to 8
};

// The file name, in the Kestrelmap folder.
inline constexpr std::string_view kSettingsFileName = "Kestrelmap.ini";

// Reads the twenty lines (CR LF or LF; spaces and tabs around a value ignored; lines after the
// twentieth ignored). Nothing when the file is too short, a colour line is not a whole number
// 0 to 16777215 after rounding, or the port line is not 1 to 8. The hemispheres come back as
// "S"/"N" and "W"/"E": only an exact "S" or "W" counts.
std::optional<StoredSettings> parseSettings(std::string_view text);

// The default file: twenty bare lines.
std::string defaultSettingsText();

// The file a save writes: tags as held, numbers with a space before a non-negative value and
// one after it.
std::string settingsText(const StoredSettings& settings);

// Writes the window's settings to the file; false with a reason when it cannot be written.
// Tells nobody: SAVE_SETTINGS does the telling.
bool writeSettingsFile(Form_Kestrelmap& main, std::string& error);

}  // namespace kestrel
