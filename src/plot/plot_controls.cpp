#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "app/form_kestrelmap.h"
#include "app/text_number.h"
#include "plot/number_text.h"

namespace kestrel {

namespace {

constexpr int16_t kMaxPlots = 99;
constexpr int kBlinkIntervalMs = 3000;
constexpr int16_t kPlotTickSeconds = 10;

struct Setting {
    std::string_view tag;
    std::string_view caption;
};

// The range button steps through these in order; after the last comes the first.
constexpr Setting kRangeSteps[] = {
    {"1", " DX   1 MI"},  {"2", " DX   2 MI"},  {"5", " DX   5 MI"}, {"10", " DX  10 MI"},
    {"20", " DX  20 MI"}, {"50", " DX  50 MI"}, {"0", " DX   OFF"},
};

// The timer button likewise; the setting with tag "0" stops automatic plots.
constexpr Setting kTimerSteps[] = {
    {"60", " TMR 1M"},   {"120", " TMR 2M"}, {"300", " TMR 5M"},
    {"600", " TMR 10M"}, {"0", " TMR OFF"},
};

// The setting after the one whose tag the button holds, or nothing for an unknown tag.
template <size_t N>
const Setting* nextSetting(const Setting (&steps)[N], const std::string& tag) {
    for (size_t i = 0; i < N; ++i) {
        if (steps[i].tag == tag) {
            return &steps[(i + 1) % N];
        }
    }
    return nullptr;
}

std::string twoDigits(int value) {
    char buf[16];
    const auto result = std::to_chars(buf, buf + sizeof buf, value);
    std::string text(buf, result.ptr);
    return text.size() < 2 ? "0" + text : text;
}

// The placemark name: the time of day, HH:MM:SS on the 24-hour clock.
std::string timeOfDayText(const LocalTime& t) {
    return twoDigits(t.hour) + ":" + twoDigits(t.minute) + ":" + twoDigits(t.second);
}

}  // namespace

// The plot operation, whichever way it is started (button, space bar, "@PLOT", Timer_PLOT).
// During the hold-off after a plot it does nothing, so every plot gets its own row and the
// plot count always equals the rows filled.
void Form_Kestrelmap::CmdButton_ADD_PLOT_Click() {
    if (!CmdButton_ADD_PLOT.Enabled || Timer_BLINK.Enabled) {
        return;
    }
    if (CmdButton_POSIT_SOURCE.Tag != "MAN" && GPS_TIMEOUT == 0) {
        return;
    }
    if (NEXT_PLOT_NUMBER < 1 || NEXT_PLOT_NUMBER > kMaxPlots) {
        NEXT_PLOT_NUMBER = 1;  // never written outside rows 1 to 99
    }
    m_platform.beeper.beep();

    CmdButton_ADD_PLOT.BackColor = Colour::buttonFace();
    Timer_BLINK.setInterval(kBlinkIntervalMs);
    Timer_BLINK.setEnabled(true);
    CmdButton_ADD_PLOT.Enabled = false;

    POSITION();
    ENDPOINT();
    const PlotRecord record = plotRecord();

    auto& row = PLOT_TABLE[static_cast<size_t>(NEXT_PLOT_NUMBER)];
    row[1] = coordinateText(GOOGLE_LONGITUDE_DEGREES) + "," +
             coordinateText(GOOGLE_LATITUDE_DEGREES) + ",0";
    const float endLongitude = static_cast<float>(static_cast<double>(GOOGLE_LONGITUDE_DEGREES) +
                                                  static_cast<double>(DELTA_LONGITUDE));
    const float endLatitude = static_cast<float>(static_cast<double>(GOOGLE_LATITUDE_DEGREES) +
                                                 static_cast<double>(DELTA_LATITUDE));
    row[2] = " " + coordinateText(endLongitude) + "," + coordinateText(endLatitude) + ",0";
    row[3] = timeOfDayText(m_platform.clock.now());

    NUMBER_OF_PLOTS = std::min<int16_t>(static_cast<int16_t>(NUMBER_OF_PLOTS + 1), kMaxPlots);

    BUILD_KML_FILE();
    announcePlot(record);

    // A failure message runs its own event loop, in which Timer_BLINK may already have ended
    // the busy state; its "ADD PLOT" caption then stands.
    if (Timer_BLINK.Enabled && !CmdButton_ADD_PLOT.Enabled) {
        CmdButton_ADD_PLOT.Caption = "GENERATING PLOT" + signedText(int{NEXT_PLOT_NUMBER});
    }
}

void Form_Kestrelmap::CmdButton_RANGE_Click() {
    if (const Setting* next = nextSetting(kRangeSteps, CmdButton_RANGE.Tag)) {
        CmdButton_RANGE.Caption = next->caption;
        CmdButton_RANGE.Tag = next->tag;
    }
}

void Form_Kestrelmap::CmdButton_TIMER_Click() {
    PLOT_TIMER = 0;
    if (const Setting* next = nextSetting(kTimerSteps, CmdButton_TIMER.Tag)) {
        CmdButton_TIMER.Caption = next->caption;
        CmdButton_TIMER.Tag = next->tag;
        Timer_PLOT.setEnabled(next->tag != "0");
    }
}

// Every 10 seconds while automatic plotting is on: when the chosen interval has passed and a
// position is shown, a plot with a line of zero length.
void Form_Kestrelmap::Timer_PLOT_Timer() {
    PLOT_TIMER = static_cast<int16_t>(std::min(PLOT_TIMER + kPlotTickSeconds, INT16_MAX + 0));
    if (leadingNumber(CmdButton_TIMER.Tag) > PLOT_TIMER) {
        return;
    }
    PLOT_TIMER = 0;
    if (showsDash(Picture_LAT_DEGX10)) {
        return;
    }
    const double range = std::clamp(roundHalfEven(leadingNumber(CmdButton_RANGE.Tag)),
                                    double{INT16_MIN}, double{INT16_MAX});
    // Kept locally as well: a failure message during the plot runs an event loop in which
    // another tick may overwrite PLOT_RANGE.
    const auto savedRange = static_cast<int16_t>(range);
    PLOT_RANGE = savedRange;
    CmdButton_RANGE.Tag = "0";
    CmdButton_ADD_PLOT_Click();
    CmdButton_RANGE.Tag = std::to_string(savedRange);
}

}  // namespace kestrel
