// Kestrelmap as an operator meets it: the real window on an X server, clicks at the designed
// places, keys through the X server, instruments on a pseudo-terminal linked as COM1, and
// checks of what the operator reads off the digit panel and what a map viewer reads from the
// files.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <thread>

#include "e2e/session.h"
#include "free_port.h"
#include "kestrel-sim/command_line.h"
#include "kestrel-sim/geo.h"

namespace kestrel::e2e {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kDashes = "-- --.--  --- --.--  ---";

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Switches both sources to the instruments with the buttons the operator uses.
void instrumentsOn(Session& s) {
    s.click("CmdButton_POSIT_SOURCE");
    ASSERT_TRUE(s.instruments().waitListening(5s)) << "GPS POS did not open COM1";
    s.click("CmdButton_DF_SOURCE");
}

// Every full-length bearing line of the map passes within a mile of the transmitter; the number
// of such lines.
int expectLinesThrough(const MapFile& map, sim::GeoPoint transmitter, double rangeMiles) {
    int fullLength = 0;
    for (const Placemark& mark : map.placemarks) {
        const double length = sim::distanceMiles(mark.lineStart, mark.lineEnd);
        if (std::abs(length - rangeMiles) > 0.02 * rangeMiles) {
            continue;  // a plot without a fresh bearing has no line
        }
        ++fullLength;
        const double miss = sim::distanceToSegmentMiles(transmitter, mark.lineStart, mark.lineEnd);
        std::cout << "e2e: plot " << mark.name << ": the line passes " << miss
                  << " miles from the transmitter\n";
        EXPECT_LE(miss, 1.0) << "plot " << mark.name << " from " << mark.lineStart.latDeg << ","
                             << mark.lineStart.lonDeg << " along "
                             << sim::bearingDeg(mark.lineStart, mark.lineEnd);
    }
    return fullLength;
}

TEST(E2e, GpsAndBearingDigitsThenDashesWhenSilent) {
    Session s;
    Instruments& gear = s.instruments();
    gear.gps(rmc("A,4807.038,N,01131.000,E,022.4,084.4"));
    gear.bearing("%090/7");
    s.startProgram();
    EXPECT_TRUE(s.x().search(kMessageTitle).empty()) << "a message box at start-up";

    s.click("CmdButton_POSIT_SOURCE");
    ASSERT_TRUE(gear.waitListening(5s)) << "GPS POS did not open COM1";
    // The position follows the GPS; the bearing is still the hand-entered 000.
    EXPECT_EQ(s.waitPanel("48 07.04  011 31.00  000"), "48 07.04  011 31.00  000");
    s.click("CmdButton_DF_SOURCE");
    // True bearing: course 84 plus the relative 90.
    EXPECT_EQ(s.waitPanel("48 07.04  011 31.00  174"), "48 07.04  011 31.00  174");

    // Another fix: minutes exactly half way go to the even hundredth, 300 + 100 wraps to 040.
    gear.gps(rmc("A,4807.125,S,01131.135,W,015.0,300.0"));
    gear.bearing("%100/8");
    EXPECT_EQ(s.waitPanel("48 07.12  011 31.14  040"), "48 07.12  011 31.14  040");
    s.screenshot("live");

    // The instruments fall silent: the digits stay while the data is fresh, then dashes.
    gear.silence();
    const Clock::time_point silent = Clock::now();
    EXPECT_EQ(s.waitPanel(kDashes, 14s), kDashes);
    const double seconds = secondsSince(silent);
    EXPECT_GE(seconds, 7.5) << "dashes came too early";
    EXPECT_LE(seconds, 12.5) << "dashes came too late";
    s.screenshot("silent");
    EXPECT_TRUE(s.program().running());
}

TEST(E2e, SpdBelowThreeKnots) {
    Session s;
    Instruments& gear = s.instruments();
    gear.gps(rmc("A,3944.500,N,10459.250,W,001.5,270.0"));
    gear.bearing("%045/6");
    s.startProgram();
    instrumentsOn(s);
    // Each bearing line shows S P D; the next time-out tick turns it to dashes until the next
    // line, a quarter of a second later.
    EXPECT_EQ(s.waitPanel("39 44.50  104 59.25  SPD"), "39 44.50  104 59.25  SPD");
    s.screenshot("spd");

    struct Case {
        const char* speed;
        const char* bearing;
    };
    for (const Case& c : {Case{"003.0", "315"}, Case{"002.9", "SPD"}, Case{"012.0", "315"}}) {
        gear.gps(rmc(std::string("A,3944.500,N,10459.250,W,") + c.speed + ",270.0"));
        const std::string expected = std::string("39 44.50  104 59.25  ") + c.bearing;
        EXPECT_EQ(s.waitPanel(expected), expected) << "at " << c.speed << " knots";
    }
}

TEST(E2e, PlotsWriteBothMapFiles) {
    Session s;
    Instruments& gear = s.instruments();
    gear.gps(rmc("A,3944.500,N,10459.250,W,020.0,000.0"));
    gear.bearing("%045/8");
    s.startProgram();

    // At start-up both hunt files hold the empty hunt, and the live map points at the current one.
    for (const auto& path : {s.currentMapFile(), s.stampedMapFile()}) {
        const std::optional<MapFile> empty = readMapFile(path);
        ASSERT_TRUE(empty) << path << " is missing or broken";
        EXPECT_TRUE(empty->complete && empty->crlfEverywhere) << path;
        EXPECT_TRUE(empty->placemarks.empty()) << path;
    }
    const std::optional<MapFile> live = readMapFile(s.folder() / "Live_Hunt.kml");
    ASSERT_TRUE(live) << "no Live_Hunt.kml";
    EXPECT_NE(live->text.find("<href>Current_Hunt.kml</href>"), std::string::npos) << live->text;

    instrumentsOn(s);
    ASSERT_EQ(s.waitPanel("39 44.50  104 59.25  045"), "39 44.50  104 59.25  045");

    // Three plots, one by each of the operator's ways and the remote one, each after the plot
    // button's three-second hold-off.
    s.keys({"space"});
    std::optional<MapFile> map = s.waitPlacemarks(1, 3s);
    ASSERT_TRUE(map && map->placemarks.size() == 1) << "the space bar made no plot";
    EXPECT_EQ(map->placemarks[0].pointText, "-104.9875,39.74166,0");
    EXPECT_EQ(map->placemarks[0].lineEndText, " -104.921,39.79282,0");  // 5 miles at 045
    s.screenshot("generating-plot");

    std::this_thread::sleep_for(3300ms);
    s.click("CmdButton_ADD_PLOT");
    map = s.waitPlacemarks(2, 3s);
    ASSERT_TRUE(map && map->placemarks.size() == 2) << "ADD PLOT made no plot";

    std::this_thread::sleep_for(3300ms);
    gear.send("@PLOT");
    map = s.waitPlacemarks(3, 3s);
    ASSERT_TRUE(map && map->placemarks.size() == 3) << "\"@PLOT\" made no plot";

    for (const Placemark& mark : map->placemarks) {
        EXPECT_EQ(mark.pointText, "-104.9875,39.74166,0");
        EXPECT_NEAR(sim::distanceMiles(mark.lineStart, mark.lineEnd), 5.0, 0.05);
        EXPECT_NEAR(sim::bearingDeg(mark.lineStart, mark.lineEnd), 45.0, 0.5);
        EXPECT_EQ(mark.name.size(), 8u) << "a time of day hh:mm:ss: " << mark.name;
    }
    EXPECT_TRUE(map->complete && map->crlfEverywhere);
    const std::optional<MapFile> stamped = readMapFile(s.stampedMapFile());
    ASSERT_TRUE(stamped) << s.stampedMapFile();
    EXPECT_EQ(stamped->text, map->text) << "the two hunt files differ";
    std::this_thread::sleep_for(3300ms);
    s.screenshot("three-plots");
}

TEST(E2e, ExitAsksAndOkSavesTheSettings) {
    Session s;
    s.instruments();  // COM1 exists: no port warning
    s.startProgram();
    const std::vector<std::string> defaults = readLines(s.folder() / "Kestrelmap.ini");
    ASSERT_EQ(defaults.size(), 20u);

    // Hand entry: hundredths of the latitude up, longitude degrees down, hemisphere to south.
    s.click("CmdButton_LAT_MINX001_UP");
    EXPECT_EQ(s.waitPanel("34 25.12  119 44.50  000"), "34 25.12  119 44.50  000");
    s.click("CmdButton_LONG_DEGX1_DN");
    EXPECT_EQ(s.waitPanel("34 25.12  118 44.50  000"), "34 25.12  118 44.50  000");
    s.click("CmdButton_LAT_HEMI");

    // The space bar plots the hand-entered position even with a button in focus, and does not
    // press that button; other keys change nothing.
    s.keys({"space"});
    const std::optional<MapFile> map = s.waitPlacemarks(1, 3s);
    ASSERT_TRUE(map && map->placemarks.size() == 1) << "the space bar made no plot";
    EXPECT_NEAR(map->placemarks[0].point.latDeg, -(34 + 25.12 / 60), 1e-4);
    EXPECT_NEAR(map->placemarks[0].point.lonDeg, -(118 + 44.50 / 60), 1e-4);
    s.keys({"9", "a", "Return", "minus", "plus"});
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(s.panel(), "34 25.12  118 44.50  000");

    // Return answers the close question with its default, Cancel: nothing is saved.
    ASSERT_TRUE(s.exitAndAnswer("cancel")) << "no close question after EXIT";
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(s.program().running()) << "Return closed the program";
    EXPECT_EQ(readLines(s.folder() / "Kestrelmap.ini"), defaults);

    // OK closes and saves what the panel shows.
    ASSERT_TRUE(s.exitAndAnswer("ok")) << "no close question after EXIT";
    EXPECT_EQ(s.program().waitExit(5s), std::optional<int>(0)) << "OK did not end the program";
    const std::vector<std::string> expected = {
        "3", "4", "2", "5", "1", "2",       "1",       "1",       "8",     "4",
        "4", "5", "0", "S", "W", " 33410 ", " 44718 ", " 49344 ", " 255 ", " 1 "};
    EXPECT_EQ(readLines(s.folder() / "Kestrelmap.ini"), expected);

    // The next start shows the saved position.
    s.startProgram("34 25.12  118 44.50  000");
    s.screenshot("restarted");
}

TEST(E2e, RecoversAfterCablePull) {
    Session s;
    Instruments& gear = s.instruments();
    gear.gps(rmc("A,4807.038,N,01131.000,E,022.4,084.4"));
    s.startProgram();
    s.click("CmdButton_POSIT_SOURCE");
    ASSERT_TRUE(gear.waitListening(5s));
    EXPECT_EQ(s.waitPanel("48 07.04  011 31.00  000"), "48 07.04  011 31.00  000");

    // The cable comes out for two seconds; the GPS has moved on when it is back.
    gear.unplug();
    std::this_thread::sleep_for(2s);
    EXPECT_TRUE(s.program().running());
    EXPECT_EQ(s.panel(), "48 07.04  011 31.00  000") << "still fresh: the last fix stays";
    gear.gps(rmc("A,4810.500,N,01135.250,E,022.4,084.4"));
    gear.plugIn();
    const Clock::time_point back = Clock::now();
    ASSERT_TRUE(gear.waitListening(6s)) << "the program did not reopen COM1";
    EXPECT_EQ(s.waitPanel("48 10.50  011 35.25  000"), "48 10.50  011 35.25  000");
    std::cout << "e2e: reading again " << secondsSince(back) << " s after the cable came back\n";
    EXPECT_TRUE(s.x().search(kMessageTitle).empty()) << "a message box after the cable pull";
    s.screenshot("after-pull");
}

// The simulator's drive: every full-length bearing line passes within a mile of the hidden
// transmitter.
TEST(E2e, BearingLinesPointAtTheTransmitter) {
    Session s;
    const sim::GeoPoint start{34.4167, -119.7333};
    const sim::GeoPoint transmitter = sim::destination(start, 40, 3.2);
    const char* simPath = std::getenv("KESTREL_E2E_SIM");
    ASSERT_NE(simPath, nullptr) << "KESTREL_E2E_SIM is not set (CTest sets it)";
    Child sim(SpawnOptions{{simPath,
                            "--folder",
                            s.folder().string(),
                            "--seed",
                            "7",
                            "--lat",
                            std::to_string(start.latDeg),
                            "--lon",
                            std::to_string(start.lonDeg),
                            "--tx-lat",
                            std::to_string(transmitter.latDeg),
                            "--tx-lon",
                            std::to_string(transmitter.lonDeg),
                            "--no-stops",
                            "--df-wild",
                            "0",
                            "--plot-every",
                            "3.5",
                            "--duration",
                            "80"},
                           {},
                           (s.home() / "kestrel-sim.log").string()});
    const Clock::time_point t0 = Clock::now();
    while (!std::filesystem::is_symlink(s.folder() / "COM1") && secondsSince(t0) < 5) {
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(std::filesystem::is_symlink(s.folder() / "COM1")) << "kestrel-sim made no COM1";
    s.startProgram();
    s.click("CmdButton_POSIT_SOURCE");
    s.click("CmdButton_DF_SOURCE");

    const std::optional<MapFile> map = s.waitPlacemarks(3, 30s);
    ASSERT_TRUE(map && map->placemarks.size() >= 3) << "fewer than three plots from \"@PLOT\"";
    const int fullLength = expectLinesThrough(*map, transmitter, 5.0);
    EXPECT_GE(fullLength, 3);
    s.screenshot("hunt");
}

// `make demo` without a display: it ends by itself and leaves a screenshot and two equal map
// files with at least three bearing lines toward the simulator's transmitter.
TEST(E2e, DemoEndsByItselfWithLinesTowardTheTransmitter) {
    const char* script = std::getenv("KESTREL_E2E_DEMO");
    const char* build = std::getenv("KESTREL_E2E_BUILD");
    ASSERT_TRUE(script != nullptr && build != nullptr) << "CTest sets KESTREL_E2E_DEMO/_BUILD";
    const Clock::time_point start = Clock::now();
    const int mapPort = test::freePort();
    const RunResult demo = run(
        {script, build}, {{"DISPLAY", std::nullopt}, {"MAP_PORT", std::to_string(mapPort)}}, 90s);
    std::cout << demo.output;
    EXPECT_NE(
        demo.output.find("live map:           http://127.0.0.1:" + std::to_string(mapPort) + "/"),
        std::string::npos);
    const double seconds = secondsSince(start);
    std::cout << "e2e: the demo took " << seconds << " s\n";
    ASSERT_EQ(demo.status, 0) << "make demo failed";
    EXPECT_LT(seconds, 60);

    const std::filesystem::path folder = std::filesystem::path(build) / "demo/home/Kestrelmap";
    std::optional<MapFile> current;
    std::optional<MapFile> stamped;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name == "Current_Hunt.kml") {
            current = readMapFile(entry.path());
        } else if (name.size() == 17 && name.substr(13) == ".kml") {
            stamped = readMapFile(entry.path());  // MMDDYY_HHMMSS.kml
        }
    }
    ASSERT_TRUE(current && stamped) << "the demo left no pair of map files in " << folder;
    EXPECT_EQ(current->text, stamped->text);
    // The demo tells where it hid the transmitter and how far the estimate lies from it.
    sim::GeoPoint transmitter;
    double errorMetres = -1;
    std::istringstream lines(demo.output);
    for (std::string line; std::getline(lines, line);) {
        std::sscanf(line.c_str(), "demo: transmitter: %lf, %lf", &transmitter.latDeg,
                    &transmitter.lonDeg);
        std::sscanf(line.c_str(), "demo: estimate error: %lf m", &errorMetres);
    }
    ASSERT_NE(transmitter.latDeg, 0) << "the demo did not say where the transmitter is";
    EXPECT_GE(expectLinesThrough(*current, transmitter, 5.0), 3);
    EXPECT_GE(errorMetres, 0) << "the demo printed no estimate";
    EXPECT_LT(errorMetres, 150);

    bool screenshot = false;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(build) / "demo")) {
        screenshot = screenshot || entry.path().extension() == ".png";
    }
    EXPECT_TRUE(screenshot) << "the demo left no screenshot";
}

}  // namespace
}  // namespace kestrel::e2e
