#pragma once
// Helpers shared by the start-up, settings, close and options tests.

#include <string>
#include <vector>

#include "fakes/fake_platform.h"

namespace kestrel::test {

inline const std::string kIniPath = "/hunt/Kestrelmap.ini";
inline const std::string kCurrentHunt = "/hunt/Current_Hunt.kml";

inline const std::vector<std::string> kDefaultIniLines = {
    "3", "4", "2", "5", "1", "1",     "1",     "1",     "9",   "4",
    "4", "5", "0", "N", "W", "33410", "44718", "49344", "255", "1"};

// Lines joined with CR LF after each.
inline std::string crlf(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

// The default lines with some replaced: {line number from 1, value}.
inline std::vector<std::string> iniWith(const std::vector<std::pair<int, std::string>>& changes) {
    std::vector<std::string> lines = kDefaultIniLines;
    for (const auto& [number, value] : changes) {
        lines[static_cast<size_t>(number - 1)] = value;
    }
    return lines;
}

// The thirteen position tags, concatenated with "|" between them.
inline std::string positionTags(Form_Kestrelmap& form) {
    std::string out;
    for (DigitRegister* reg : form.positionRegisters()) {
        out += (out.empty() ? "" : "|") + reg->Tag;
    }
    return out;
}

// Every button of the main window an operator can see (not the hidden hemisphere shadows).
inline std::vector<Button*> visibleMainButtons(Form_Kestrelmap& f) {
    return {&f.CmdButton_POSIT_SOURCE,
            &f.CmdButton_DF_SOURCE,
            &f.CmdButton_LAT_HEMI,
            &f.CmdButton_LONG_HEMI,
            &f.CmdButton_LAT_DEGX10_UP,
            &f.CmdButton_LAT_DEGX10_DN,
            &f.CmdButton_LAT_DEGX1_UP,
            &f.CmdButton_LAT_DEGX1_DN,
            &f.CmdButton_LAT_MINX10_UP,
            &f.CmdButton_LAT_MINX10_DN,
            &f.CmdButton_LAT_MINX1_UP,
            &f.CmdButton_LAT_MINX1_DN,
            &f.CmdButton_LAT_MINX01_UP,
            &f.CmdButton_LAT_MINX01_DN,
            &f.CmdButton_LAT_MINX001_UP,
            &f.CmdButton_LAT_MINX001_DN,
            &f.CmdButton_LONG_DEGX100_UP,
            &f.CmdButton_LONG_DEGX100_DN,
            &f.CmdButton_LONG_DEGX10_UP,
            &f.CmdButton_LONG_DEGX10_DN,
            &f.CmdButton_LONG_DEGX1_UP,
            &f.CmdButton_LONG_DEGX1_DN,
            &f.CmdButton_LONG_MINX10_UP,
            &f.CmdButton_LONG_MINX10_DN,
            &f.CmdButton_LONG_MINX1_UP,
            &f.CmdButton_LONG_MINX1_DN,
            &f.CmdButton_LONG_MINX01_UP,
            &f.CmdButton_LONG_MINX01_DN,
            &f.CmdButton_LONG_MINX001_UP,
            &f.CmdButton_LONG_MINX001_DN,
            &f.CmdButton_BRGX100_UP,
            &f.CmdButton_BRGX100_DN,
            &f.CmdButton_BRGX10_UP,
            &f.CmdButton_BRGX10_DN,
            &f.CmdButton_BRGX1_UP,
            &f.CmdButton_BRGX1_DN,
            &f.CmdButton_RANGE,
            &f.CmdButton_TIMER,
            &f.CmdButton_ADD_PLOT,
            &f.CmdButton_SHOW_OPTIONS,
            &f.cmdbutton_EXIT};
}

inline std::vector<Button*> optionsButtons(Form_Kestrelmap_Options& o) {
    return {&o.cmdbutton_DISPLAY_BACKGROUND_COLOR,
            &o.cmdbutton_BUTTON_BACKGROUND_COLOR,
            &o.cmdbutton_LEGEND_TEXT_COLOR,
            &o.CmdButton_VECTOR_COLOR,
            &o.CmdButton_DEFAULT_COLORS,
            &o.CmdButton_COMM_PORT,
            &o.cmdbutton_EXIT,
            &o.CmdButton_NIGHT_PANEL};
}

}  // namespace kestrel::test
