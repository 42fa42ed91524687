#pragma once
// Helpers shared by the plot tests: a main window made ready to plot without running the
// start-up code, and the position and bearing put on the registers directly.

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/form_kestrelmap.h"

namespace kestrel::test {

inline const std::string kStampedFile = "/hunt/030726_090503.kml";
inline const std::string kCurrentFile = "/hunt/Current_Hunt.kml";

// Thirteen position digits, latitude DDMMmm then longitude DDDMMmm ("3944501045925"), and the
// hemisphere letters. Each register shows a digit glyph; a missing digit leaves its Tag empty.
inline void showPosition(Form_Kestrelmap& f, std::string_view digits, const std::string& latHemi,
                         const std::string& longHemi) {
    const auto regs = f.positionRegisters();
    for (size_t i = 0; i < regs.size(); ++i) {
        regs[i]->Tag = i < digits.size() ? std::string(1, digits[i]) : "";
        regs[i]->glyph = Glyph::Zero;
    }
    f.CmdButton_LAT_HEMI.Tag = latHemi;
    f.CmdButton_LONG_HEMI.Tag = longHemi;
}

// A place in signed decimal degrees, to the nearest hundredth of a minute (the panel's
// resolution). displayedPosition() then reads back the rounded place.
inline void showDegrees(Form_Kestrelmap& f, double latitude, double longitude) {
    const long lat = std::lround(std::abs(latitude) * 6000);
    const long lon = std::lround(std::abs(longitude) * 6000);
    char digits[80];  // room for any long, which the compiler cannot rule out
    std::snprintf(digits, sizeof digits, "%02ld%04ld%03ld%04ld", lat / 6000, lat % 6000, lon / 6000,
                  lon % 6000);
    showPosition(f, digits, latitude < 0 ? "S" : "N", longitude < 0 ? "W" : "E");
}

inline void showBearing(Form_Kestrelmap& f, std::string_view digits) {
    const auto regs = f.bearingRegisters();
    for (size_t i = 0; i < regs.size(); ++i) {
        regs[i]->Tag = std::string(1, digits[i]);
    }
}

// The state start-up leaves, with both sources on hand entry, the worked example on the
// registers (N 39° 44.50′ W 104° 59.25′, bearing 045) and the range at 5 miles.
inline void readyToPlot(Form_Kestrelmap& f) {
    f.FILENAME_STRING = kStampedFile;
    f.CURRENT_FILENAME = kCurrentFile;
    f.NEXT_PLOT_NUMBER = 1;
    f.NUMBER_OF_PLOTS = 0;
    f.VECTOR_COLOR = "ff0000ff";
    f.CmdButton_POSIT_SOURCE.Tag = "MAN";
    f.CmdButton_DF_SOURCE.Tag = "MAN";
    f.CmdButton_ADD_PLOT.Enabled = true;
    f.Timer_BLINK.Enabled = false;
    showPosition(f, "3944501045925", "N", "W");
    showBearing(f, "045");
}

// What the hold-off's end does to the plot button and the plot number.
inline void endHoldOff(Form_Kestrelmap& f) {
    f.Timer_BLINK_Timer();
}

}  // namespace kestrel::test
