#include "live_map/map_documents.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "plot_disk_files.h"

namespace kestrel::live_map {
namespace {

using nlohmann::json;

MapPlot plotAt(int row, double lat, double lon, std::optional<int> bearing,
               std::optional<bool> used = true, std::string vehicle = "") {
    MapPlot plot;
    plot.row = row;
    plot.plotNumber = row;
    plot.utcMilliseconds = 1796740867000;  // 2026-12-08T14:41:07Z
    plot.latitudeDeg = lat;
    plot.longitudeDeg = lon;
    plot.bearingDeg = bearing;
    plot.used = bearing ? used : std::nullopt;
    plot.positionSource = "GPS";
    plot.bearingSource = "DF";
    plot.vehicle = std::move(vehicle);
    return plot;
}

HuntView sampleHunt() {
    HuntView hunt;
    hunt.stamp = "120826_144107";
    hunt.live = true;
    hunt.status = "3 plots; 5 needed";
    hunt.vectorColour = "#00ff00";
    hunt.team = {{"Van 2", "#ffa500", TrackPoint{1796740867000, 34.5, -119.6}}};
    return hunt;
}

// Every position of a geometry: inside the ranges, with at most 6 decimals.
void expectTidyPositions(const json& coordinates, const std::string& where) {
    if (coordinates.is_array() && !coordinates.empty() && coordinates[0].is_number()) {
        const double lon = coordinates[0], lat = coordinates[1];
        EXPECT_TRUE(lon >= -180 && lon <= 180 && lat >= -90 && lat <= 90) << where << coordinates;
        EXPECT_DOUBLE_EQ(lon, std::round(lon * 1e6) / 1e6) << where;
        return;
    }
    for (const json& inner : coordinates) {
        expectTidyPositions(inner, where);
    }
}

TEST(MapDocumentsGeoJson, PlotFeatures) {
    const struct {
        const char* name;
        MapPlot plot;
        const char* lineType;  // nullptr: no bearing feature
        const char* verdict;
        bool rejected;
        const char* colour;
        json vehicle;
    } cases[] = {
        {"own, used", plotAt(1, 34.4, -119.7, 42), "LineString", "used", false, "#00ff00", nullptr},
        {"rejected", plotAt(2, 34.4, -119.7, 42, false), "LineString", "rejected", true, "#00ff00",
         nullptr},
        {"no verdict", plotAt(3, 34.4, -119.7, 42, std::nullopt), "LineString", "none", false,
         "#00ff00", nullptr},
        {"team", plotAt(4, 34.4, -119.7, 300, true, "Van 2"), "LineString", "used", false,
         "#ffa500", "Van 2"},
        {"unknown vehicle", plotAt(5, 34.4, -119.7, 300, true, "Ghost"), "LineString", "used",
         false, "#808080", "Ghost"},
        {"no bearing", plotAt(6, 34.4, -119.7, std::nullopt), nullptr, "none", false, "", nullptr},
        {"east over 180", plotAt(7, 10, 179.99, 90), "MultiLineString", "used", false, "#00ff00",
         nullptr},
        {"west over 180", plotAt(8, -10, -179.99, 270), "MultiLineString", "used", false, "#00ff00",
         nullptr},
        {"89.9 N", plotAt(9, 89.9, 20, 90), "LineString", "used", false, "#00ff00", nullptr},
        {"over the pole", plotAt(10, 89.99, 0, 0), "LineString", "used", false, "#00ff00", nullptr},
    };
    const HuntView hunt = sampleHunt();
    for (const auto& c : cases) {
        const std::vector<json> features = plotFeatures(hunt, c.plot);
        const std::string row = std::to_string(c.plot.row);
        ASSERT_EQ(features.size(), c.lineType ? 2u : 1u) << c.name;
        const json& point = features[0];
        EXPECT_EQ(point["id"], "plot-" + row) << c.name;
        EXPECT_EQ(point["properties"]["kind"], "plot") << c.name;
        EXPECT_EQ(point["properties"]["verdict"], c.verdict) << c.name;
        EXPECT_EQ(point["properties"]["vehicle"], c.vehicle) << c.name;
        EXPECT_EQ(point["properties"]["utc"], "2026-12-08T14:41:07Z") << c.name;
        if (!c.lineType) {
            continue;
        }
        const json& line = features[1];
        EXPECT_EQ(line["id"], "bearing-" + row) << c.name;
        EXPECT_EQ(line["geometry"]["type"], c.lineType) << c.name;
        EXPECT_EQ(line["properties"]["rejected"], c.rejected) << c.name;
        EXPECT_EQ(line["properties"]["colour"], c.colour) << c.name;
        EXPECT_EQ(line["properties"]["vehicle"], c.vehicle) << c.name;
        expectTidyPositions(line["geometry"]["coordinates"], c.name);
    }
}

// A line cut at the antimeridian: each piece on its own side, meeting at +180/-180.
TEST(MapDocumentsGeoJson, AntimeridianPiecesMeetAtTheEdges) {
    const struct {
        double lon, bearing, firstEdge;
    } cases[] = {{179.99, 90, 180}, {-179.99, 270, -180}, {179.999, 60, 180}};
    for (const auto& c : cases) {
        const json geometry = geodesicLineGeometry(10, c.lon, c.bearing, 2);
        ASSERT_EQ(geometry["type"], "MultiLineString") << c.lon;
        const json& pieces = geometry["coordinates"];
        ASSERT_EQ(pieces.size(), 2u) << c.lon;
        EXPECT_EQ(pieces[0].back()[0], c.firstEdge) << c.lon;
        EXPECT_EQ(pieces[1].front()[0], -c.firstEdge) << c.lon;
        EXPECT_EQ(pieces[0].back()[1], pieces[1].front()[1]) << c.lon;
        for (const json& p : pieces[0]) {
            EXPECT_GT(double(p[0]) * c.firstEdge, 0) << c.lon;
        }
        for (const json& p : pieces[1]) {
            EXPECT_LT(double(p[0]) * c.firstEdge, 0) << c.lon;
        }
        EXPECT_EQ(pieces[0].size() + pieces[1].size(), 35u) << "33 points and the two cuts";
    }
}

// A ring of (lat, lon) round a centre, listed clockwise or not, longitudes normalised.
std::vector<std::pair<double, double>> ringAround(double lat, double lon, double radiusDeg,
                                                  bool clockwise) {
    std::vector<std::pair<double, double>> ring;
    for (int i = 0; i <= 72; ++i) {
        const double t = (clockwise ? -1 : 1) * i * 5 * std::numbers::pi / 180;
        ring.emplace_back(lat + radiusDeg * std::sin(t),
                          std::remainder(lon + radiusDeg * std::cos(t), 360.0));
    }
    return ring;
}

double signedArea(const json& ring) {
    double twice = 0;
    for (size_t i = 0; i + 1 < ring.size(); ++i) {
        twice += double(ring[i][0]) * double(ring[i + 1][1]) -
                 double(ring[i + 1][0]) * double(ring[i][1]);
    }
    return twice / 2;
}

TEST(MapDocumentsGeoJson, EllipseRingsCounterClockwiseAndClosed) {
    const struct {
        const char* name;
        std::vector<std::pair<double, double>> ring;
        const char* type;
        size_t polygons;
    } cases[] = {
        {"clockwise", ringAround(34.5, -119.7, 0.01, true), "Polygon", 1},
        {"counter-clockwise", ringAround(34.5, -119.7, 0.01, false), "Polygon", 1},
        {"over 180", ringAround(-16, 179.995, 0.01, true), "MultiPolygon", 2},
        {"one point", ringAround(89.99, 0, 0, false), "", 0},
        {"cap",
         [] {
             std::vector<std::pair<double, double>> r;
             for (int lon = 0; lon <= 360; lon += 5) {
                 r.emplace_back(89.5, std::remainder(lon, 360.0));
             }
             return r;
         }(),
         "Polygon", 1},
    };
    for (const auto& c : cases) {
        const json geometry = ringGeometry(c.ring);
        if (c.polygons == 0) {
            EXPECT_TRUE(geometry.is_null()) << c.name;
            continue;
        }
        ASSERT_EQ(geometry["type"], c.type) << c.name;
        const json polygons =
            c.polygons == 1 ? json::array({geometry["coordinates"]}) : geometry["coordinates"];
        ASSERT_EQ(polygons.size(), c.polygons) << c.name;
        for (const json& polygon : polygons) {
            const json& ring = polygon[0];
            EXPECT_EQ(ring.front(), ring.back()) << c.name;
            EXPECT_GT(signedArea(ring), 0) << c.name;
            expectTidyPositions(ring, c.name);
        }
    }
}

TEST(MapDocumentsGeoJson, CollectionInOrderWithoutNonFiniteNumbers) {
    HuntView hunt = sampleHunt();
    hunt.vehicle = {true, 34.45, -119.65, 90, std::nullopt, 23, 42, NAN};
    hunt.track = {{1, 34.4, -119.7}, {2, 34.41, -119.7}};
    hunt.plots = {plotAt(1, 34.4, -119.7, 42), plotAt(2, NAN, -119.7, std::nullopt)};
    const json none = huntGeoJson(hunt);
    std::vector<std::string> ids;
    for (const json& f : none["features"]) {
        ids.push_back(f["id"]);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"car", "live-bearing", "track", "plot-1", "bearing-1",
                                             "plot-2", "vehicle-Van 2"}));
    EXPECT_EQ(none["status"], "3 plots; 5 needed");
    EXPECT_EQ(none["stamp"], "120826_144107");
    EXPECT_EQ(none["features"][1]["properties"]["range_mi"], nullptr);
    EXPECT_EQ(none["features"][5]["geometry"], nullptr);
    EXPECT_EQ(none["features"][0]["properties"]["heading"], nullptr);

    hunt.estimate.shown = true;
    hunt.estimate.latitudeDeg = 34.5;
    hunt.estimate.longitudeDeg = -119.6;
    hunt.estimate.cep50M = INFINITY;
    hunt.estimate.ellipse95 = ringAround(34.5, -119.6, 0.01, true);
    hunt.plots[0].vehicle = "\xff\x01Van";  // not UTF-8: must still dump
    const json fix = huntGeoJson(hunt);
    EXPECT_EQ(fix["features"][6]["id"], "estimate");
    EXPECT_EQ(fix["features"][6]["properties"]["status"], "3 plots; 5 needed");
    EXPECT_EQ(fix["features"][6]["properties"]["cep50_m"], nullptr);
    EXPECT_EQ(fix["features"][7]["id"], "ellipse");
    EXPECT_EQ(fix["features"][3]["properties"]["vehicle"], "\xEF\xBF\xBDVan");
    EXPECT_NO_THROW((void)fix.dump());
    EXPECT_TRUE(estimateFeatures(sampleHunt()).empty()) << "no estimate shown";
}

TEST(MapDocumentsGpx, EscapesNamesAndWritesEveryPlot) {
    HuntView hunt = sampleHunt();
    hunt.plots = {plotAt(1, 34.4, -119.7, 42), plotAt(2, 34.4, 180, 7, false, "<Van&\"Co\"'>\x01"),
                  plotAt(3, 34.4, -119.7, std::nullopt), plotAt(4, NAN, 0, 1)};
    hunt.track = {{1796740867000, 34.4, -119.7}};
    const std::string gpx = huntGpx(hunt);
    size_t waypoints = 0;
    for (size_t at = gpx.find("<wpt "); at != std::string::npos; at = gpx.find("<wpt ", at + 1)) {
        ++waypoints;
    }
    EXPECT_EQ(waypoints, 3u) << "the plot without a position has no waypoint";
    for (const char* expected :
         {"<name>&lt;Van&amp;&quot;Co&quot;&apos;&gt; 2</name>", "<name>Plot 1</name>",
          "<desc>bearing 042\u00B0, used</desc>", "<desc>bearing 007\u00B0, rejected</desc>",
          "<desc>no bearing</desc>", "lat=\"34.400000\" lon=\"-180.000000\"",
          "<time>2026-12-08T14:41:07Z</time>", "<trkpt lat=\"34.400000\" lon=\"-119.700000\">",
          "xmlns=\"http://www.topografix.com/GPX/1/1\""}) {
        EXPECT_NE(gpx.find(expected), std::string::npos) << expected;
    }
    EXPECT_EQ(gpx.find('\x01'), std::string::npos);
}

// Other programs read the downloads: GDAL both documents, gpsbabel the GPX.
TEST(MapDocuments, ReadBackByOgrinfoAndGpsbabel) {
    if (test::runCommand("command -v ogrinfo").empty() ||
        test::runCommand("command -v gpsbabel").empty()) {
        GTEST_SKIP() << "ogrinfo or gpsbabel is missing: install gdal-bin and gpsbabel (make test)";
    }
    test::ScratchFolder scratch;
    ASSERT_TRUE(scratch.ok());
    HuntView hunt = sampleHunt();
    hunt.plots = {plotAt(1, 34.4, -119.7, 42), plotAt(2, 34.41, -119.69, 350, false),
                  plotAt(3, 10, 179.99, 90)};  // its line crosses the antimeridian
    hunt.track = {{1796740867000, 34.4, -119.7}, {1796740868000, 34.4001, -119.7001}};
    test::DiskFiles disk;
    std::string error;
    const std::string geojson = scratch.folder() + "hunt.geojson";
    const std::string gpx = scratch.folder() + "hunt.gpx";
    const json document = huntGeoJson(hunt);
    ASSERT_TRUE(disk.write(geojson, document.dump(), error)) << error;
    ASSERT_TRUE(disk.write(gpx, huntGpx(hunt), error)) << error;

    const std::string features = test::runCommand("ogrinfo -ro -al -so '" + geojson + "' 2>&1");
    EXPECT_NE(features.find("Feature Count: " + std::to_string(document["features"].size())),
              std::string::npos)
        << features;
    const std::string lines = test::runCommand("ogrinfo -ro -al '" + geojson + "' 2>&1");
    EXPECT_NE(lines.find("MULTILINESTRING"), std::string::npos) << lines;
    const std::string waypoints =
        test::runCommand("ogrinfo -ro -so '" + gpx + "' waypoints track_points 2>&1");
    EXPECT_NE(waypoints.find("Feature Count: 3"), std::string::npos) << waypoints;
    EXPECT_NE(waypoints.find("Feature Count: 2"), std::string::npos) << waypoints;
    const std::string kml = scratch.folder() + "hunt.kml";
    EXPECT_EQ(test::runCommand("gpsbabel -i gpx -f '" + gpx + "' -o kml -F '" + kml +
                               "' 2>&1 && echo converted"),
              "converted\n");
}

}  // namespace
}  // namespace kestrel::live_map
