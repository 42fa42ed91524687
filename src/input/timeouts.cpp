#include <string>

#include "app/form_kestrelmap.h"

namespace kestrel {

namespace {

constexpr int16_t kLastPlotNumber = 99;

}  // namespace

// Ages the instrument data once a second. A counter at zero dashes what depends on it, at
// every tick for as long as it stays there; the registers keep their values.
void Form_Kestrelmap::Timer_TIMEOUT_Timer() {
    if (GPS_TIMEOUT > 0) {
        --GPS_TIMEOUT;
    }
    if (GPS_TIMEOUT < 1) {
        GPRMC_STRING.clear();
        COURSE = 0;
        SPEED = 0;
        if (CmdButton_POSIT_SOURCE.Tag == "GPS") {
            for (DigitRegister* reg : positionRegisters()) {
                SHOW_GLYPH(*reg, Glyph::Dash);
            }
        }
    }
    if (DF_TIMEOUT > 0) {
        --DF_TIMEOUT;
    }
    if (CmdButton_DF_SOURCE.Tag == "DF" && DF_TIMEOUT < 1) {
        for (DigitRegister* reg : bearingRegisters()) {
            SHOW_GLYPH(*reg, Glyph::Dash);
        }
    }
}

// Ends the plot button's hold-off after a plot and moves on to the next plot number.
void Form_Kestrelmap::Timer_BLINK_Timer() {
    CmdButton_ADD_PLOT.BackColor = Colour::fromRgb(BUTTON_BC);
    Timer_BLINK.setEnabled(false);
    CmdButton_ADD_PLOT.Enabled = true;
    const int next = NEXT_PLOT_NUMBER + 1;
    NEXT_PLOT_NUMBER = static_cast<int16_t>(next > kLastPlotNumber ? 1 : next);
    CmdButton_ADD_PLOT.Caption = "ADD PLOT " + std::to_string(NEXT_PLOT_NUMBER);
}

}  // namespace kestrel
