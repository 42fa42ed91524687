// kestrel-estimate: malformed plot logs give exit 2 and one message naming the line; a plot log
// written from a simulated hunt comes back as the same estimate.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "estimate/number_format.h"
#include "estimate/plot_log_reader.h"
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

}  // namespace
}  // namespace kestrel::estimate
