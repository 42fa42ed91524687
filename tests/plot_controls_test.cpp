// The plot operation, its hold-off, the range and timer buttons and automatic plots.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_platform.h"
#include "plot_rig.h"

namespace kestrel {
namespace {

using test::FakeRig;
using test::kCurrentFile;
using test::kStampedFile;
using test::readyToPlot;

// Everything a plot may change, to show that a refused plot changes nothing.
struct PlotState {
    std::string caption;
    bool enabled;
    Colour back;
    bool blinkEnabled;
    int16_t plots;
    int16_t next;
    PlotTable table;
    int beeps;
    int writes;
    size_t messages;
    friend bool operator==(const PlotState&, const PlotState&) = default;
};

PlotState stateOf(FakeRig& rig) {
    auto& f = rig.main();
    return {f.CmdButton_ADD_PLOT.Caption,
            f.CmdButton_ADD_PLOT.Enabled,
            f.CmdButton_ADD_PLOT.BackColor,
            f.Timer_BLINK.Enabled,
            f.NUMBER_OF_PLOTS,
            f.NEXT_PLOT_NUMBER,
            f.PLOT_TABLE,
            rig.beeper.beeps,
            rig.files.writes,
            rig.messages.shown.size()};
}

TEST(PlotOperation, WorkedExampleFillsRowOneAndTheBusyState) {
    FakeRig rig;
    auto& f = rig.main();
    readyToPlot(f);
    rig.clock.time = {2026, 3, 7, 14, 21, 7};
    f.Timer_BLINK.Interval = 1;
    f.CmdButton_ADD_PLOT_Click();

    EXPECT_EQ(f.PLOT_TABLE[1][1], "-104.9875,39.74166,0");
    EXPECT_EQ(f.PLOT_TABLE[1][2], " -104.921,39.79282,0");
    EXPECT_EQ(f.PLOT_TABLE[1][3], "14:21:07");
    EXPECT_EQ(f.NUMBER_OF_PLOTS, 1);
    EXPECT_EQ(f.NEXT_PLOT_NUMBER, 1);  // advanced only when the hold-off ends
    EXPECT_EQ(rig.beeper.beeps, 1);
    EXPECT_EQ(f.CmdButton_ADD_PLOT.Caption, "GENERATING PLOT 1");
    EXPECT_FALSE(f.CmdButton_ADD_PLOT.Enabled);
    EXPECT_EQ(f.CmdButton_ADD_PLOT.BackColor, Colour::buttonFace());
    EXPECT_TRUE(f.Timer_BLINK.Enabled);
    EXPECT_EQ(f.Timer_BLINK.Interval, 3000);
    ASSERT_EQ(rig.files.files.count(kStampedFile), 1u);
    EXPECT_EQ(rig.files.files[kStampedFile], rig.files.files[kCurrentFile]);
    EXPECT_NE(rig.files.files[kCurrentFile].find("<name>14:21:07</name>"), std::string::npos);
    EXPECT_TRUE(rig.messages.shown.empty());
}

struct SourceCase {
    const char* positionSource;
    int16_t gpsTimeout;
    const char* range;
    bool plots;
    const char* endPoint;  // column 2 when it plots
};

TEST(PlotOperation, SourceFreshnessAndRange) {
    const SourceCase cases[] = {
        {"GPS", 0, "5", false, ""},  // stale GPS: silently nothing, not even the caption
        {"GPS", 1, "5", true, " -104.921,39.79282,0"},
        {"MAN", 0, "5", true, " -104.921,39.79282,0"},   // hand-entered: no GPS data needed
        {"MAN", 0, "0", true, " -104.9875,39.74166,0"},  // range OFF: the line has no length
        {"gps", 0, "5", false, ""},                      // only "MAN" exactly is hand entry
    };
    for (const SourceCase& c : cases) {
        FakeRig rig;
        auto& f = rig.main();
        readyToPlot(f);
        f.CmdButton_POSIT_SOURCE.Tag = c.positionSource;
        f.GPS_TIMEOUT = c.gpsTimeout;
        f.CmdButton_RANGE.Tag = c.range;
        const PlotState before = stateOf(rig);
        f.CmdButton_ADD_PLOT_Click();
        if (!c.plots) {
            EXPECT_TRUE(stateOf(rig) == before) << c.positionSource;
            continue;
        }
        EXPECT_EQ(f.NUMBER_OF_PLOTS, 1) << c.positionSource << c.gpsTimeout;
        EXPECT_EQ(f.PLOT_TABLE[1][2], c.endPoint) << c.positionSource << " range " << c.range;
    }
}

TEST(PlotOperation, TimeOfDayIsTwentyFourHourWithLeadingZeros) {
    const std::pair<LocalTime, const char*> cases[] = {
        {{2026, 1, 1, 0, 0, 7}, "00:00:07"},
        {{2026, 1, 1, 7, 8, 9}, "07:08:09"},
        {{2026, 1, 1, 23, 59, 59}, "23:59:59"},
    };
    for (const auto& [time, text] : cases) {
        FakeRig rig;
        readyToPlot(rig.main());
        rig.clock.time = time;
        rig.main().CmdButton_ADD_PLOT_Click();
        EXPECT_EQ(rig.main().PLOT_TABLE[1][3], text);
    }
}

TEST(PlotOperation, RefusedSilentlyDuringTheHoldOff) {
    FakeRig rig;
    auto& f = rig.main();
    readyToPlot(f);
    f.CmdButton_ADD_PLOT_Click();
    const PlotState busy = stateOf(rig);

    // A held space bar: key repeats call the operation directly, thirty a second.
    for (int i = 0; i < 30; ++i) {
        f.CmdButton_ADD_PLOT_Click();
    }
    EXPECT_TRUE(stateOf(rig) == busy);

    // A due automatic plot in the hold-off is refused too.
    f.CmdButton_TIMER.Tag = "60";
    f.PLOT_TIMER = 50;
    f.Timer_PLOT_Timer();
    EXPECT_TRUE(stateOf(rig) == busy);
    EXPECT_EQ(f.CmdButton_RANGE.Tag, "5");

    // Either half of the busy state is enough to refuse.
    f.CmdButton_ADD_PLOT.Enabled = true;
    f.CmdButton_ADD_PLOT_Click();
    EXPECT_EQ(rig.beeper.beeps, 1);
}

TEST(PlotOperation, NinetyNinePlotsThenTheOldestIsReplaced) {
    FakeRig rig;
    auto& f = rig.main();
    readyToPlot(f);
    rig.clock.time.hour = 0;
    for (int plot = 1; plot <= 99; ++plot) {
        rig.clock.time.second = plot % 60;
        rig.clock.time.minute = plot / 60;
        f.CmdButton_ADD_PLOT_Click();
        ASSERT_EQ(f.NUMBER_OF_PLOTS, plot);
        ASSERT_EQ(f.CmdButton_ADD_PLOT.Caption, "GENERATING PLOT " + std::to_string(plot));
        test::endHoldOff(f);
    }
    EXPECT_EQ(f.PLOT_TABLE[99][3], "00:01:39");
    EXPECT_EQ(f.NEXT_PLOT_NUMBER, 1);
    EXPECT_EQ(f.CmdButton_ADD_PLOT.Caption, "ADD PLOT 1");

    rig.clock.time = {2026, 3, 7, 10, 0, 0};
    f.CmdButton_ADD_PLOT_Click();
    EXPECT_EQ(f.PLOT_TABLE[1][3], "10:00:00");
    EXPECT_EQ(f.PLOT_TABLE[2][3], "00:00:02");
    EXPECT_EQ(f.NUMBER_OF_PLOTS, 99);
    EXPECT_EQ(f.CmdButton_ADD_PLOT.Caption, "GENERATING PLOT 1");
    const std::string& document = rig.files.files[kCurrentFile];
    size_t placemarks = 0;
    for (size_t at = document.find("<Placemark>"); at != std::string::npos;
         at = document.find("<Placemark>", at + 1)) {
        ++placemarks;
    }
    EXPECT_EQ(placemarks, 99u);
}

TEST(PlotOperation, PlotNumberOutsideItsRangeStartsAtOne) {
    FakeRig rig;
    auto& f = rig.main();
    readyToPlot(f);
    f.NEXT_PLOT_NUMBER = 0;
    f.CmdButton_ADD_PLOT_Click();
    EXPECT_EQ(f.NEXT_PLOT_NUMBER, 1);
    EXPECT_EQ(f.PLOT_TABLE[0][1], "");
    EXPECT_EQ(f.PLOT_TABLE[1][1], "-104.9875,39.74166,0");
}

// Presses a button n times and collects caption and Tag after each press.
template <typename Press>
std::vector<std::string> pressed(Form_Kestrelmap& f, Button& button, int n, Press press) {
    std::vector<std::string> seen;
    for (int i = 0; i < n; ++i) {
        (f.*press)();
        seen.push_back(button.Caption + "|" + button.Tag);
    }
    return seen;
}

TEST(RangeButton, StepsThroughTheRangesAndWrapsAround) {
    FakeRig rig;
    auto& f = rig.main();
    EXPECT_EQ(f.CmdButton_RANGE.Caption, "  DX    5 MI");
    const std::vector<std::string> expected = {
        " DX  10 MI|10", " DX  20 MI|20", " DX  50 MI|50", " DX   OFF|0",
        " DX   1 MI|1",  " DX   2 MI|2",  " DX   5 MI|5",  " DX  10 MI|10",
    };
    EXPECT_EQ(pressed(f, f.CmdButton_RANGE, 8, &Form_Kestrelmap::CmdButton_RANGE_Click), expected);

    for (const char* unknown : {"7", "05", " 5", ""}) {
        f.CmdButton_RANGE = {"caption", unknown};
        f.CmdButton_RANGE_Click();
        EXPECT_EQ(f.CmdButton_RANGE.Caption, "caption") << '"' << unknown << '"';
        EXPECT_EQ(f.CmdButton_RANGE.Tag, unknown);
    }
}

TEST(TimerButton, StepsThroughTheIntervalsAndRunsTheTimer) {
    FakeRig rig;
    auto& f = rig.main();
    f.PLOT_TIMER = 40;
    const std::vector<std::string> expected = {
        " TMR 1M|60", " TMR 2M|120", " TMR 5M|300", " TMR 10M|600", " TMR OFF|0", " TMR 1M|60",
    };
    std::vector<bool> running;
    std::vector<std::string> seen;
    for (int i = 0; i < 6; ++i) {
        f.PLOT_TIMER = 40;
        f.CmdButton_TIMER_Click();
        EXPECT_EQ(f.PLOT_TIMER, 0);
        seen.push_back(f.CmdButton_TIMER.Caption + "|" + f.CmdButton_TIMER.Tag);
        running.push_back(f.Timer_PLOT.Enabled);
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(running, (std::vector<bool>{true, true, true, true, false, true}));
    EXPECT_EQ(f.Timer_PLOT.Interval, 10000);

    f.CmdButton_TIMER.Tag = "90";  // unknown: only the count is reset
    f.PLOT_TIMER = 40;
    f.CmdButton_TIMER_Click();
    EXPECT_EQ(f.PLOT_TIMER, 0);
    EXPECT_EQ(f.CmdButton_TIMER.Tag, "90");
    EXPECT_TRUE(f.Timer_PLOT.Enabled);
}

TEST(AutomaticPlot, ComesOnTheThirtiethTickAtFiveMinutes) {
    FakeRig rig;
    auto& f = rig.main();
    readyToPlot(f);
    f.CmdButton_TIMER = {" TMR 2M", "120"};
    f.PLOT_TIMER = 110;
    f.CmdButton_TIMER_Click();
    EXPECT_EQ(f.CmdButton_TIMER.Caption, " TMR 5M");
    EXPECT_EQ(f.CmdButton_TIMER.Tag, "300");
    for (int tick = 1; tick < 30; ++tick) {
        f.Timer_PLOT_Timer();
        ASSERT_EQ(f.NUMBER_OF_PLOTS, 0) << "tick " << tick;
    }
    f.Timer_PLOT_Timer();
    EXPECT_EQ(f.NUMBER_OF_PLOTS, 1);
    EXPECT_EQ(f.PLOT_TIMER, 0);
    // A point with a line of zero length; the range is as before, caption untouched.
    EXPECT_EQ(f.PLOT_TABLE[1][2], " " + f.PLOT_TABLE[1][1]);
    EXPECT_EQ(f.CmdButton_RANGE.Tag, "5");
    EXPECT_EQ(f.CmdButton_RANGE.Caption, "  DX    5 MI");
    EXPECT_EQ(f.PLOT_RANGE, 5);
}

TEST(AutomaticPlot, NoPlotWhileTheLatitudeShowsADash) {
    FakeRig rig;
    auto& f = rig.main();
    readyToPlot(f);
    f.CmdButton_TIMER.Tag = "60";
    f.Picture_LAT_DEGX10.glyph = Glyph::Dash;
    for (int tick = 0; tick < 6; ++tick) {
        f.Timer_PLOT_Timer();
    }
    EXPECT_EQ(f.NUMBER_OF_PLOTS, 0);
    EXPECT_EQ(f.PLOT_TIMER, 0);  // the due tick still starts a new interval
    EXPECT_EQ(rig.beeper.beeps, 0);
}

TEST(AutomaticPlot, StaleGpsAndRangeOffAreKept) {
    FakeRig rig;
    auto& f = rig.main();
    readyToPlot(f);
    f.CmdButton_TIMER.Tag = "60";
    f.CmdButton_RANGE = {" DX   OFF", "0"};
    f.CmdButton_POSIT_SOURCE.Tag = "GPS";  // the GPS went quiet: refused, range kept
    for (int tick = 0; tick < 6; ++tick) {
        f.Timer_PLOT_Timer();
    }
    EXPECT_EQ(f.NUMBER_OF_PLOTS, 0);
    EXPECT_EQ(f.CmdButton_RANGE.Tag, "0");
    EXPECT_EQ(f.CmdButton_RANGE.Caption, " DX   OFF");
}

}  // namespace
}  // namespace kestrel
