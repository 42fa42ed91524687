#pragma once
// The simulator's generated drive for tests: the default options with a seed, and the events
// it makes up to a moment.

#include <cstdint>
#include <string_view>
#include <vector>

#include "kestrel-sim/command_line.h"
#include "kestrel-sim/runner.h"
#include "kestrel-sim/scheduler.h"

namespace kestrel::sim::test {

inline GeneratorSettings drive(std::uint64_t seed) {
    std::vector<std::string_view> none;
    GeneratorSettings g = parseCommandLine(none, "/tmp").options->generator;
    g.route.seed = seed;
    return g;
}

inline std::vector<SimEvent> eventsUntil(const GeneratorSettings& g, std::int64_t untilMs) {
    GeneratedSource source(g);
    std::vector<SimEvent> out;
    while (auto e = source.next()) {
        if (e->atMs >= untilMs) {
            break;
        }
        out.push_back(std::move(*e));
    }
    return out;
}

}  // namespace kestrel::sim::test
