#include "accessibility/spoken_panel.h"

#include <array>
#include <span>
#include <utility>

#include "app/form_kestrelmap.h"

namespace kestrel {

namespace {

struct Spoken {
    std::string_view control;
    std::string_view name;
    bool withCaption = false;  // the caption shows a setting and follows the name
};

constexpr Spoken kMain[] = {
    {"Frame_POSITION", "Position"},
    {"Frame_DF", "Bearing"},
    {"Frame_PLOT", "Plot"},
    {"Frame_CONTROL", "Control"},
    {"Label_IDENT", "Program", true},
    {"CmdButton_POSIT_SOURCE", "Position source", true},
    {"CmdButton_DF_SOURCE", "Bearing source", true},
    {"CmdButton_LAT_HEMI", "Latitude hemisphere", true},
    {"CmdButton_LONG_HEMI", "Longitude hemisphere", true},
    {"Picture_LAT_POINT", "Latitude decimal point"},
    {"Picture_LONG_POINT", "Longitude decimal point"},
    {"CmdButton_RANGE", "Bearing line length", true},
    {"CmdButton_TIMER", "Plot timer", true},
    {"CmdButton_ADD_PLOT", "Add plot", true},
    {"CmdButton_SHOW_OPTIONS", "Show options"},
    {"cmdbutton_EXIT", "Exit"},
};

constexpr Spoken kOptions[] = {
    {"Frame_COLORS", "Colours"},
    {"frame_COMM", "Serial port"},
    {"cmdbutton_EXIT", "Hide options"},
    {"cmdbutton_DISPLAY_BACKGROUND_COLOR", "Choose display background colour"},
    {"Picture_DISPLAY_BACKGROUND_COLOR", "Display background colour"},
    {"cmdbutton_BUTTON_BACKGROUND_COLOR", "Choose button background colour"},
    {"Picture_BUTTON_BACKGROUND_COLOR", "Button background colour"},
    {"cmdbutton_LEGEND_TEXT_COLOR", "Choose legend text colour"},
    {"Picture_LEGEND_TEXT_COLOR", "Legend text colour"},
    {"CmdButton_VECTOR_COLOR", "Choose bearing line colour"},
    {"Picture_VECTOR_COLOR", "Bearing line colour"},
    {"CmdButton_DEFAULT_COLORS", "Restore default colours"},
    {"CmdButton_NIGHT_PANEL", "Night panel", true},
    {"CmdButton_COMM_PORT", "Next serial port", true},
};

// The parts of a digit column's name: "LAT_DEGX10" is the tens of the latitude's degrees.
constexpr std::array<std::pair<std::string_view, std::string_view>, 3> kQuantities = {{
    {"LAT_", "Latitude, "},
    {"LONG_", "Longitude, "},
    {"BRG", "Bearing, "},
}};
constexpr std::array<std::pair<std::string_view, std::string_view>, 10> kPlaces = {{
    {"DEGX100", "hundreds of degrees"},
    {"DEGX10", "tens of degrees"},
    {"DEGX1", "units of degrees"},
    {"MINX10", "tens of minutes"},
    {"MINX1", "units of minutes"},
    {"MINX01", "tenths of minutes"},
    {"MINX001", "hundredths of minutes"},
    {"X100", "hundreds of degrees"},
    {"X10", "tens of degrees"},
    {"X1", "units of degrees"},
}};

// "LAT_DEGX10" and the like: "Latitude, tens of degrees"; empty for anything else.
std::string columnName(std::string_view column) {
    for (const auto& [prefix, quantity] : kQuantities) {
        if (!column.starts_with(prefix)) {
            continue;
        }
        const std::string_view place = column.substr(prefix.size());
        for (const auto& [code, words] : kPlaces) {
            if (place == code) {
                return std::string(quantity) + std::string(words);
            }
        }
    }
    return {};
}

std::string digitControlName(std::string_view control) {
    constexpr std::string_view kPicture = "Picture_";
    constexpr std::string_view kButton = "CmdButton_";
    if (control.starts_with(kPicture)) {
        return columnName(control.substr(kPicture.size()));
    }
    if (control.starts_with(kButton) && control.size() > kButton.size() + 3) {
        const std::string_view end = control.substr(control.size() - 3);
        const std::string column = columnName(
            control.substr(kButton.size(), control.size() - kButton.size() - end.size()));
        if (!column.empty() && (end == "_UP" || end == "_DN")) {
            return column + (end == "_UP" ? ", up" : ", down");
        }
    }
    return {};
}

// The caption as one would say it: blanks run together, a hemisphere letter as its word.
std::string spokenCaption(std::string_view caption) {
    static constexpr std::pair<std::string_view, std::string_view> kHemispheres[] = {
        {"N", "north"}, {"S", "south"}, {"E", "east"}, {"W", "west"}};
    for (const auto& [letter, word] : kHemispheres) {
        if (caption == letter) {
            return std::string(word);
        }
    }
    std::string out;
    for (const char c : caption) {
        const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
        if (!blank) {
            out += c;
        } else if (!out.empty() && out.back() != ' ') {
            out += ' ';
        }
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    return out;
}

// The digits the registers show, or nothing when one shows another glyph.
std::string shownDigits(std::span<const DigitRegister* const> registers) {
    std::string digits;
    for (const DigitRegister* reg : registers) {
        if (reg->glyph > Glyph::Nine) {
            return {};
        }
        digits += static_cast<char>('0' + static_cast<int>(reg->glyph));
    }
    return digits;
}

// Leading zeros dropped, one digit kept: "04" is "4".
std::string_view withoutLeadingZeros(std::string_view digits) {
    while (digits.size() > 1 && digits.front() == '0') {
        digits.remove_prefix(1);
    }
    return digits;
}

// "34 degrees 25.11 minutes north" from "342511" with `degreeDigits` 2.
std::string coordinateText(std::string_view digits, size_t degreeDigits,
                           std::string_view hemisphereTag) {
    const std::string_view degrees = digits.substr(0, degreeDigits);
    const std::string_view minutes = digits.substr(degreeDigits, 2);
    const std::string_view hundredths = digits.substr(degreeDigits + 2);
    std::string text = std::string(withoutLeadingZeros(degrees)) + " degrees " +
                       std::string(withoutLeadingZeros(minutes)) + "." + std::string(hundredths) +
                       " minutes";
    const std::string hemisphere = spokenCaption(hemisphereTag);
    if (!hemisphere.empty()) {
        text += " " + hemisphere;
    }
    return text;
}

}  // namespace

std::string spokenName(PanelWindow window, std::string_view control, std::string_view caption) {
    if (window == PanelWindow::Main) {
        if (std::string digit = digitControlName(control); !digit.empty()) {
            return digit;
        }
    }
    for (const Spoken& entry : window == PanelWindow::Main ? std::span<const Spoken>(kMain)
                                                           : std::span<const Spoken>(kOptions)) {
        if (entry.control != control) {
            continue;
        }
        const std::string shown = entry.withCaption ? spokenCaption(caption) : std::string();
        return shown.empty() ? std::string(entry.name) : std::string(entry.name) + ": " + shown;
    }
    const std::string shown = spokenCaption(caption);
    return shown.empty() ? std::string(control) : shown;
}

std::string spokenGlyph(Glyph glyph) {
    switch (glyph) {
        case Glyph::Dash:
            return "dash";
        case Glyph::S:
            return "S";
        case Glyph::P:
            return "P";
        case Glyph::D:
            return "D";
        default:
            break;
    }
    return std::string(1, static_cast<char>('0' + static_cast<int>(glyph)));
}

std::string spokenPosition(const Form_Kestrelmap& f) {
    constexpr size_t kLatitudeDigits = 6;  // then the longitude's seven
    const auto registers = f.positionRegisters();
    const std::span<const DigitRegister* const> shown(registers);
    const std::string latitude = shownDigits(shown.first(kLatitudeDigits));
    const std::string longitude = shownDigits(shown.subspan(kLatitudeDigits));
    if (latitude.empty() || longitude.empty()) {
        return "position not available";
    }
    return coordinateText(latitude, 2, f.CmdButton_LAT_HEMI.Caption) + ", " +
           coordinateText(longitude, 3, f.CmdButton_LONG_HEMI.Caption);
}

std::string spokenBearing(const Form_Kestrelmap& f) {
    const auto registers = f.bearingRegisters();
    const std::string digits = shownDigits(registers);
    if (!digits.empty()) {
        return "bearing " + digits + " degrees";
    }
    if (registers[0]->glyph == Glyph::S && registers[1]->glyph == Glyph::P &&
        registers[2]->glyph == Glyph::D) {
        return "bearing: speed too low";
    }
    return "bearing not available";
}

std::string spokenDescription(std::string_view control, const Form_Kestrelmap& form) {
    if (control == "Frame_POSITION") {
        return spokenPosition(form);
    }
    if (control == "Frame_DF") {
        return spokenBearing(form);
    }
    return {};
}

}  // namespace kestrel
