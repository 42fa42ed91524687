// What a plot announces and the plot log row it becomes; the estimate companion's files, status
// line and failures.

#include <gtest/gtest.h>

#include <GeographicLib/Geodesic.hpp>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "estimate/plot_log_reader.h"
#include "estimate_hunt.h"
#include "hunt/bearing_quality.h"
#include "hunt/hunt_estimate.h"
#include "hunt/status_line.h"
#include "hunt_log/plot_log.h"
#include "input_test_support.h"
#include "plot_rig.h"

namespace kestrel {
namespace {

using test::EstimateHunt;
using test::InputRig;
using test::readyToPlot;

struct PlotCatcher : HuntObserver {
    explicit PlotCatcher(Form_Kestrelmap& f) { f.addObserver(*this); }
    void plotMade(const PlotRecord& plot) override { plots.push_back(plot); }
    std::vector<PlotRecord> plots;
};

// A window whose bearings are judged by how they were taken.
struct QualityRig : InputRig {
    BearingQuality quality{main()};
};

// The plot log row of one plot made on a window prepared by `prepare`.
template <typename Prepare>
std::string rowOfPlot(Prepare prepare) {
    QualityRig rig;
    Form_Kestrelmap& f = rig.main();
    readyToPlot(f);
    PlotCatcher catcher(f);
    prepare(rig, f);
    if (catcher.plots.empty()) {
        f.CmdButton_ADD_PLOT_Click();
    }
    if (catcher.plots.size() != 1) {
        return "plots: " + std::to_string(catcher.plots.size());
    }
    return plotLogRow(catcher.plots[0],
                      catcher.plots[0].bearingDegrees ? std::optional(true) : std::nullopt, "", {},
                      rig.quality.judge(catcher.plots[0]));
}

// Puts both sources on the instruments with a fix (course 100, 20 knots) and the bearing line.
void onInstruments(InputRig& rig, Form_Kestrelmap& f, const std::string& bearingLine,
                   const std::string& course = "100.0", const std::string& knots = "20.0") {
    f.CmdButton_POSIT_SOURCE.Tag = "GPS";
    f.CmdButton_DF_SOURCE.Tag = "DF";
    rig.deliver(test::withChecksum(test::rmc("3944.500,N,10459.250,W," + knots + "," + course)) +
                "\r\n");
    rig.deliver(bearingLine + "\r\n");
}

// A turn of 10 degrees a second, right across north, with a bearing line each second.
void turning(InputRig& rig, Form_Kestrelmap& f, const char* knots = "20.0") {
    for (const char* course : {"350.0", "0.0", "10.0"}) {
        onInstruments(rig, f, "%045", course, knots);
        rig.clock.utcMs += 1000;
    }
    rig.clock.utcMs -= 1000;
}

TEST(PlotLogRow, WhatEachKindOfPlotWrites) {
    using R = QualityRig;
    using F = Form_Kestrelmap;
    struct Case {
        const char* what;
        std::function<void(R&, F&)> prepare;
        std::string row;
    };
    const std::string head = "1,2026-03-07T09:05:03Z,39.741667,-104.987500,";
    const Case cases[] = {
        {"hand-entered position and bearing", [](R&, F&) {},
         head + "45,,,,,MAN,MAN,1,,,,,,,,,\r\n"},
        {"range OFF draws no line", [](R&, F& f) { f.CmdButton_RANGE.Tag = "0"; },
         head + ",,,,,MAN,MAN,,,,,,,,,,\r\n"},
        {"south and east", [](R&, F& f) { test::showPosition(f, "0100000010000", "S", "E"); },
         "1,2026-03-07T09:05:03Z,-1.000000,1.000000,45,,,,,MAN,MAN,1,,,,,,,,,\r\n"},
        {"both instruments, quality digit", [](R& r, F& f) { onInstruments(r, f, "%045/7"); },
         head + "145,45,100,20,7,GPS,DF,1,COG,,,,,,,,\r\n"},
        {"a bearing line without quality", [](R& r, F& f) { onInstruments(r, f, "%045"); },
         head + "145,45,100,20,,GPS,DF,1,COG,,,,,,,,\r\n"},
        {"a stale bearing draws no line",
         [](R& r, F& f) {
             onInstruments(r, f, "%045/7");
             f.DF_TIMEOUT = 0;
         },
         head + ",,100,20,,GPS,DF,,,,,,,,,,\r\n"},
        {"a timed plot draws no line",
         [](R&, F& f) {
             f.CmdButton_TIMER.Tag = "60";
             for (int i = 0; i < 6; ++i) {
                 f.Timer_PLOT_Timer();
             }
         },
         head + ",,,,,MAN,MAN,,,,,,,,,,\r\n"},
        {"turning while the bearings come in", [](R& r, F& f) { turning(r, f); },
         "1,2026-03-07T09:05:05Z,39.741667,-104.987500,55,45,10,20,,GPS,DF,1,COG,,,,10.0,8.2,,,"
         "\r\n"},
        {"a course below 3 knots is not a turn",
         [](R& r, F& f) {
             turning(r, f, "2.0");
             onInstruments(r, f, "%045", "10.0", "3.0");
         },
         "1,2026-03-07T09:05:05Z,39.741667,-104.987500,55,45,10,3,,GPS,DF,1,COG,,,,,,,,\r\n"},
        {"a refused bearing line is none of the spread",
         [](R& r, F& f) {
             for (const char* line : {"%045", "%-12", "%045"}) {
                 onInstruments(r, f, line);
                 r.clock.utcMs += 1000;
             }
             r.clock.utcMs -= 1000;
         },
         "1,2026-03-07T09:05:05Z,39.741667,-104.987500,145,45,100,20,,GPS,DF,1,COG,,,,0.0,,,,\r\n"},
        {"a heading sensor's turn",
         [](R& r, F& f) {
             f.CmdButton_DF_SOURCE.Tag = "DF";
             r.deliver("$HEHDT,100,T\r\n");
             r.clock.utcMs += 1000;
             r.deliver("$HEHDT,104,T\r\n%045\r\n");
         },
         "1,2026-03-07T09:05:04Z,39.741667,-104.987500,149,45,,,,MAN,DF,1,HDT,,,,4.0,,,,\r\n"},
        {"the direction finder's quality, rounded",
         [](R& r, F& f) {
             onInstruments(r, f, "%045/7");
             r.quality.qualityGiven(87.26, -0.04, 433920000.5, r.clock.utcMs);
         },
         head + "145,45,100,20,7,GPS,DF,1,COG,,,,,,87.3,0.0,433920000\r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rowOfPlot(c.prepare), c.row) << c.what;
    }
}

TEST(PlotLogRow, NumbersKeepTheirPointUnderADecimalCommaLocale) {
    PlotRecord plot;
    plot.plotNumber = 7;
    plot.latitudeDegrees = 12.3456789;
    plot.longitudeDegrees = -0.5;
    const char* previous = std::setlocale(LC_ALL, "de_DE.UTF-8");
    const std::string row = plotLogRow(plot, std::nullopt, "car,1");
    std::setlocale(LC_ALL, previous ? previous : "C");
    EXPECT_EQ(row, "7,1970-01-01T00:00:00Z,12.345679,-0.500000,,,,,,MAN,MAN,,,car_1,,,,,,,\r\n");
}

TEST(HuntEstimate, FilesAndStatusLineFollowTheHunt) {
    EstimateHunt hunt;
    auto& files = hunt.rig.files.files;
    const std::string stamp = hunt.rig.main().stamp();
    EXPECT_EQ(files["/hunt/Current_Plots.csv"], plotLogHeader());
    EXPECT_EQ(files["/hunt/" + stamp + "_plots.csv"], plotLogHeader());
    EXPECT_NE(files["/hunt/Current_Estimate.kml"].find("5 needed"), std::string::npos);
    EXPECT_EQ(hunt.rig.main().Label_IDENT.Caption.rfind("No fix yet: ", 0), 0u)
        << hunt.rig.main().Label_IDENT.Caption;

    hunt.plotAround(8);
    const estimate::Estimate& fix = hunt.fix();
    ASSERT_TRUE(fix.shown) << fix.reason;
    double miss = 0;
    GeographicLib::Geodesic::WGS84().Inverse(fix.latitudeDeg, fix.longitudeDeg,
                                             EstimateHunt::kTxLat, EstimateHunt::kTxLon, miss);
    EXPECT_LT(miss, 100);
    const std::string& status = hunt.rig.main().Label_IDENT.Caption;
    EXPECT_EQ(status.rfind("FIX N 39 4", 0), 0u) << status;
    EXPECT_NE(status.find("8 of 8 plots  |  provisional"), std::string::npos) << status;
    EXPECT_EQ(files["/hunt/Current_Estimate.kml"], files["/hunt/" + stamp + "_estimate.kml"]);
    EXPECT_NE(files["/hunt/Current_Estimate.kml"].find("<Polygon>"), std::string::npos);

    const std::string& log = files["/hunt/Current_Plots.csv"];
    EXPECT_EQ(log, files["/hunt/" + stamp + "_plots.csv"]);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 9);
    EXPECT_NE(log.find(",MAN,MAN,1,,,,,,,,,\r\n8,"), std::string::npos) << log;

    // The status line follows the position shown: from the transmitter itself, a few metres.
    test::showPosition(hunt.rig.main(), "3948001045700", "N", "W");
    hunt.rig.main().afterEvent();
    EXPECT_NE(status.find("° 0.0"), std::string::npos) << status;
}

TEST(HuntEstimate, HuntFilesAreTheSameWithAndWithoutTheEstimate) {
    EstimateHunt with;
    EstimateHunt without(false);
    with.plotAround(7);
    without.plotAround(7);
    const std::string stamped = "/hunt/" + with.rig.main().stamp() + ".kml";
    for (const std::string& path : {std::string("/hunt/Current_Hunt.kml"), stamped}) {
        ASSERT_EQ(with.rig.files.files.count(path), 1u) << path;
        EXPECT_EQ(with.rig.files.files[path], without.rig.files.files[path]) << path;
    }
    EXPECT_EQ(without.rig.files.files.count("/hunt/Current_Plots.csv"), 0u);
}

TEST(HuntEstimate, AFailingLogIsToldOnceAndLosesNoRow) {
    EstimateHunt hunt;
    hunt.rig.files.unwritable.insert("/hunt/Current_Plots.csv");
    hunt.plotAround(3);
    ASSERT_EQ(hunt.rig.messages.shown.size(), 1u);
    EXPECT_NE(
        hunt.rig.messages.shown[0].text.find("The plot log /hunt/Current_Plots.csv could not"),
        std::string::npos);
    hunt.rig.files.unwritable.clear();
    hunt.plotAround(1);
    EXPECT_EQ(hunt.rig.messages.shown.size(), 1u);
    const std::string& log = hunt.rig.files.files["/hunt/Current_Plots.csv"];
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 5) << log;
    EXPECT_NE(hunt.rig.files.files["/hunt/Current_Hunt.kml"].find("<Placemark>"),
              std::string::npos);
}

// The hunter leaves a plot out and takes it back: the estimate, the status line, the estimate
// map and the log follow at once, and the log read back gives the same estimate.
TEST(HuntEstimate, PlotsLeftOutByHandAndNotes) {
    using Review = HuntEstimate::Review;
    EstimateHunt hunt;
    hunt.plotAround(8);
    hunt.rig.main().CmdButton_RANGE.Tag = "0";  // no line: nothing to leave out
    hunt.plotFrom(EstimateHunt::kTxLat + 0.03, EstimateHunt::kTxLon);
    HuntEstimate& estimate = *hunt.companion;
    auto& files = hunt.rig.files.files;
    const std::string& log = files["/hunt/Current_Plots.csv"];
    const std::string& status = hunt.rig.main().Label_IDENT.Caption;
    ASSERT_TRUE(hunt.fix().shown);
    const struct {
        const char* what;
        std::function<Review()> act;
        Review expected;
        int plots;  // bearings the estimate weighs afterwards
        const char* inLog;
    } steps[] = {
        {"leave out", [&] { return estimate.setExcluded(3, true, 0); }, Review::Changed, 7,
         ",MAN,MAN,1,,,1,,,,,,\r\n"},
        {"again: nothing changes", [&] { return estimate.setExcluded(3, true, 0); },
         Review::Unchanged, 7, ",,1,,,,,,\r\n"},
        {"no such row", [&] { return estimate.setExcluded(10, true, 0); }, Review::NoSuchRow, 7,
         ""},
        {"a plot without a line", [&] { return estimate.setExcluded(9, true, 0); },
         Review::NoBearing, 7, ""},
        {"a note with a comma and quotes", [&] { return estimate.setNote(3, "barn, \"metal\""); },
         Review::Changed, 7, ",1,\"barn, \"\"metal\"\"\",,,,,\r\n"},
        {"use again", [&] { return estimate.setExcluded(3, false, 0); }, Review::Changed, 8,
         ",,\"barn, \"\"metal\"\"\",,,,,\r\n"},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(step.act(), step.expected) << step.what;
        EXPECT_EQ(hunt.fix().plots, step.plots) << step.what;
        EXPECT_NE(log.find(step.inLog), std::string::npos) << step.what << "\n" << log;
        EXPECT_EQ(log, files["/hunt/" + hunt.rig.main().stamp() + "_plots.csv"]) << step.what;
        const bool leftOut = step.plots == 7;
        EXPECT_EQ(status.find("1 left out by hand") != std::string::npos, leftOut) << status;
        // kestrel-estimate reads the same log to the same estimate.
        const estimate::PlotLog read = estimate::readPlotLog(log);
        ASSERT_TRUE(read.ok) << read.error;
        EXPECT_EQ(read.excludedRows, leftOut ? 1 : 0) << step.what;
        const estimate::Estimate again = estimate::estimateFix(read.bearings);
        EXPECT_NEAR(again.latitudeDeg, hunt.fix().latitudeDeg, 1e-6) << step.what;
        EXPECT_NEAR(again.longitudeDeg, hunt.fix().longitudeDeg, 1e-6) << step.what;
    }
    EXPECT_NE(files["/hunt/Current_Estimate.kml"].find("8 of 8"), std::string::npos);
    // The estimate map names a plot left out with its note, as text.
    estimate.setExcluded(3, true, 0);
    estimate.setNote(3, "<script>alert(1)</script>");
    EXPECT_NE(files["/hunt/Current_Estimate.kml"].find(
                  "; left out by hand: plot 3 (&lt;script&gt;alert(1)&lt;/script&gt;)"),
              std::string::npos)
        << files["/hunt/Current_Estimate.kml"];
    EXPECT_EQ(files["/hunt/Current_Estimate.kml"].find("<script>"), std::string::npos);
    estimate.setExcluded(3, false, 0);
    const auto verdicts = estimate.verdicts();
    EXPECT_EQ(verdicts.size(), 8u);
    EXPECT_EQ(estimate.review(3)->note, "<script>alert(1)</script>");
}

// Bearings another vehicle of the team made count in the estimate and go into the log under its
// name; the status line says how many vehicles contributed.
TEST(HuntEstimate, TeamPlotsJoinTheEstimateAndTheLog) {
    EstimateHunt hunt;
    hunt.companion->setVehicleName("red");
    hunt.plotAround(3);
    for (int i = 0; i < 3; ++i) {
        const double angle = 3.5 + i * 0.9;
        const double lat = EstimateHunt::kTxLat + 0.03 * std::cos(angle);
        const double lon = EstimateHunt::kTxLon + 0.04 * std::sin(angle);
        double distance = 0, azimuth = 0, back = 0;
        GeographicLib::Geodesic::WGS84().Inverse(lat, lon, EstimateHunt::kTxLat,
                                                 EstimateHunt::kTxLon, distance, azimuth, back);
        PlotRecord plot;
        plot.plotNumber = i + 1;
        plot.latitudeDegrees = lat;
        plot.longitudeDegrees = lon;
        plot.bearingDegrees = static_cast<int>(std::lround(azimuth + 360) % 360);
        hunt.companion->teamPlotReceived(plot, "blue");
    }
    ASSERT_TRUE(hunt.fix().shown) << hunt.fix().reason;
    EXPECT_EQ(hunt.fix().plots, 6);
    const std::string& status = hunt.rig.main().Label_IDENT.Caption;
    EXPECT_NE(status.find("6 of 6 plots from 2 vehicles"), std::string::npos) << status;
    const std::string& log = hunt.rig.files.files["/hunt/Current_Plots.csv"];
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 7);
    EXPECT_NE(log.find(",MAN,MAN,1,,red,,,,,,,\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(",MAN,MAN,1,,blue,,,,,,,\r\n"), std::string::npos) << log;
}

TEST(StatusLine, PanelNotationRoundsMinutesWithTheirCarry) {
    struct Case {
        double lat, lon;
        const char* text;
    };
    const Case cases[] = {
        {34.4185, -119.7416667, "N 34 25.11 W 119 44.50"},
        {-0.5, 0.25, "S 00 30.00 E 000 15.00"},
        {12.99999999, -179.999999, "N 13 00.00 W 180 00.00"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(panelNotation(c.lat, c.lon), c.text);
    }
}

}  // namespace
}  // namespace kestrel
