// kestrel-estimate: malformed plot logs give exit 2 and one message naming the line; a plot log
// written from a simulated hunt comes back as the same estimate.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "estimate/gates.h"
#include "estimate/number_format.h"
#include "estimate/plot_log_reader.h"
#include "estimate_hunt.h"
#include "estimate_sim.h"
#include "hunt_log/plot_log.h"
#include "kestrel-estimate/estimate_tool.h"
#include "plot_disk_files.h"

namespace kestrel::estimate {
namespace {

struct ToolRun {
    int status = 0;
    std::string out, err;
};

ToolRun runTool(std::vector<std::string_view> args) {
    std::ostringstream out, err;
    ToolRun run;
    run.status = runEstimateTool(args, out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

class EstimateTool : public ::testing::Test {
  protected:
    std::string write(const std::string& content) {
        std::string path = m_scratch.folder() + "plots.csv";
        std::string error;
        EXPECT_TRUE(m_disk.write(path, content, error)) << error;
        return path;
    }
    test::ScratchFolder m_scratch;
    test::DiskFiles m_disk;
};

TEST_F(EstimateTool, MalformedInputGivesExitTwoAndTheLine) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ":1: no header line: the file is empty"},
        {"lat,lon\n1,2\n", ":1: the header has no bearing column"},
        {"lat,bearing\n1,2\n", ":1: the header has no lon column"},
        {"lat,lon,bearing\n1,2\n", ":2: 2 fields where the header has 3"},
        {"lat,lon,bearing\r\n1,2,3\r\n\r\n1,2,3,4\r\n", ":4: 4 fields where the header has 3"},
        {"lat,lon,bearing\n1,2,x\n", ":2: bearing \"x\" is not a number"},
        {"lat,lon,bearing\n1,2,3.5e\n", ":2: bearing \"3.5e\" is not a number"},
        {"lat,lon,bearing\n1,2,nan\n", ":2: bearing \"nan\" is not a number"},
        {"lat,lon,bearing\n1,2,3\n91,2,3\n", ":3: lat \"91\" is not a latitude (-90 to 90)"},
        {"lat,lon,bearing\n1,2.5,3\n1,2,5\n,2,3\n", ":4: lat \"\" is not a latitude (-90 to 90)"},
        {"lat,lon,bearing\n1,-180.5,3\n", ":2: lon \"-180.5\" is not a longitude (-180 to 180)"},
        {"lat,lon,bearing\n1,2,3,5\n", ":2: 4 fields where the header has 3"},
        {"lat,lon,bearing\n1;5,2,3\n", ":2: lat \"1;5\" is not a latitude (-90 to 90)"},
        {"lat,lon,bearing\n1,5,2,3\n", ":2: 4 fields where the header has 3"},
        {"lat,lon,bearing,quality\n1,2,3,12\n", ":2: quality \"12\" is not a digit 0 to 9"},
        {"plot,lat,lon,bearing\n1.5,1,2,3\n", ":2: plot \"1.5\" is not a whole number"},
        {"lat,lon,bearing,turn_rate\n1,2,3,fast\n", ":2: turn_rate \"fast\" is not a number"},
        {"lat,lon,bearing,spread\n1,2,3,-0.5\n", ":2: spread \"-0.5\" is not a number 0 or more"},
        {"lat,lon,bearing,confidence\n1,2,3,99.5\n",
         ":2: confidence \"99.5\" is not a number 0 to 99"},
        {"lat,lon,bearing,frequency_hz\n1,2,3,inf\n",
         ":2: frequency_hz \"inf\" is not a number 0 or more"},
    };
    for (const auto& [content, message] : cases) {
        const std::string path = write(content);
        const ToolRun run = runTool({path});
        EXPECT_EQ(run.status, kToolFault) << content;
        std::string expected = "kestrel-estimate: " + path;
        expected += message;
        expected += '\n';
        EXPECT_EQ(run.err, expected) << content;
        EXPECT_EQ(run.out, "") << content;
    }
}

TEST_F(EstimateTool, UsageAndUnreadableFiles) {
    EXPECT_EQ(runTool({}).status, kToolFault);
    EXPECT_EQ(runTool({"--jsn", "x.csv"}).err,
              "kestrel-estimate: unknown option --jsn (see --help)\n");
    EXPECT_EQ(runTool({m_scratch.folder() + "none.csv"}).err,
              "kestrel-estimate: " + m_scratch.folder() + "none.csv: cannot be read\n");
    EXPECT_EQ(runTool({m_scratch.folder()}).status, kToolFault);
    EXPECT_EQ(runTool({"--max-turn-rate", "-1", "x.csv"}).err,
              "kestrel-estimate: --max-turn-rate: \"-1\" is not a number of degrees per second, 0 "
              "or more (see --help)\n");
    EXPECT_EQ(runTool({"--min-confidence=100", "x.csv"}).err,
              "kestrel-estimate: --min-confidence: \"100\" is not a number 0 to 99 (see --help)\n");
    EXPECT_EQ(runTool({"x.csv", "--min-confidence"}).err,
              "kestrel-estimate: --min-confidence needs a number 0 to 99 (see --help)\n");
    const ToolRun help = runTool({"--help"});
    EXPECT_EQ(help.status, kToolRan);
    EXPECT_NE(help.out.find("Exit status: 0"), std::string::npos);
}

// The value after "key": in one JSON object, as text.
std::string field(const std::string& json, const std::string& key) {
    const size_t at = json.find("\"" + key + "\": ");
    if (at == std::string::npos) {
        return "(missing)";
    }
    const size_t from = at + key.size() + 4;
    const size_t to = json[from] == '[' ? json.find(']', from) + 1 : json.find_first_of(",}", from);
    return json.substr(from, to - from);
}

// Written by the plot log's own writer (a plot without a bearing among them), then as the
// smallest file (lat, lon, bearing; ids are then row numbers). The log keeps 6 decimals and
// whole degrees, so the hunt is rounded the same way before the direct estimate.
TEST_F(EstimateTool, PlotLogRoundTrip) {
    sim::Hunt hunt = sim::makeHunt({"L300", sim::Route::Loop, 300, 7, 0.15}, 5, 30);
    hunt.bearings[6].bearingDeg += 150;
    std::string full = plotLogHeader();
    std::string small = "bearing,lon,lat\n";
    for (Bearing& b : hunt.bearings) {
        b.latitudeDeg = std::round(b.latitudeDeg * 1e6) / 1e6;
        b.longitudeDeg = std::round(b.longitudeDeg * 1e6) / 1e6;
        b.bearingDeg = std::fmod(std::round(b.bearingDeg) + 720, 360);
        PlotRecord plot;
        plot.plotNumber = b.id + 100;
        plot.latitudeDegrees = b.latitudeDeg;
        plot.longitudeDegrees = b.longitudeDeg;
        plot.bearingDegrees = static_cast<int>(b.bearingDeg);
        plot.quality = 7;
        plot.bearingFromDf = plot.positionFromGps = true;
        full += plotLogRow(plot, true, "van");
        small += fixedText(b.bearingDeg, 0) + "," + fixedText(b.longitudeDeg, 6) + "," +
                 fixedText(b.latitudeDeg, 6) + "\n";
        if (b.id == 3) {
            plot.plotNumber = 150;
            plot.bearingDegrees.reset();
            full += plotLogRow(plot, std::nullopt, "van");
            small += "," + fixedText(b.longitudeDeg, 6) + "," + fixedText(b.latitudeDeg, 6) + "\n";
        }
    }
    const Estimate direct = estimateFix(hunt.bearings);
    ASSERT_TRUE(direct.shown) << direct.reason;
    ASSERT_EQ(direct.rejectedIds.empty(), false);
    for (const std::string& content : {full, small}) {
        const ToolRun run = runTool({"--json", write(content)});
        ASSERT_EQ(run.status, kToolRan) << run.err;
        EXPECT_EQ(field(run.out, "shown"), "true");
        EXPECT_NEAR(std::stod(field(run.out, "lat")), direct.latitudeDeg, 1e-6) << run.out;
        EXPECT_NEAR(std::stod(field(run.out, "lon")), direct.longitudeDeg, 1e-6) << run.out;
        EXPECT_EQ(field(run.out, "plots"), "30");
        EXPECT_EQ(field(run.out, "used"), std::to_string(direct.used));
        // Plot numbers from the plot column; row numbers (counting the row without a bearing)
        // when there is none.
        std::string rejected = "[";
        for (int id : direct.rejectedIds) {
            const int shown = content == full ? id + 100 : (id > 3 ? id + 1 : id);
            rejected += (rejected.size() > 1 ? ", " : "") + std::to_string(shown);
        }
        EXPECT_EQ(field(run.out, "rejected"), rejected + "]") << run.out;
    }
    const ToolRun text = runTool({write(full)});
    const size_t list = text.out.find("; rejected plots ");
    ASSERT_NE(list, std::string::npos) << text.out;
    EXPECT_NE(text.out.find("107", list), std::string::npos) << text.out;
}

TEST_F(EstimateTool, NoEstimateStillRuns) {
    const ToolRun run = runTool({"--json", write("lat,lon,bearing\n1,2,3\n")});
    EXPECT_EQ(run.status, kToolRan) << run.err;
    EXPECT_EQ(
        run.out,
        "{\"shown\": false, \"reason\": \"1 plots; 5 needed\", \"lat\": null, \"lon\": null, "
        "\"semi_major_m\": null, \"semi_minor_m\": null, \"major_azimuth_deg\": null, "
        "\"cep50_m\": null, \"sigma_deg\": null, \"plots\": 1, \"used\": 1, \"rejected\": [], "
        "\"provisional\": false, \"excluded\": 0}\n");
}

// A row left out by hand weighs nothing, and is counted; a note may hold commas and quotes.
TEST_F(EstimateTool, RowsLeftOutByHandAreNotWeighed) {
    const std::string head = "plot,lat,lon,bearing,excluded,note\n";
    const std::string rows = "1,34.0,-119.0,45,,\n2,34.0,-118.9,315,,\n3,34.1,-119.0,90,,\n";
    struct Case {
        std::string extra;
        const char* plots;
        const char* excluded;
        int status;
    };
    const Case cases[] = {
        {"4,34.2,-119.1,10,1,\"beside a barn, \"\"metal\"\"\"\n", "3", "1", kToolRan},
        {"4,34.2,-119.1,10,0,\n", "4", "0", kToolRan},
        {"4,34.2,-119.1,10,yes,\n", "", "", kToolFault},
    };
    for (const Case& c : cases) {
        const ToolRun run = runTool({"--json", write(head + rows + c.extra)});
        ASSERT_EQ(run.status, c.status) << c.extra << run.err;
        if (c.status == kToolRan) {
            EXPECT_EQ(field(run.out, "plots"), c.plots) << c.extra;
            EXPECT_EQ(field(run.out, "excluded"), c.excluded) << c.extra;
        }
    }
    EXPECT_NE(runTool({write(head + rows + cases[0].extra)}).out.find("; 1 left out by hand"),
              std::string::npos);
}

// The ninth plot of a hunt, from the direction finder: the course turns by `turnDeg` in the
// second before it, its bearing is `offsetDeg` off the transmitter, and the direction finder
// gives `confidence` with it.
void plotFromTheDf(test::EstimateHunt& hunt, int turnDeg, int offsetDeg,
                   std::optional<double> confidence) {
    using test::EstimateHunt;
    Form_Kestrelmap& f = hunt.rig.main();
    test::readyToPlot(f);
    f.FILENAME_STRING = "/hunt/" + f.stamp() + ".kml";
    test::showDegrees(f, EstimateHunt::kTxLat + 0.036 * std::cos(5.6),
                      EstimateHunt::kTxLon + 0.047 * std::sin(5.6));
    const Form_Kestrelmap::Degrees at = f.displayedPosition();
    double distance = 0, azimuth = 0, back = 0;
    GeographicLib::Geodesic::WGS84().Inverse(at.latitude, at.longitude, EstimateHunt::kTxLat,
                                             EstimateHunt::kTxLon, distance, azimuth, back);
    f.CmdButton_DF_SOURCE.Tag = "DF";
    constexpr int kCourse = 100;
    for (const int course : {kCourse - turnDeg, kCourse}) {
        hunt.rig.deliver(test::withChecksum(test::rmc("3944.500,N,10459.250,W,20.0," +
                                                      std::to_string((course + 360) % 360))) +
                         "\r\n");
        hunt.rig.clock.utcMs += 500;
    }
    char line[16];
    std::snprintf(line, sizeof line, "%%%03ld\r\n",
                  (std::lround(azimuth) + offsetDeg - kCourse + 720) % 360);
    hunt.rig.deliver(line);
    if (confidence) {
        hunt.companion->bearingQuality(*confidence, -50, 146520000, hunt.rig.clock.utcMs);
    }
    f.NEXT_PLOT_NUMBER = 9;
    f.NUMBER_OF_PLOTS = 8;
    f.CmdButton_ADD_PLOT_Click();
    f.afterEvent();
}

// A bearing taken in a turn, or with too little confidence, weighs nothing in the live estimate
// and its reason shows in the estimate map; kestrel-estimate, given the same gates, reads the
// plot log to the same estimate and names each plot left out with its reason.
TEST_F(EstimateTool, GatesLeaveBearingsOutWithTheirReasons) {
    struct Case {
        const char* what;
        const char* maxTurnRate;    // the setting as text; null: the default
        const char* minConfidence;  // likewise
        int turnDeg;                // in the half second before the plot
        double confidence;          // the direction finder's; below 0: none given
        int offsetDeg;              // off the transmitter
        bool byHand;
        const char* reason;  // kestrel-estimate's for plot 9; "": used
        const char* inKml;   // in the estimate map's description
    };
    // clang-format off
    const Case cases[] = {
        {"steady",                    nullptr, nullptr, 0, -1, 0, false, "", "9 of 9 plots used"},
        {"turning 8 deg/s",           nullptr, nullptr, 4, -1, 0, false, "turning",
         "; left out while turning: plot 9"},
        {"left at 6 deg/s, the limit", nullptr, nullptr, -3, -1, 0, false, "", "9 of 9"},
        {"under a higher limit",      "10", nullptr, 4, -1, 0, false, "", "9 of 9"},
        {"the turn gate off",         "0", nullptr, 45, -1, 0, false, "", "9 of 9"},
        {"low confidence",            nullptr, "20", 0, 19.9, 0, false, "low confidence",
         "; left out for low confidence: plot 9"},
        {"confidence at the minimum", nullptr, "20", 0, 20, 0, false, "", "9 of 9"},
        {"no confidence given",       nullptr, "20", 0, -1, 0, false, "", "9 of 9"},
        {"the fit's outlier",         nullptr, nullptr, 0, -1, 70, false, "outlier",
         "8 of 9 plots used; rejected: 9"},
        {"left out by hand",          nullptr, nullptr, 0, -1, 0, true, "excluded",
         "8 of 8 plots used; sigma"},
    };
    // clang-format on
    for (const Case& c : cases) {
        Gates gates;
        std::vector<std::string> options = {"--json"};
        if (c.maxTurnRate) {
            gates.maxTurnRateDegPerS = *maxTurnRateFromText(c.maxTurnRate);
            options.push_back(std::string("--max-turn-rate=") + c.maxTurnRate);
        }
        if (c.minConfidence) {
            gates.minConfidence = *minConfidenceFromText(c.minConfidence);
            options.insert(options.end(), {"--min-confidence", c.minConfidence});
        }
        test::EstimateHunt hunt;
        hunt.companion->setGates(gates);
        hunt.plotAround(8);
        plotFromTheDf(hunt, c.turnDeg, c.offsetDeg,
                      c.confidence < 0 ? std::nullopt : std::optional(c.confidence));
        if (c.byHand) {
            hunt.companion->setExcluded(9, true, 0);
        }
        const std::string log = hunt.rig.files.files["/hunt/Current_Plots.csv"];
        const std::vector<std::string> row = csvFields(log.substr(log.rfind("\r\n9,") + 2));
        ASSERT_EQ(row.size(), 21u) << c.what << "\n" << log;
        const bool gated = *c.reason && std::string_view(c.reason) != "excluded";
        EXPECT_EQ(row[11], gated ? "0" : "1") << c.what << "\n" << log;
        const std::string& kml = hunt.rig.files.files["/hunt/Current_Estimate.kml"];
        EXPECT_NE(kml.find(c.inKml), std::string::npos) << c.what << "\n" << kml;

        options.push_back(write(log));
        const ToolRun run = runTool({options.begin(), options.end()});
        ASSERT_EQ(run.status, kToolRan) << c.what << run.err;
        EXPECT_EQ(field(run.out, "left_out"),
                  *c.reason ? "[{\"plot\": 9, \"reason\": \"" + std::string(c.reason) + "\"}]"
                            : "(missing)")
            << c.what;
        EXPECT_EQ(field(run.out, "used"), std::to_string(hunt.fix().used)) << c.what;
        EXPECT_EQ(field(run.out, "plots"), std::to_string(hunt.fix().plots)) << c.what;
    }
}

}  // namespace
}  // namespace kestrel::estimate
