// The fix estimate's Monte-Carlo table: fixed seeds, each scenario at several plot counts. The
// oracle column fits the same hunts given only the bearings that are not wild: what no
// estimator could beat by much on this geometry. The last is the plain median of pair crossings
// on the same hunts, the method the fit has to beat.
// Usage: kestrel_estimate_montecarlo [SEEDS]   (2000 when not given)

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "estimate_sim.h"

using kestrel::estimate::sim::Route;
using kestrel::estimate::sim::Scenario;

int main(int argc, char** argv) {
    const int seeds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    struct Row {
        Scenario scenario;
        std::vector<int> counts;
    };
    const std::vector<Row> rows = {
        {{"L300", Route::Loop, 300, 7, 0.15}, {12, 20, 30, 50, 99}},
        {{"L800", Route::Loop, 800, 7, 0.15}, {12, 20, 50, 99}},
        {{"Approach", Route::Approach, 300, 7, 0.15}, {20, 30, 50, 99}},
        {{"L300 sigma 5", Route::Loop, 300, 5, 0.15}, {20, 50, 99}},
        {{"L300 sigma 10", Route::Loop, 300, 10, 0.15}, {20, 50, 99}},
        {{"L300 wild 10%", Route::Loop, 300, 7, 0.10}, {20, 50, 99}},
        {{"L300 wild 20%", Route::Loop, 300, 7, 0.20}, {20, 50, 99}},
        {{"L800 sigma 10 wild 20%", Route::Loop, 800, 10, 0.20}, {20, 50, 99}},
        // Half the wild bearings point at one reflector 2 km from the transmitter.
        {{"L300 reflector", Route::Loop, 300, 7, 0.15, 0.5}, {20, 50, 99}},
        {{"L800 reflector", Route::Loop, 800, 7, 0.15, 0.5}, {20, 50, 99}},
        {{"L800 sigma 10 wild 20% reflector", Route::Loop, 800, 10, 0.20, 0.5}, {20, 50, 99}},
        // Harder variants: a loop that keeps further out, an approach with closer plots.
        {{"Wavy loop every 300 m", Route::WavyLoop, 300, 7, 0.15}, {20, 30, 50, 99}},
        {{"Wavy loop every 800 m", Route::WavyLoop, 800, 7, 0.15}, {12, 20, 50, 99}},
        {{"Approach every 200 m", Route::Approach, 200, 7, 0.15}, {20, 50, 99}},
    };
    std::printf("%d seeds a row; error in metres over the hunts with an estimate shown\n\n", seeds);
    std::printf(
        "| Scenario | N | Median (95%% CI) | 90th pct | Shown | 95%% ellipse holds | "
        "1-sigma holds | False fixes | RMS / bound | Oracle median | Crossings median |\n"
        "|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Row& row : rows) {
        for (int n : row.counts) {
            const auto s = kestrel::estimate::sim::runScenario(row.scenario, n, seeds);
            if (s.shown == 0) {
                std::printf("| %s | %d | - | - | 0%% | - | - | - | - | - | - |\n",
                            row.scenario.name, n);
                continue;
            }
            std::printf(
                "| %s | %d | %.0f (%.0f-%.0f) | %.0f | %.1f%% | %.1f%% | %.1f%% | %d (%.1f%%) | "
                "%.2f | %.0f | %.0f |\n",
                row.scenario.name, n, s.medianM, s.medianLowM, s.medianHighM, s.p90M,
                100.0 * s.shown / s.hunts, 100 * s.cover95, 100 * s.cover1Sigma, s.falseFixes,
                100.0 * s.falseFixes / s.shown, s.rmsOverBound, s.oracleMedianM,
                s.crossingsMedianM);
            std::fflush(stdout);
        }
    }
    return 0;
}
