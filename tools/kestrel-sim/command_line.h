#pragma once
// kestrel-sim's command line: one table of options, read by the parser and printed by --help.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kestrel-sim/scheduler.h"

namespace kestrel::sim {

// The default start: a clear summer afternoon, so a run without --start or --wall-clock always
// stamps the same times.
inline constexpr std::string_view kDefaultStart = "2024-06-15T18:00:00";
// Without --tx-lat/--tx-lon the transmitter stands this far from the start, on this bearing.
inline constexpr double kDefaultTxMiles = 3.2;
inline constexpr double kDefaultTxBearingDeg = 40;

struct CommandLine {
    GeneratorSettings generator;
    ScheduleSettings schedule;
    ReplaySettings replay;
    std::string replayFile;  // empty: generate
    std::string recordFile;  // empty: no record
    std::string folder;      // the Kestrelmap folder
    int port = 1;
    int krakenPort = -1;  // -1: no Kraken; 0: any free port
    bool keepLinkOnPull = false;
    bool toStdout = false;
    bool fast = false;
    bool wallClock = false;
    bool help = false;
};

struct ParsedCommandLine {
    std::optional<CommandLine> options;  // empty on error
    std::string error;
};

// `args` without the program name; `home` is $HOME (may be null: then --folder is needed
// unless --stdout is given).
ParsedCommandLine parseCommandLine(const std::vector<std::string_view>& args, const char* home);

std::string helpText();

}  // namespace kestrel::sim
