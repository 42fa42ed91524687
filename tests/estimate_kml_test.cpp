// The estimate's map document: its lines, the provisional and the empty forms, and a read-back
// by GDAL's ogrinfo (one point, one closed polygon of 73 vertices).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "estimate/estimate_kml.h"
#include "plot_disk_files.h"

namespace kestrel::estimate {
namespace {

Estimate shownEstimate(bool provisional) {
    Estimate e;
    e.shown = true;
    e.provisional = provisional;
    e.latitudeDeg = -33.8688;
    e.longitudeDeg = 151.2093;
    e.semiMajorM = 420.4;
    e.semiMinorM = 180.2;
    e.majorAzimuthDeg = 37.2;
    e.cep50M = 150;
    e.sigmaDeg = 6.84;
    e.plots = 14;
    e.used = 12;
    e.rejectedIds = {3, 9};
    for (int k = 0; k < 72; ++k) {
        const double t = k * 5 * 3.141592653589793 / 180;
        e.ellipse95.emplace_back(-33.8688 + 0.003 * std::sin(t), 151.2093 + 0.004 * std::cos(t));
    }
    e.ellipse95.push_back(e.ellipse95.front());
    return e;
}

bool everyLineEndsWithCrLf(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            return false;
        }
    }
    return !text.empty() && text.ends_with("\r\n");
}

TEST(EstimateKml, DocumentForms) {
    struct Case {
        const char* name;
        Estimate estimate;
        std::vector<std::string> present, absent;
    };
    Estimate none;
    none.reason = "3 plots; 5 needed & <more>";
    const std::string shownDescription =
        "<description>12 of 14 plots used; rejected: 3, 9; sigma 6.8 deg; 95% ellipse 420 x 180 "
        "m, major axis 037 deg; CEP50 150 m; 2026-12-08 09:14:05 UTC</description>";
    const std::vector<Case> cases = {
        {"shown",
         shownEstimate(false),
         {"<name>Estimate</name>", "<name>95% area</name>", shownDescription,
          "<Point><coordinates>151.2093000,-33.8688000,0</coordinates></Point>", "<width>2</width>",
          R"(<Style id="est">)", R"(<Style id="ell">)"},
         {"provisional", "No estimate"}},
        {"provisional",
         shownEstimate(true),
         {"<name>Kestrelmap estimate (provisional)</name>", "<description>Provisional: 12 of 14",
          "<width>1</width>"},
         {"<width>2</width>"}},
        {"none",
         none,
         {"<description>No estimate: 3 plots; 5 needed &amp; &lt;more&gt; (2026-12-08 09:14:05 "
          "UTC)</description>",
          "<Folder>\r\n<name>Estimate</name>\r\n</Folder>"},
         {"<Placemark>"}},
    };
    for (const Case& c : cases) {
        const std::string doc = buildEstimateKml(c.estimate, "2026-12-08 09:14:05");
        EXPECT_TRUE(everyLineEndsWithCrLf(doc)) << c.name;
        for (const std::string& text : c.present) {
            EXPECT_NE(doc.find(text), std::string::npos) << c.name << ": " << text << "\n" << doc;
        }
        for (const std::string& text : c.absent) {
            EXPECT_EQ(doc.find(text), std::string::npos) << c.name << ": " << text;
        }
    }
}

using test::runCommand;

TEST(EstimateKml, ReadBackByOgrinfo) {
    if (runCommand("command -v ogrinfo").empty()) {
        GTEST_SKIP() << "ogrinfo is not on PATH: install Debian's gdal-bin (make test does)";
    }
    test::ScratchFolder scratch;
    ASSERT_TRUE(scratch.ok());
    test::DiskFiles disk;
    const std::string path = scratch.folder() + "Current_Estimate.kml";
    std::string error;
    ASSERT_TRUE(disk.write(path, buildEstimateKml(shownEstimate(false), "09:14:05"), error));
    const std::string out = runCommand("ogrinfo -ro -al '" + path + "' 2>&1");
    int points = 0, polygons = 0;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("POINT") != std::string::npos) {
            ++points;
            EXPECT_NE(line.find("151.2093 -33.8688"), std::string::npos) << line;
        }
        if (line.find("POLYGON") != std::string::npos) {
            ++polygons;
            const size_t open = line.find("((") + 2, close = line.find("))");
            ASSERT_NE(close, std::string::npos) << line;
            const std::string ring = line.substr(open, close - open);
            EXPECT_EQ(std::count(ring.begin(), ring.end(), ','), 72) << line;
            EXPECT_EQ(ring.substr(0, ring.find(',')), ring.substr(ring.rfind(',') + 1)) << line;
        }
    }
    EXPECT_EQ(points, 1) << out;
    EXPECT_EQ(polygons, 1) << out;

    ASSERT_TRUE(disk.write(path, buildEstimateKml(Estimate{}, "09:14:05"), error));
    const std::string empty = runCommand("ogrinfo -ro -al '" + path + "' 2>&1");
    EXPECT_EQ(empty.find("POINT"), std::string::npos) << empty;
    EXPECT_EQ(empty.find("ERROR"), std::string::npos) << empty;
}

}  // namespace
}  // namespace kestrel::estimate
