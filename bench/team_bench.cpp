// One plot of another vehicle arriving in a team of three, from the message to the updated
// estimate and map files: TeamHunt checks and journals it, the estimate companion logs it and
// estimates again over every vehicle's bearings, and the team map is rebuilt, all written
// through an in-memory file store (the journal goes to a real temporary file, as in the program).
// The window already holds 99 own plots and 99 of a second vehicle; the third vehicle's 99 plots
// are the measured arrivals, so the estimate weighs 198 to 297 bearings.
//
//   make bench      # or: build-bench/bench/kestrel_bench --benchmark_filter=TeamPlot

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <GeographicLib/Geodesic.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/write_notice.h"
#include "estimate_sim.h"
#include "fakes/fake_platform.h"
#include "hunt/hunt_estimate.h"
#include "plot_rig.h"
#include "team/fake_transport.h"
#include "team/team_hunt.h"

namespace kestrel::team {
namespace {

constexpr double kTxLat = 39.80, kTxLon = -104.95;

// 99 plots of one vehicle on a ring 4 to 6 km around the transmitter, 7 degrees of noise.
std::vector<TeamPlot> ringPlots(const std::string& vehicle, double startDeg, uint64_t seed) {
    estimate::sim::Random random(seed);
    std::vector<TeamPlot> out;
    for (int i = 1; i <= 99; ++i) {
        double lat = 0, lon = 0, azimuth = 0, back = 0;
        const auto& earth = GeographicLib::Geodesic::WGS84();
        earth.Direct(kTxLat, kTxLon, startDeg + 1.2 * i, random.uniform(4000, 6000), lat, lon);
        earth.Inverse(lat, lon, kTxLat, kTxLon, azimuth, back);
        TeamPlot plot;
        plot.vehicle = vehicle;
        plot.hunt = "bench";
        plot.seq = i;
        plot.plotNumber = i;
        plot.utc = "2026-03-07T09:05:03Z";
        plot.latitudeDegrees = std::round(lat * 6000) / 6000;
        plot.longitudeDegrees = std::round(lon * 6000) / 6000;
        plot.bearingDegrees =
            int(std::lround(std::fmod(azimuth + 7 * random.normal() + 720, 360))) % 360;
        plot.positionFromGps = plot.bearingFromDf = true;
        out.push_back(plot);
    }
    return out;
}

// The window with its estimate companion and team link, wired as the program's team session.
struct TeamWindow {
    explicit TeamWindow(const std::string& journal)
        : team(names, journal, transport, rig.clock, rig.messages, panelPosition(rig.main())),
          mapNotice(rig.messages, "team map file", "The next change writes it again.") {
        estimate.setVehicleName(names.vehicle);
        Form_Kestrelmap& form = rig.main();
        form.Form_Load();
        kestrel::test::readyToPlot(form);
        form.FILENAME_STRING = "/hunt/" + form.stamp() + ".kml";
        team.onPlotReceived = [this](const TeamPlot& plot) {
            estimate.teamPlotReceived(plotRecordFrom(plot), plot.vehicle);
        };
        team.onTeamChanged = [this]() { writeTeamMap(team, rig.main(), mapNotice); };
        team.start();
        form.addObserver(team);
        transport.bringUp();
    }
    ~TeamWindow() { rig.main().removeObserver(team); }

    // Through the panel and ADD PLOT, as the operator makes it.
    void plotOwn(const TeamPlot& plot) {
        Form_Kestrelmap& form = rig.main();
        char bearing[8];
        std::snprintf(bearing, sizeof bearing, "%03d", *plot.bearingDegrees);
        kestrel::test::showDegrees(form, plot.latitudeDegrees, plot.longitudeDegrees);
        kestrel::test::showBearing(form, bearing);
        form.CmdButton_ADD_PLOT_Click();
        form.Timer_BLINK_Timer();
    }
    void receive(const TeamPlot& plot, const std::string& payload) {
        transport.deliver(plotTopic({names.team, plot.hunt, plot.vehicle}), payload);
    }

    TeamNames names{"red", "bench", "car1"};
    kestrel::test::FakeRig rig;
    HuntEstimate estimate{rig.main()};
    test::FakeTransport transport;
    TeamHunt team;
    WriteNotice mapNotice;
};

void TeamPlotToEstimateAndMaps(benchmark::State& state) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("kestrel_team_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::vector<TeamPlot> own = ringPlots("car1", 0, 1), second = ringPlots("car2", 120, 2),
                                third = ringPlots("car3", 240, 3);
    std::vector<std::string> payloads;
    payloads.reserve(third.size());
    for (const TeamPlot& plot : third) {
        payloads.push_back(encodePlot(plot));
    }
    std::filesystem::remove(folder / "car1.journal");
    TeamWindow window((folder / "car1.journal").string());
    for (const TeamPlot& plot : own) {
        window.plotOwn(plot);
    }
    for (const TeamPlot& plot : second) {
        window.receive(plot, encodePlot(plot));
    }
    size_t next = 0;
    std::vector<double> ms;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        window.receive(third[next], payloads[next]);
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        ++next;
    }
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["max_ms"] = ms.back();
    if (window.team.counters().received != 99 + int64_t(next) ||
        !window.estimate.estimate().shown) {
        state.SkipWithError("the plots did not all reach the estimate");
    }
    state.counters["bearings"] = double(window.estimate.estimate().plots);
    std::filesystem::remove_all(folder);
}

// One run is the third vehicle's 99 arrivals; each repetition starts again from a fresh window.
BENCHMARK(TeamPlotToEstimateAndMaps)->Unit(benchmark::kMillisecond)->Iterations(99)->Repetitions(5);

}  // namespace
}  // namespace kestrel::team
