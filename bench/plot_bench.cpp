// One plot with 99 plots in memory: the plot operation including the rewrite of both map
// files to real files (temporary file, then rename over the old one).
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_BENCH=ON
//   cmake --build build-bench --target kestrel_bench
//   build-bench/bench/kestrel_bench --benchmark_filter=PlotWith99

#include <benchmark/benchmark.h>

#include "fakes/fake_platform.h"
#include "plot_disk_files.h"
#include "plot_rig.h"

namespace kestrel {
namespace {

void PlotWith99PlotsInMemory(benchmark::State& state) {
    test::ScratchFolder scratch;
    if (!scratch.ok()) {
        state.SkipWithError("no temporary folder");
        return;
    }
    test::FakeRig rig;
    test::DiskFiles disk;
    Platform platform{rig.serial, rig.messages, rig.picker, rig.beeper, rig.clock, disk};
    Form_Kestrelmap f(platform, scratch.folder());
    test::readyToPlot(f);
    f.FILENAME_STRING = scratch.folder() + "030726_090503.kml";
    f.CURRENT_FILENAME = scratch.folder() + "Current_Hunt.kml";
    rig.clock.time = {2026, 3, 7, 14, 21, 7};
    for (int plot = 0; plot < 99; ++plot) {
        f.CmdButton_ADD_PLOT_Click();
        f.Timer_BLINK_Timer();
    }
    if (f.NUMBER_OF_PLOTS != 99 || !rig.messages.shown.empty()) {
        state.SkipWithError("could not fill the table");
        return;
    }
    for (auto _ : state) {
        f.CmdButton_ADD_PLOT_Click();
        state.PauseTiming();
        f.Timer_BLINK_Timer();  // end of the hold-off, so the next plot is taken
        state.ResumeTiming();
    }
    if (!rig.messages.shown.empty()) {
        state.SkipWithError("a map file could not be written");
    }
    state.counters["file_bytes"] =
        static_cast<double>(disk.read(f.CURRENT_FILENAME).value_or("").size());
}

BENCHMARK(PlotWith99PlotsInMemory)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace kestrel
