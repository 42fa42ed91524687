// A short run of the Monte-Carlo table (make bench prints the whole one): a few simulated
// hunts per row, with bounds loose enough for the few seeds and tight enough that a broken fit,
// a wrongly scaled ellipse or a lost gate fails.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "estimate_sim.h"

namespace kestrel::estimate {
namespace {

struct Bounds {
    sim::Scenario scenario;
    int plots;
    double maxMedianM;
    double minShown;
    double maxCover1Sigma;  // near the transmitter the shared GPS error widens the ellipse
};

TEST(EstimateMonteCarlo, ShortRunMeetsLooseBounds) {
    const Bounds rows[] = {
        {{"L300", sim::Route::Loop, 300, 7, 0.15}, 30, 280, 0.95, 0.7},
        {{"L800 sigma 10 wild 20%", sim::Route::Loop, 800, 10, 0.20}, 50, 300, 0.95, 0.7},
        {{"Wavy loop every 800 m", sim::Route::WavyLoop, 800, 7, 0.15}, 50, 220, 0.95, 0.7},
        {{"L300 reflector", sim::Route::Loop, 300, 7, 0.15, 0.5}, 50, 220, 0.95, 0.7},
        // The car reaches the transmitter at about the 40th plot and stays beside it.
        {{"Approach", sim::Route::Approach, 300, 7, 0.15}, 50, 30, 0.85, 0.95},
        {{"Approach every 200 m", sim::Route::Approach, 200, 7, 0.15}, 99, 30, 0.9, 0.95},
    };
    constexpr int kSeeds = 40;
    for (const Bounds& row : rows) {
        const sim::Summary s = sim::runScenario(row.scenario, row.plots, kSeeds, 9001);
        const std::string name = std::string(row.scenario.name) + " N=" + std::to_string(row.plots);
        EXPECT_LE(s.medianM, row.maxMedianM) << name;
        EXPECT_GE(s.shown, row.minShown * kSeeds) << name;
        EXPECT_GE(s.cover95, 0.85) << name;
        EXPECT_GE(s.cover1Sigma, 0.2) << name;
        EXPECT_LE(s.cover1Sigma, row.maxCover1Sigma) << name;
        EXPECT_EQ(s.falseFixes, 0) << name;
        // A fit that lets wild bearings pull it does no better than the crossings' median.
        EXPECT_LE(s.medianM, 0.95 * s.crossingsMedianM) << name;
        std::printf(
            "%s: median %.0f m (crossings %.0f m), 90th %.0f m, shown %d/%d, 95%% holds "
            "%.2f, 1-sigma %.2f\n",
            name.c_str(), s.medianM, s.crossingsMedianM, s.p90M, s.shown, s.hunts, s.cover95,
            s.cover1Sigma);
    }
}

}  // namespace
}  // namespace kestrel::estimate
