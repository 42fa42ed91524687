// The map document and its two files: the exact lines, the failure paths, and a read-back
// by a real KML reader.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/hunt_stamp.h"
#include "fakes/fake_platform.h"
#include "plot/kml_document.h"
#include "plot_disk_files.h"
#include "plot_rig.h"

namespace kestrel {
namespace {

using test::FakeRig;
using test::kCurrentFile;
using test::kStampedFile;
using test::readyToPlot;
using test::runCommand;

// The document's lines; every line must end with CR LF.
std::vector<std::string> linesOf(const std::string& document) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < document.size()) {
        const size_t end = document.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "text after the last CR LF: " << document.substr(start);
            break;
        }
        lines.push_back(document.substr(start, end - start));
        start = end + 2;
    }
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "stray line end in " << line;
    }
    return lines;
}

void expectLines(const std::string& document, const std::vector<std::string>& expected) {
    const std::vector<std::string> lines = linesOf(document);
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i], expected[i]) << "line " << i + 1;
    }
}

const std::vector<std::string> kHead = {
    R"(<?xml version="1.0" encoding="UTF-8"?>)",
    R"(<kml xmlns="http://www.opengis.net/kml/2.2")",
    R"(xmlns:gx="http://www.google.com/kml/ext/2.2")",
    R"(xmlns:kml="http://www.opengis.net/kml/2.2")",
    R"(xmlns:atom="http://www.w3.org/2005/Atom">)",
    "<Document>",
};
const std::vector<std::string> kTail = {"</Document>", "</kml>"};

// The 21 lines of one placemark, styles in the schema's order.
std::vector<std::string> placemark(const std::string& name, const std::string& colour,
                                   const std::string& position, const std::string& endPoint) {
    return {"<Placemark>",
            "<name>" + name + "</name>",
            "<Style>",
            "<IconStyle><Icon>",
            "<href>http://maps.google.com/mapfiles/kml/shapes/target.png</href>",
            "</Icon></IconStyle>",
            "<LabelStyle><color>ff00ffff</color></LabelStyle>",
            "<LineStyle><color>" + colour + "</color><width>3</width></LineStyle>",
            "</Style>",
            "<MultiGeometry>",
            "<Point><coordinates>",
            position,
            "</coordinates></Point>",
            "<LineString>",
            "<coordinates>",
            position,
            endPoint,
            "</coordinates>",
            "</LineString>",
            "</MultiGeometry>",
            "</Placemark>"};
}

std::vector<std::string> document(const std::vector<std::vector<std::string>>& placemarks) {
    std::vector<std::string> lines = kHead;
    for (const auto& p : placemarks) {
        lines.insert(lines.end(), p.begin(), p.end());
    }
    lines.insert(lines.end(), kTail.begin(), kTail.end());
    return lines;
}

// Two plots: the worked example, then N 0° 30′ W 0° 15′ with the range OFF.
void makeTwoPlots(Form_Kestrelmap& f, LocalTime& clock) {
    clock = {2026, 3, 7, 14, 21, 7};
    f.CmdButton_ADD_PLOT_Click();
    test::endHoldOff(f);
    test::showPosition(f, "0030000001500", "N", "W");
    f.CmdButton_RANGE.Tag = "0";
    clock = {2026, 3, 7, 14, 22, 10};
    f.CmdButton_ADD_PLOT_Click();
}

const auto kFirst =
    placemark("14:21:07", "ff0000ff", "-104.9875,39.74166,0", " -104.921,39.79282,0");
const auto kSecond = placemark("14:22:10", "ff0000ff", "-0.25,0.5,0", " -0.25,0.5,0");

TEST(KmlDocument, NoPlotsIsTheEightLineEmptyDocument) {
    FakeRig rig;
    auto& f = rig.main();
    readyToPlot(f);
    ASSERT_FALSE(f.writeHuntFiles());
    expectLines(rig.files.files[kStampedFile], document({}));
    EXPECT_EQ(rig.files.files[kStampedFile], rig.files.files[kCurrentFile]);
    EXPECT_EQ(linesOf(rig.files.files[kCurrentFile]).size(), 8u);
}

TEST(KmlDocument, OnePlacemarkPerPlotLineByLine) {
    FakeRig rig;
    auto& f = rig.main();
    readyToPlot(f);
    makeTwoPlots(f, rig.clock.time);
    expectLines(rig.files.files[kStampedFile], document({kFirst, kSecond}));
    EXPECT_EQ(rig.files.files[kStampedFile], rig.files.files[kCurrentFile]);

    // A new line colour recolours every placemark at the next write.
    f.VECTOR_COLOR = "ff00ff00";
    f.BUILD_KML_FILE();
    const auto green = [](std::vector<std::string> p) {
        p[7] = "<LineStyle><color>ff00ff00</color><width>3</width></LineStyle>";
        return p;
    };
    expectLines(rig.files.files[kCurrentFile], document({green(kFirst), green(kSecond)}));
}

TEST(KmlDocument, PlotCountOutsideTheTableIsClamped) {
    PlotTable table;
    EXPECT_EQ(kmlDocument(table, -4, "ff0000ff"), kmlDocument(table, 0, "ff0000ff"));
    EXPECT_EQ(linesOf(kmlDocument(table, 150, "ff0000ff")).size(), 8u + 99 * 21);
    table[1][3] = "a<b&c";
    EXPECT_NE(kmlDocument(table, 1, "ff0000ff").find("<name>a&lt;b&amp;c</name>"),
              std::string::npos);
}

struct FailureCase {
    const char* what;
    void (*breakFiles)(test::FakeFiles&);
    const std::string* failedFile;
};

void expectFailureRun(const FailureCase& c) {
    SCOPED_TRACE(c.what);
    FakeRig rig;
    auto& f = rig.main();
    readyToPlot(f);
    rig.files.failReason = "Read-only file system";
    c.breakFiles(rig.files);

    f.CmdButton_ADD_PLOT_Click();
    ASSERT_EQ(rig.messages.shown.size(), 1u);
    const auto& told = rig.messages.shown[0];
    EXPECT_NE(told.text.find(*c.failedFile), std::string::npos) << told.text;
    EXPECT_NE(told.text.find("Read-only file system"), std::string::npos) << told.text;
    EXPECT_EQ(told.title, "Kestrelmap");
    EXPECT_EQ(told.buttons, MessageButtons::Ok);
    // The plot is kept and the program goes on as after any plot.
    EXPECT_EQ(f.NUMBER_OF_PLOTS, 1);
    EXPECT_EQ(f.PLOT_TABLE[1][1], "-104.9875,39.74166,0");
    EXPECT_EQ(f.CmdButton_ADD_PLOT.Caption, "GENERATING PLOT 1");

    // The run goes on: a second failure is quiet.
    test::endHoldOff(f);
    rig.files.failAll = true;
    f.CmdButton_ADD_PLOT_Click();
    EXPECT_EQ(rig.messages.shown.size(), 1u);
    EXPECT_EQ(f.NUMBER_OF_PLOTS, 2);

    // The next plot that can write puts the whole table in both files and ends the run.
    test::endHoldOff(f);
    rig.files = test::FakeFiles{};
    f.CmdButton_ADD_PLOT_Click();
    EXPECT_EQ(rig.messages.shown.size(), 1u);
    EXPECT_EQ(linesOf(rig.files.files[kStampedFile]).size(), 8u + 3 * 21);
    EXPECT_EQ(rig.files.files[kStampedFile], rig.files.files[kCurrentFile]);

    // A failure after a success starts a new run, which is told again.
    test::endHoldOff(f);
    c.breakFiles(rig.files);
    f.CmdButton_ADD_PLOT_Click();
    EXPECT_EQ(rig.messages.shown.size(), 2u);
    EXPECT_EQ(f.NUMBER_OF_PLOTS, 4);
}

TEST(KmlFiles, FailedWritesKeepThePlotsAndAreToldOncePerRun) {
    const FailureCase cases[] = {
        {"folder missing", [](test::FakeFiles& x) { x.failAll = true; }, &kStampedFile},
        {"stamped file", [](test::FakeFiles& x) { x.failOnWrite = x.writes + 1; }, &kStampedFile},
        {"current file", [](test::FakeFiles& x) { x.failOnWrite = x.writes + 2; }, &kCurrentFile},
        {"current locked", [](test::FakeFiles& x) { x.unwritable.insert(kCurrentFile); },
         &kCurrentFile},
    };
    for (const FailureCase& c : cases) {
        expectFailureRun(c);
    }
}

TEST(KmlFiles, OneFileFailingDoesNotStopTheOther) {
    FakeRig rig;
    auto& f = rig.main();
    readyToPlot(f);
    rig.files.unwritable.insert(kStampedFile);
    const std::optional<WriteFailure> failure = f.writeHuntFiles(true);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->file, kStampedFile);
    EXPECT_EQ(failure->reason, "No space left on device");
    EXPECT_EQ(rig.files.files.count(kCurrentFile), 1u);
}

// ---- Read back by GDAL's ogrinfo ----

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path == nullptr ? "" : path);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && std::filesystem::exists(std::filesystem::path(dir) / program)) {
            return true;
        }
    }
    return false;
}

// The text after `opening` up to the next ")".
std::string group(const std::string& line, const std::string& opening) {
    const size_t start = line.find(opening);
    if (start == std::string::npos) {
        return {};
    }
    const size_t from = start + opening.size();
    return line.substr(from, line.find(')', from) - from);
}

std::vector<double> numbersIn(std::string text) {
    std::replace(text.begin(), text.end(), ',', ' ');
    std::istringstream in(text);
    std::vector<double> numbers;
    for (double v = 0; in >> v;) {
        numbers.push_back(v);
    }
    return numbers;
}

TEST(KmlFiles, ReadBackByARealKmlReader) {
    if (!onPath("ogrinfo")) {
        GTEST_SKIP() << "ogrinfo is not on PATH: install Debian's gdal-bin to read the map "
                        "file back (make test does)";
    }
    test::ScratchFolder scratch;
    ASSERT_TRUE(scratch.ok());
    FakeRig rig;
    test::DiskFiles disk;
    Platform platform{rig.serial, rig.messages, rig.picker, rig.beeper, rig.clock, disk};
    Form_Kestrelmap f(platform, scratch.folder());
    readyToPlot(f);
    f.FILENAME_STRING = scratch.folder() + "030726_090503.kml";
    f.CURRENT_FILENAME = scratch.folder() + "Current_Hunt.kml";
    makeTwoPlots(f, rig.clock.time);
    ASSERT_TRUE(rig.messages.shown.empty());

    EXPECT_EQ(disk.read(f.FILENAME_STRING), disk.read(f.CURRENT_FILENAME));

    // Each placemark reads back as one feature: a collection of one point and one line of
    // two vertices, e.g. "GEOMETRYCOLLECTION Z (POINT Z (-0.25 0.5 0),LINESTRING Z (...))".
    const std::string out = runCommand("ogrinfo -ro -al '" + f.CURRENT_FILENAME + "' 2>&1");
    std::vector<std::vector<double>> features;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find("GEOMETRYCOLLECTION") != std::string::npos) {
            const std::string point = group(line, "POINT Z (");
            const std::string vertices = group(line, "LINESTRING Z (");
            ASSERT_EQ(std::count(vertices.begin(), vertices.end(), ','), 1) << line;
            features.push_back(numbersIn(std::string(point).append(" ").append(vertices)));
        }
    }
    const std::vector<std::vector<double>> expected = {
        {-104.9875, 39.74166, 0, -104.9875, 39.74166, 0, -104.921, 39.79282, 0},
        {-0.25, 0.5, 0, -0.25, 0.5, 0, -0.25, 0.5, 0},
    };
    ASSERT_EQ(features.size(), expected.size()) << out;
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(features[i].size(), expected[i].size()) << out;
        for (size_t k = 0; k < expected[i].size(); ++k) {
            EXPECT_NEAR(features[i][k], expected[i][k], 1e-9) << "feature " << i + 1 << "\n" << out;
        }
    }
    EXPECT_NE(out.find("Name (String) = 14:21:07"), std::string::npos) << out;
}

// The live document links the hunt and the estimate; both of GDAL's KML drivers open it.
TEST(KmlFiles, LiveDocumentOpensInBothGdalKmlDrivers) {
    if (!onPath("ogrinfo")) {
        GTEST_SKIP() << "ogrinfo is not on PATH: install Debian's gdal-bin (make test does)";
    }
    test::ScratchFolder scratch;
    ASSERT_TRUE(scratch.ok());
    test::DiskFiles disk;
    const std::string path = scratch.folder() + "Live_Hunt.kml";
    std::string error;
    ASSERT_TRUE(disk.write(path, liveHuntDocument(), error)) << error;
    for (const char* skip : {"", "GDAL_SKIP=LIBKML "}) {
        const std::string out = runCommand(std::string(skip) + "ogrinfo -ro '" + path + "' 2>&1");
        EXPECT_NE(out.find("successful"), std::string::npos) << skip << out;
    }
    const std::string document = liveHuntDocument();
    for (const char* href :
         {"<href>Current_Hunt.kml</href>", "<href>Current_Estimate.kml</href>"}) {
        EXPECT_NE(document.find(href), std::string::npos) << href;
    }
    EXPECT_EQ(document.find("Current_Team.kml"), std::string::npos);
    EXPECT_NE(liveHuntDocument(true).find("<href>Current_Team.kml</href>"), std::string::npos);
}

}  // namespace
}  // namespace kestrel
