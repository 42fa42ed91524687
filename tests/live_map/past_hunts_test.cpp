#include "live_map/past_hunts.h"

#include <gtest/gtest.h>

#include <GeographicLib/Geodesic.hpp>
#include <filesystem>
#include <fstream>

#include "hunt_log/plot_log.h"

namespace kestrel::live_map {
namespace {

namespace fs = std::filesystem;

// A folder of its own under the system's temporary folder, removed afterwards.
class MapPastHunts : public ::testing::Test {
  protected:
    void SetUp() override {
        m_folder =
            fs::temp_directory_path() /
            ("kestrel-past-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_folder / "hunts");
    }
    void TearDown() override { fs::remove_all(m_folder); }

    std::string folder() const { return (m_folder / "hunts").string() + "/"; }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(folder() + name, std::ios::binary) << text;
    }

    fs::path m_folder;
};

// A plot `distanceM` from the transmitter at (34.5, -119.7), bearing `offsetDeg` off it.
PlotRecord plotTowards(int number, double azimuthDeg, double distanceM, double offsetDeg = 0) {
    const auto& wgs84 = GeographicLib::Geodesic::WGS84();
    PlotRecord plot;
    plot.plotNumber = number;
    plot.utcMilliseconds = 1796740867000 + number * 60000;
    double backAzimuth = 0;
    wgs84.Direct(34.5, -119.7, azimuthDeg, distanceM, plot.latitudeDegrees, plot.longitudeDegrees,
                 backAzimuth);
    plot.bearingDegrees =
        static_cast<int>(std::lround(std::fmod(backAzimuth + 540 + offsetDeg, 360)));
    plot.quality = 7;
    plot.positionFromGps = plot.bearingFromDf = true;
    return plot;
}

std::string goodLog() {
    std::string log = plotLogHeader();
    for (int i = 1; i <= 6; ++i) {
        log += plotLogRow(plotTowards(i, i * 50, 3000), true, i > 4 ? "Van 2" : "");
    }
    PlotRecord noBearing = plotTowards(7, 0, 1000);
    noBearing.bearingDegrees.reset();
    log += plotLogRow(noBearing, std::nullopt, "");
    log += "8,2026-12-08T14:49:07Z,91.5,-119.7,42,,,,,GPS,DF,1,COG,\r\n";  // damaged: latitude
    log += plotLogRow(plotTowards(9, 20, 4000, 90), true, "Van 3");        // wrong by 90 degrees
    return log;
}

TEST_F(MapPastHunts, ListsWellFormedStampsNewestFirst) {
    write("120726_140509_plots.csv", goodLog());
    for (const char* name :
         {"010127_080000_plots.csv", "123126_235959_plots.csv", "120826_000000_plots.csv",
          "12345_123456_plots.csv", "x_plots.csv", "120726_140509_input.log",
          "120726_140509_plots.csv.bak", "1207261_40509_plots.csv", "120726_14050a_plots.csv"}) {
        write(name, plotLogHeader());
    }
    std::ofstream(m_folder / "x_plots.csv") << plotLogHeader();  // "../x_plots.csv"
    const std::vector<PastHunt> hunts = listHunts(folder());
    std::vector<std::string> stamps;
    for (const PastHunt& hunt : hunts) {
        stamps.push_back(hunt.stamp);
    }
    EXPECT_EQ(stamps, (std::vector<std::string>{"010127_080000", "123126_235959", "120826_000000",
                                                "120726_140509"}));
    ASSERT_EQ(hunts.size(), 4u);
    EXPECT_EQ(hunts[3].plots, 8);
    EXPECT_EQ(hunts[3].firstPlotUtcMilliseconds, 1796740867000 + 60000);
    EXPECT_EQ(hunts[0].plots, 0);
    EXPECT_TRUE(listHunts(folder() + "missing/").empty());
}

TEST_F(MapPastHunts, LoadsPlotsTrackEstimateAndTeam) {
    write("120726_140509_plots.csv", goodLog());
    write("120726_140509_input.log",
          "2026-12-08T14:21:07.100Z\tGPS\t$GPRMC,142107.00,A,3427.810,N,11941.950,W,23.0,84.0,"
          "081226,,*29\r\n"
          "2026-12-08T14:21:07.600Z\tGPS\t$GNRMC,142107.50,A,3427.820,N,11941.950,W,23.0,84.0,"
          "081226,,*31\r\n"  // the same second: dropped
          "2026-12-08T14:21:08.000Z\tGPS\t$GPRMC,142108.00,A,3427.830,S,11941.960,E,23.0,84.0,"
          "081226,,*00\r\n"  // bad checksum
          "2026-12-08T14:21:09.000Z\tGPS\t$GPRMC,142109.00,V,,,,,,,081226,,*1F\r\n"
          "2026-12-08T14:21:09.500Z\tDF\t%042/7\r\n"
          "garbage\r\n"
          "2026-12-08T14:21:10.000Z\tGPS\t$GPRMC,142108.00,A,3427.830,S,11941.960,E,23.0,84.0,"
          "081226,,*28\r\n");
    std::string error;
    const std::optional<HuntView> hunt = loadHunt(folder(), "120726_140509", error);
    ASSERT_TRUE(hunt) << error;
    EXPECT_EQ(error, "");
    ASSERT_EQ(hunt->plots.size(), 8u) << "the damaged row is skipped";
    EXPECT_EQ(hunt->plots[6].row, 7);
    EXPECT_EQ(hunt->plots[7].row, 9) << "rows keep their place in the file";
    EXPECT_FALSE(hunt->plots[6].bearingDeg);
    EXPECT_DOUBLE_EQ(hunt->plots[0].rangeMiles, 2);
    ASSERT_EQ(hunt->track.size(), 2u);
    EXPECT_NEAR(hunt->track[0].latitudeDeg, 34 + 27.81 / 60, 1e-9);
    EXPECT_NEAR(hunt->track[0].longitudeDeg, -(119 + 41.95 / 60), 1e-9);
    EXPECT_NEAR(hunt->track[1].latitudeDeg, -(34 + 27.83 / 60), 1e-9);
    EXPECT_TRUE(hunt->estimate.shown) << hunt->estimate.reason;
    EXPECT_NEAR(hunt->estimate.latitudeDeg, 34.5, 0.01);
    EXPECT_TRUE(hunt->plots[0].used.value_or(false));
    EXPECT_FALSE(hunt->plots[7].used.value_or(true)) << "90 degrees off: rejected";
    EXPECT_EQ(hunt->status.rfind("FIX ", 0), 0u) << hunt->status;
    EXPECT_EQ(hunt->vectorColour, "#ff0000");
    ASSERT_EQ(hunt->team.size(), 2u);
    EXPECT_EQ(hunt->team[0].name, "Van 2");
    EXPECT_EQ(hunt->team[0].colour, "#ffa500");
    EXPECT_EQ(hunt->team[1].colour, "#ff00ff");
    EXPECT_DOUBLE_EQ(hunt->team[0].position->latitudeDeg, hunt->plots[5].latitudeDeg);
}

TEST_F(MapPastHunts, RefusesOrToleratesWhatTheFilesHold) {
    write("010127_080000_plots.csv",
          "plot,utc,lat,lon,bearing,relative,course,speed_kn,quality,position_source,"
          "bearing_source,used,heading_from,vehicle,added,more\r\n"
          "1,2027-01-01T08:00:00Z,34.5,-119.7,42,,,,7,GPS,DF,1,COG,,x,y\r\n");
    write("010127_080001_plots.csv", "lon,lat\nnot,a\n-119.7,34.5\n");
    write("010127_080002_plots.csv", "plot,lat,lon\n1,x,2\n2,3\n3,nan,2\n");
    write("010127_080003_plots.csv", "plot,bearing\n1,42\n");
    write("010127_080004_plots.csv", std::string(kMaxFileBytes + 1, '\n'));
    const struct {
        std::string stamp;
        size_t plots;  // 0: refused
        const char* error;
    } cases[] = {
        {"010127_080000", 1, ""},  // two columns more than the header names today
        {"010127_080001", 1, ""},
        {"010127_080002", 0, "no row of the plot log could be read (3 damaged)"},
        {"010127_080003", 0, "the plot log's header has no lat or lon column"},
        {"010127_080004", 0, "the plot log is too large"},
        {"010127_080005", 0, "the plot log cannot be read"},
        {"../010127_080000", 0, "not a hunt stamp (MMDDYY_HHMMSS)"},
        {"010127_08000", 0, "not a hunt stamp (MMDDYY_HHMMSS)"},
        {"010127-080000", 0, "not a hunt stamp (MMDDYY_HHMMSS)"},
        {"", 0, "not a hunt stamp (MMDDYY_HHMMSS)"},
    };
    for (const auto& c : cases) {
        std::string error = "left over";
        const std::optional<HuntView> hunt = loadHunt(folder(), c.stamp, error);
        EXPECT_EQ(hunt ? hunt->plots.size() : 0u, c.plots) << c.stamp;
        EXPECT_EQ(error, c.error) << c.stamp;
    }
}

}  // namespace
}  // namespace kestrel::live_map
