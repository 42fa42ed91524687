// The fix estimate of a full hunt: 99 plots of a simulated loop (15 % wild bearings), the
// whole computation from the bearings to the ellipse ring in latitude and longitude.
//
//   make bench      # or: build-bench/bench/kestrel_bench --benchmark_filter=EstimateFix

#include <benchmark/benchmark.h>

#include "estimate_sim.h"

namespace kestrel::estimate {
namespace {

void EstimateFixOf99Plots(benchmark::State& state) {
    const sim::Scenario loop{"L300", sim::Route::Loop, 300, 7, 0.15};
    // A different hunt each round, so that no one geometry flatters the figure.
    std::vector<sim::Hunt> hunts;
    for (uint64_t seed = 1; seed <= 16; ++seed) {
        hunts.push_back(sim::makeHunt(loop, seed, 99));
    }
    size_t round = 0, shown = 0;
    for (auto _ : state) {
        const Estimate e = estimateFix(hunts[round++ % hunts.size()].bearings);
        shown += e.shown ? 1 : 0;
        benchmark::DoNotOptimize(e.latitudeDeg);
    }
    state.counters["shown_share"] = static_cast<double>(shown) / static_cast<double>(round);
}

BENCHMARK(EstimateFixOf99Plots)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace kestrel::estimate
