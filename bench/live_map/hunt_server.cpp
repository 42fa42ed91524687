// Serves a big hunt on the live map without hunting for hours: a main window over the test
// fakes (a clock of its own), the estimate companion and the program's own LiveMap (the map
// model, the base maps of <folder>maps/, the page and the map server). It is fed 99 own plots,
// a 4-hour track at one GPS position a second, and three team vehicles with 99 plots each,
// then prints what it built and serves it on loopback for a bounded time.
//
//   kestrel_map_hunt_server --folder=DIR [--port=0] [--seconds=60]
//
// Prints "hunt: ..." lines (the feed's and the snapshot's figures), "want: {...}" (the
// snapshot's features by kind) and last "listening: PORT".

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "input_test_support.h"
#include "live_map/map_documents.h"
#include "platform/qt/live_map/live_map.h"
#include "plot_rig.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
using namespace kestrel;

constexpr double kTxLat = 34.4120;
constexpr double kTxLon = -119.7320;
constexpr int kTrackSeconds = 4 * 3600;
constexpr int kOwnPlots = 99;
constexpr int kTeamVehicles = 3;
constexpr int kTeamPlots = 99;
constexpr int64_t kStartMs = 1718474400000;  // 2024-06-15T18:00:00Z

double msSince(SteadyClock::time_point start) {
    return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

std::optional<std::string> argument(int argc, char** argv, const char* name) {
    const size_t n = std::strlen(name);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], name, n) == 0) {
            return std::string(argv[i] + n);
        }
    }
    return std::nullopt;
}

// A drive round the transmitter: loops of 1.3 to 4 km out at 25 to 75 m/s, one position a
// second. Faster than a car, so that each second's position differs on the panel (a hundredth
// of a minute, 18.5 m) and the track keeps every one.
struct Place {
    double lat;
    double lon;
};
Place driveAt(int second, double phase) {
    const double turn = second / 53.0 + phase;
    const double radius = 0.012 + 0.024 * (0.5 + 0.5 * std::sin(second / 2700.0 + phase));
    return {kTxLat + radius * std::cos(turn), kTxLon + 1.21 * radius * std::sin(turn)};
}

// The true bearing from `from` to the transmitter, whole degrees, with noise.
int bearingTo(Place from, std::mt19937& random) {
    const double dy = kTxLat - from.lat;
    const double dx = (kTxLon - from.lon) * std::cos(from.lat * M_PI / 180);
    const double deg = std::atan2(dx, dy) * 180 / M_PI;
    std::normal_distribution<double> noise(0, 4);
    return int(std::lround(deg + noise(random) + 720)) % 360;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argument(argc, argv, "--folder=").value_or("");
    const int port = std::atoi(argument(argc, argv, "--port=").value_or("0").c_str());
    const int seconds = std::atoi(argument(argc, argv, "--seconds=").value_or("60").c_str());
    if (folder.empty() || folder.back() != '/' || seconds <= 0 || seconds > 600) {
        std::fprintf(stderr, "hunt_server: --folder=DIR/ needed, --seconds 1 to 600\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    test::InputRig rig;
    HuntEstimate estimate{rig.main()};
    live_map::MapSettings settings;
    settings.onlineTiles.clear();  // the page asks for nothing off this machine
    qt::LiveMap live(rig.main(), estimate, folder, folder + "no-home-maps/", settings);
    Form_Kestrelmap& f = rig.main();
    rig.clock.utcMs = kStartMs;
    f.Form_Load();
    f.VECTOR_COLOR = "ff0000ff";

    std::mt19937 random(11);
    long messages = 0;
    live.model().onMessage = [&messages](const std::string&) { ++messages; };

    // The own car: a GPS position every second; a plot every 145 s (99 in all).
    const auto feedStart = SteadyClock::now();
    int plots = 0;
    for (int s = 0; s < kTrackSeconds; ++s) {
        rig.clock.utcMs = kStartMs + int64_t(s) * 1000;
        const Place at = driveAt(s, 0);
        if (s % 145 == 100 && plots < kOwnPlots) {
            test::readyToPlot(f);
            f.FILENAME_STRING = "/hunt/" + f.stamp() + ".kml";
            test::showDegrees(f, at.lat, at.lon);
            char digits[8];
            std::snprintf(digits, sizeof digits, "%03d", bearingTo(at, random));
            test::showBearing(f, digits);
            f.NEXT_PLOT_NUMBER = static_cast<int16_t>(plots + 1);
            f.NUMBER_OF_PLOTS = static_cast<int16_t>(plots);
            f.CmdButton_ADD_PLOT_Click();
            f.afterEvent();
            ++plots;
        }
        f.CmdButton_POSIT_SOURCE.Tag = "GPS";
        f.GPS_TIMEOUT = 5;
        test::showDegrees(f, at.lat, at.lon);
        f.afterEvent();
    }
    const double ownMs = msSince(feedStart);

    // The team: three vehicles on drives of their own, 99 plots each, then their positions.
    const auto teamStart = SteadyClock::now();
    std::vector<team::VehicleState> vehicles(1 + kTeamVehicles);
    vehicles[0].name = "car1";
    for (int v = 1; v <= kTeamVehicles; ++v) {
        team::VehicleState& state = vehicles[size_t(v)];
        state.name = "car" + std::to_string(v + 1);
        for (int p = 0; p < kTeamPlots; ++p) {
            const int s = 60 + p * 145;
            const Place at = driveAt(s, v * 1.7);
            PlotRecord plot;
            plot.plotNumber = p + 1;
            plot.utcMilliseconds = kStartMs + int64_t(s) * 1000;
            plot.latitudeDegrees = at.lat;
            plot.longitudeDegrees = at.lon;
            plot.bearingDegrees = bearingTo(at, random);
            plot.relativeDegrees = plot.bearingDegrees;
            plot.quality = 6;
            plot.positionFromGps = true;
            plot.bearingFromDf = true;
            estimate.teamPlotReceived(plot, state.name);
            live.model().teamPlotReceived(plot, state.name);
        }
        const Place last = driveAt(kTrackSeconds, v * 1.7);
        state.position = team::TeamPosition{state.name, "bench",
                                            isoUtcText(kStartMs + int64_t(kTrackSeconds) * 1000),
                                            last.lat, last.lon};
    }
    live.model().teamChanged(vehicles);
    const double teamMs = msSince(teamStart);

    // The snapshot: once as the server builds it (after a change), then five more builds.
    const auto snapStart = SteadyClock::now();
    const size_t snapshotBytes = live.model().snapshotText().size();
    const double firstBuildMs = msSince(snapStart);
    std::vector<double> builds;
    for (int i = 0; i < 5; ++i) {
        const auto t0 = SteadyClock::now();
        nlohmann::json document = live_map::huntGeoJson(live.model().view());
        document["revision"] = live.model().revision();
        document["token"] = live.model().token();
        const std::string text =
            document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        builds.push_back(msSince(t0));
        if (text.size() != snapshotBytes) {
            std::fprintf(stderr, "hunt_server: the snapshot's size changed\n");
            return 1;
        }
    }
    std::sort(builds.begin(), builds.end());

    const nlohmann::json snapshot = nlohmann::json::parse(live.model().snapshotText());
    std::map<std::string, int> kinds;
    size_t trackPoints = 0;
    for (const nlohmann::json& feature : snapshot.at("features")) {
        const std::string kind = feature.at("properties").value("kind", std::string("?"));
        ++kinds[kind];
        if (kind == "track") {
            trackPoints = feature.at("geometry").at("coordinates").size();
        }
    }
    std::printf(
        "hunt: fed %d own plots and %d track seconds in %.0f ms, %d team plots of %d vehicles "
        "in %.0f ms (%ld change messages)\n",
        plots, kTrackSeconds, ownMs, kTeamVehicles * kTeamPlots, kTeamVehicles, teamMs, messages);
    std::printf(
        "hunt: snapshot %zu bytes (%zu track points, %zu features); built in %.1f ms as served, "
        "median of 5 more %.1f ms (min %.1f, max %.1f)\n",
        snapshotBytes, trackPoints, snapshot.at("features").size(), firstBuildMs, builds[2],
        builds.front(), builds.back());
    std::printf("want: %s\n", nlohmann::json(kinds).dump().c_str());

    std::string error;
    if (!live.listen(port, error)) {
        std::fprintf(stderr, "hunt_server: %s\n", error.c_str());
        return 1;
    }
    std::printf("listening: %d\n", live.server().port());
    std::fflush(stdout);
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    return app.exec();
}
