// The settings file under attack: arbitrary bytes as Kestrelmap.ini. Start-up must always
// complete, silently, with a legal state (every register shows its digit or a dash, the
// hemispheres and colours are settings the program can hold, the port is 1 to 8, both hunt
// files hold the empty map document), and what a save writes must load back to the same
// settings and save again to the same bytes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "soak/hunt_checks.h"

using kestrel::Form_Kestrelmap;
using kestrel::test::HardenRig;

namespace {

[[noreturn]] void fault(const std::string& what) {
    std::fprintf(stderr, "\nSETTINGS FAULT: %s\n", what.c_str());
    std::abort();
}

std::string colourText(const kestrel::Colour& c) {
    return c.isRgb() ? std::to_string(c.rgb) : "system " + std::to_string(int(c.system));
}

// Everything a settings file decides, as one text.
std::string settingsOf(Form_Kestrelmap& f) {
    std::string s;
    for (const auto& row : kestrel::test::kRegisters) {
        const kestrel::DigitRegister& r = f.*(row.reg);
        s += std::string(row.name) + "=" + r.Tag + "/" + kestrel::test::glyphName(r.glyph) + "\n";
    }
    const auto& o = f.OptionsForm;
    s += "hemi=" + f.CmdButton_LAT_HEMI.Tag + f.CmdButton_LONG_HEMI.Tag + "\n";
    s += "colours=" + colourText(o.Picture_DISPLAY_BACKGROUND_COLOR.BackColor) + "," +
         colourText(o.Picture_BUTTON_BACKGROUND_COLOR.BackColor) + "," +
         colourText(o.Picture_LEGEND_TEXT_COLOR.BackColor) + "," +
         colourText(o.Picture_VECTOR_COLOR.BackColor) + "\n";
    s += "BUTTON_BC=" + std::to_string(f.BUTTON_BC) + " VECTOR_COLOR=" + f.VECTOR_COLOR + "\n";
    s += "port=" + std::to_string(f.MSComm1.portNumber()) + "\n";
    return s;
}

void checkLegal(HardenRig& rig) {
    Form_Kestrelmap& f = rig.main();
    kestrel::test::CheckOptions loaded;
    loaded.tagsFromSettings = true;
    if (std::string p = kestrel::test::huntProblem(f, loaded); !p.empty()) {
        fault("after start-up: " + p);
    }
    // A position register shows its value's digit exactly when the value is in its cycle.
    for (int i = 0; i < 13; ++i) {
        const auto& row = kestrel::test::kRegisters[i];
        const kestrel::DigitRegister& r = f.*(row.reg);
        const int d = kestrel::test::tagDigit(r.Tag);
        const bool inCycle = d >= 0 && d <= row.top;
        if (inCycle != (r.glyph != kestrel::Glyph::Dash)) {
            fault(std::string(row.name) + " holds '" + r.Tag + "' and shows " +
                  kestrel::test::glyphName(r.glyph));
        }
    }
    const auto& o = f.OptionsForm;
    for (const kestrel::PictureBox* box :
         {&o.Picture_DISPLAY_BACKGROUND_COLOR, &o.Picture_BUTTON_BACKGROUND_COLOR,
          &o.Picture_LEGEND_TEXT_COLOR, &o.Picture_VECTOR_COLOR}) {
        if (!box->BackColor.isRgb() || box->BackColor.rgb < 0 || box->BackColor.rgb > 0xFFFFFF) {
            fault("a colour setting of " + colourText(box->BackColor));
        }
    }
    if (f.BUTTON_BC != o.Picture_BUTTON_BACKGROUND_COLOR.BackColor.rgb) {
        fault("BUTTON_BC differs from the button colour box");
    }
    char vector[16];
    const int32_t v = o.Picture_VECTOR_COLOR.BackColor.rgb;
    std::snprintf(vector, sizeof vector, "ff%06x", static_cast<unsigned>(v));
    if (f.VECTOR_COLOR != vector) {
        fault("VECTOR_COLOR '" + f.VECTOR_COLOR + "' for colour " + std::to_string(v));
    }
    if (!rig.messages.shown.empty()) {
        fault("a message at start-up: " + rig.messages.shown.front().text);
    }
    if (!rig.files.files.contains(HardenRig::kSettings)) {
        fault("no settings file after start-up");
    }
    if (std::string p = rig.mapFilesProblem(true); !p.empty()) {
        fault(p);
    }
    if (f.MSComm1.isOpen()) {
        fault("the port stayed open after start-up");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    HardenRig rig;
    rig.files.files[HardenRig::kSettings] = std::string(reinterpret_cast<const char*>(data), size);
    rig.main().Form_Load();
    if (rig.files.writes > 8) {
        fault(std::to_string(rig.files.writes) + " file writes at start-up");
    }
    checkLegal(rig);
    const std::string loaded = settingsOf(rig.main());

    rig.main().SAVE_SETTINGS();
    const std::string saved = rig.files.files[HardenRig::kSettings];
    rig.restart().Form_Load();
    checkLegal(rig);
    if (settingsOf(rig.main()) != loaded) {
        fault("a saved file loads back differently:\n" + loaded + "---\n" + settingsOf(rig.main()));
    }
    if (rig.files.files[HardenRig::kSettings] != saved) {
        fault("loading the saved file rewrote it");
    }
    rig.main().SAVE_SETTINGS();
    if (rig.files.files[HardenRig::kSettings] != saved) {
        fault("a second save wrote other bytes");
    }

    // A plot of the stored position (by hand: no instrument needed) writes a sound map file
    // whatever the registers hold.
    rig.files.positionsAnywhere = true;
    rig.main().CmdButton_ADD_PLOT_Click();
    if (rig.main().NUMBER_OF_PLOTS != 1) {
        fault("no plot of the stored position");
    }
    if (!rig.files.faults.empty()) {
        fault(rig.files.faults.front());
    }
    if (std::string p = rig.mapFilesProblem(true); !p.empty()) {
        fault(p);
    }
    return 0;
}
