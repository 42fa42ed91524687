#include "kestrel-sim/command_line.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <functional>

#include "kestrel-sim/sentences.h"

namespace kestrel::sim {
namespace {

struct Parsed {
    CommandLine line;
    bool txLat = false, txLon = false;
    bool krakenFrequency = false, krakenSecondFrequency = false;
    std::string start = std::string(kDefaultStart);
};

using Apply = std::function<std::string(Parsed&, std::string_view)>;  // error text or empty

struct Option {
    std::string_view name;
    std::string_view argument;  // empty: a flag
    std::string_view help;
    Apply apply;
    std::string_view heading = {};  // printed before this option
};

std::optional<double> toNumber(std::string_view text) {
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) {
        return std::nullopt;
    }
    return v;
}

std::string shortest(double v) {
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    return ec == std::errc() ? std::string(buf, end) : std::string("?");
}

// A number in [lo, hi], or an error naming the option.
Apply number(double lo, double hi, const std::function<void(Parsed&, double)>& set) {
    return [=](Parsed& p, std::string_view text) -> std::string {
        const std::optional<double> v = toNumber(text);
        if (!v || *v < lo || *v > hi) {
            return "needs a number from " + shortest(lo) + " to " + shortest(hi);
        }
        set(p, *v);
        return {};
    };
}

std::int64_t ms(double seconds) {
    return std::llround(seconds * 1000);
}

constexpr double kLongest = 1e7;  // seconds; about four months
constexpr double kLowestHz = 1e6;
constexpr double kHighestHz = 6e9;
constexpr std::int64_t kChannelHz = 10'000;  // the Kraken's two lines are at least this apart

const std::vector<Option>& options() {
    static const std::vector<Option> table = {
        {"--folder", "DIR", "the Kestrelmap folder to link the device into (default $HOME/Kestrelmap; it must exist)",
         [](Parsed& p, std::string_view v) {
             p.line.folder = std::string(v);
             return std::string();
         },
         "Where the bytes go:"},
        {"--port", "N", "link the device as COMN, N from 1 to 8 (default 1)",
         [](Parsed& p, std::string_view v) -> std::string {
             const std::optional<double> n = toNumber(v);
             if (!n || *n < 1 || *n > 8 || *n != std::floor(*n)) {
                 return "needs a whole number from 1 to 8";
             }
             p.line.port = static_cast<int>(*n);
             return {};
         }},
        {"--stdout", "", "write the byte stream to standard output instead of a pseudo-terminal",
         [](Parsed& p, std::string_view) {
             p.line.toStdout = true;
             return std::string();
         }},
        {"--fast", "", "do not keep to the 4800-baud pace (480 characters a second): write at once",
         [](Parsed& p, std::string_view) {
             p.line.fast = true;
             return std::string();
         }},
        {"--duration", "S", "stop by itself after S seconds of simulated time (default: run until Ctrl-C)",
         number(0, kLongest, [](Parsed& p, double v) { p.line.schedule.durationMs = ms(v); }),
         "The run:"},
        {"--seed", "N", "random seed (default 1); the same seed and options give the same bytes",
         [](Parsed& p, std::string_view v) -> std::string {
             std::uint64_t seed = 0;
             const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), seed);
             if (ec != std::errc() || end != v.data() + v.size()) {
                 return "needs a whole number from 0 to 18446744073709551615";
             }
             p.line.generator.route.seed = seed;
             return {};
         }},
        {"--start", "TIME",
         "UTC time of the first sentence, YYYY-MM-DDTHH:MM:SS (default 2024-06-15T18:00:00)",
         [](Parsed& p, std::string_view v) -> std::string {
             if (!parseUtc(v)) {
                 return "needs a time like 2024-06-15T18:00:00";
             }
             p.start = std::string(v);
             return {};
         }},
        {"--wall-clock", "", "stamp the sentences with the current UTC time instead of --start",
         [](Parsed& p, std::string_view) {
             p.line.wallClock = true;
             return std::string();
         }},
        {"--record", "FILE", "also write every line sent, with its time, in the --replay format",
         [](Parsed& p, std::string_view v) {
             p.line.recordFile = std::string(v);
             return std::string();
         }},
        {"--talker", "XX", "the two letters after \"$\" in the RMC sentence: GP (default), GN, ...",
         [](Parsed& p, std::string_view v) -> std::string {
             if (v.size() != 2 || v[0] < 'A' || v[0] > 'Z' || v[1] < 'A' || v[1] > 'Z') {
                 return "needs two capital letters, such as GP or GN";
             }
             p.line.generator.talker = std::string(v);
             return {};
         },
         "The GPS (one RMC sentence a second):"},
        {"--lat", "DEG", "start latitude, decimal degrees, south negative (default 34.4167)",
         number(-89.9, 89.9, [](Parsed& p, double v) { p.line.generator.route.start.latDeg = v; })},
        {"--lon", "DEG", "start longitude, decimal degrees, west negative (default -119.7333)",
         number(-180, 180, [](Parsed& p, double v) { p.line.generator.route.start.lonDeg = v; })},
        {"--speed", "KNOTS", "mean speed on the straight runs, 8 to 100 (default 28; turns at 12)",
         number(8, 100, [](Parsed& p, double v) { p.line.generator.route.cruiseKnots = v; })},
        {"--roam", "MILES", "beyond this distance from the start the route turns homeward (default 2)",
         number(0.1, 100, [](Parsed& p, double v) { p.line.generator.route.roamMiles = v; })},
        {"--stop-first", "S", "the first stop: braking begins S seconds in, or right after a turn (default 40)",
         number(0, kLongest, [](Parsed& p, double v) { p.line.generator.route.firstStopMs = ms(v); })},
        {"--stop-every", "S", "later stops every S seconds after the first (default 180; 0: no more)",
         number(0, kLongest, [](Parsed& p, double v) {
             p.line.generator.route.stopEveryMs = v > 0 ? ms(v) : kNever;
         })},
        {"--stop-for", "S", "standing time of a stop, below 3 knots a little longer (default 12)",
         number(0, kLongest, [](Parsed& p, double v) { p.line.generator.route.stopForMs = ms(v); })},
        {"--no-stops", "", "never stop",
         [](Parsed& p, std::string_view) {
             p.line.generator.route.firstStopMs = kNever;
             return std::string();
         }},
        {"--gps-void-every", "N", "every N seconds the GPS loses its fix (status V) ...",
         number(1, kLongest, [](Parsed& p, double v) { p.line.generator.gpsVoid.everyMs = ms(v); })},
        {"--gps-void-for", "M", "... for M seconds (default 15)",
         number(1, kLongest, [](Parsed& p, double v) { p.line.generator.gpsVoid.forMs = ms(v); })},
        {"--no-gps", "", "no GPS sentences at all",
         [](Parsed& p, std::string_view) {
             p.line.generator.gps = false;
             return std::string();
         }},
        {"--tx-lat", "DEG", "latitude of the hidden transmitter (default: 3.2 miles from the start at 040)",
         number(-89.9, 89.9,
                [](Parsed& p, double v) {
                    p.line.generator.transmitter.latDeg = v;
                    p.txLat = true;
                }),
         "The direction finder (a \"%bbb/q\" line every 250 to 330 ms):"},
        {"--tx-lon", "DEG", "longitude of the hidden transmitter (give both or neither)",
         number(-180, 180,
                [](Parsed& p, double v) {
                    p.line.generator.transmitter.lonDeg = v;
                    p.txLon = true;
                })},
        {"--df-noise", "DEG", "standard deviation of the bearing noise, clipped at 3.5 of them (default 3)",
         number(0, 90, [](Parsed& p, double v) { p.line.generator.dfNoiseDeg = v; })},
        {"--df-wild", "PERCENT", "share of wild bearings, any direction, quality 0-2 (default 2)",
         number(0, 100, [](Parsed& p, double v) { p.line.generator.dfWildPercent = v; })},
        {"--no-df", "", "no bearing lines at all",
         [](Parsed& p, std::string_view) {
             p.line.generator.df = false;
             return std::string();
         }},
        {"--no-turn-lag", "",
         "bearings relative to the heading of the moment, with no more noise in turns (default: "
         "the heading of 0.6 s before, and 0.5 degrees more noise per degree a second of turn)",
         [](Parsed& p, std::string_view) {
             p.line.generator.turnLag = false;
             return std::string();
         }},
        {"--kraken", "PORT",
         "also serve the Kraken's answer, GET /DOA_value.html, on 127.0.0.1:PORT (0: any free "
         "port, printed at the start); a new bearing at each of the direction finder's moments",
         [](Parsed& p, std::string_view v) -> std::string {
             const std::optional<double> n = toNumber(v);
             if (!n || *n < 0 || *n > 65535 || *n != std::floor(*n)) {
                 return "needs a whole number from 0 to 65535";
             }
             p.line.krakenPort = static_cast<int>(*n);
             p.line.generator.kraken.on = true;
             return {};
         },
         "The Kraken (an SDR direction finder on the network, with --kraken):"},
        {"--kraken-frequency", "HZ", "the frequency of its line (default 146520000)",
         number(kLowestHz, kHighestHz,
                [](Parsed& p, double v) {
                    p.line.generator.kraken.frequencyHz = std::llround(v);
                    p.krakenFrequency = true;
                })},
        {"--kraken-second-frequency", "HZ",
         "a second line, on this frequency, for a second transmitter 1.5 miles south of the first",
         number(kLowestHz, kHighestHz,
                [](Parsed& p, double v) {
                    p.line.generator.kraken.secondFrequencyHz = std::llround(v);
                    p.krakenSecondFrequency = true;
                })},
        {"--plot-every", "N", "send \"@PLOT\" every N seconds (at N + 0.5 s, 2N + 0.5 s, ...)",
         number(1, kLongest, [](Parsed& p, double v) { p.line.generator.plotEveryMs = ms(v); }),
         "Trouble and remote plots:"},
        {"--garbage", "", "a burst of garbage now and then, on average every 20 s",
         [](Parsed& p, std::string_view) {
             if (p.line.generator.garbageMeanMs == 0) {
                 p.line.generator.garbageMeanMs = 20000;
             }
             return std::string();
         }},
        {"--garbage-every", "S", "the same with bursts on average every S seconds (at least 1 s apart)",
         number(1, kLongest, [](Parsed& p, double v) { p.line.generator.garbageMeanMs = ms(v); })},
        {"--cable-pull-every", "N",
         "every N seconds the device vanishes (link removed, pseudo-terminal closed) ...",
         number(1, kLongest, [](Parsed& p, double v) { p.line.schedule.cablePull.everyMs = ms(v); })},
        {"--cable-pull-for", "M", "... and comes back after M seconds as a new one (default 5)",
         number(0.1, kLongest, [](Parsed& p, double v) { p.line.schedule.cablePull.forMs = ms(v); })},
        {"--cable-pull-keep-link", "",
         "during a pull leave the link pointing at the vanished device instead of removing it",
         [](Parsed& p, std::string_view) {
             p.line.keepLinkOnPull = true;
             return std::string();
         }},
        {"--silence-every", "N", "every N seconds both instruments fall silent ...",
         number(1, kLongest, [](Parsed& p, double v) { p.line.schedule.silence.everyMs = ms(v); })},
        {"--silence-for", "M", "... for M seconds (default 15)",
         number(0.1, kLongest, [](Parsed& p, double v) { p.line.schedule.silence.forMs = ms(v); })},
        {"--replay", "FILE",
         "send the lines of FILE instead of the generated drive: a Kestrelmap input log, a "
         "--record file or a plain NMEA log (see below)",
         [](Parsed& p, std::string_view v) {
             p.line.replayFile = std::string(v);
             return std::string();
         },
         "Replay:"},
        {"--replay-timing", "", "keep the timestamps of a --record file",
         [](Parsed& p, std::string_view) {
             p.line.replay.timing = true;
             return std::string();
         }},
        {"--replay-rate", "N",
         "send N lines a second, evenly, whatever pace the file has (default 4 where it has none)",
         number(0.01, 480,
                [](Parsed& p, double v) {
                    p.line.replay.linesPerSecond = v;
                    p.line.replay.rateGiven = true;
                })},
        {"--replay-speed", "X", "play the recording X times faster (0.1 to 1000, default 1)",
         number(0.1, 1000, [](Parsed& p, double v) { p.line.replay.speed = v; })},
        {"--loop", "", "start the recording again after its last line",
         [](Parsed& p, std::string_view) {
             p.line.replay.loop = true;
             return std::string();
         }},
        {"--help", "", "show this text",
         [](Parsed& p, std::string_view) {
             p.line.help = true;
             return std::string();
         },
         ""},
    };
    return table;
}

std::string checkWindow(const Outage& o, std::string_view every, std::string_view forName) {
    if (o.everyMs > 0 && o.forMs >= o.everyMs) {
        return std::string(forName) + " must be shorter than " + std::string(every);
    }
    return {};
}

std::string checkKraken(const Parsed& p) {
    const KrakenSettings& k = p.line.generator.kraken;
    if (!k.on) {
        if (p.krakenFrequency || p.krakenSecondFrequency) {
            return std::string(p.krakenFrequency ? "--kraken-frequency"
                                                 : "--kraken-second-frequency") +
                   " needs --kraken";
        }
        return {};
    }
    if (p.line.fast) {
        return "--kraken serves a paced run: not with --fast";
    }
    if (!p.line.replayFile.empty()) {
        return "--kraken plays the generated drive: not with --replay";
    }
    if (p.krakenSecondFrequency && std::llabs(k.secondFrequencyHz - k.frequencyHz) < kChannelHz) {
        return "--kraken-second-frequency must be at least 10 kHz from --kraken-frequency";
    }
    return {};
}

// "  --name ARG  help" with the help folded into a column from 24 to 79.
std::string wrapped(const std::string& left, std::string_view help) {
    constexpr std::size_t kColumn = 24;
    constexpr std::size_t kWidth = 79;
    std::string out;
    std::string line = left.size() < kColumn ? left + std::string(kColumn - left.size(), ' ')
                                             : left + "\n" + std::string(kColumn, ' ');
    std::size_t lineStart = line.rfind('\n') == std::string::npos ? 0 : line.rfind('\n') + 1;
    bool first = true;
    while (!help.empty()) {
        const std::size_t space = help.find(' ');
        const std::string_view word = help.substr(0, space);
        help = space == std::string_view::npos ? std::string_view() : help.substr(space + 1);
        if (!first && line.size() - lineStart + 1 + word.size() > kWidth) {
            line += "\n" + std::string(kColumn, ' ');
            lineStart = line.size() - kColumn;
            first = true;
        }
        line += (first ? "" : " ") + std::string(word);
        first = false;
    }
    return out + line + "\n";
}

}  // namespace

// One pass over the arguments, then the checks between options, in the order of the help.
// NOLINTNEXTLINE(readability-function-cognitive-complexity)
ParsedCommandLine parseCommandLine(const std::vector<std::string_view>& args, const char* home) {
    Parsed p;
    p.line.schedule.cablePull.forMs = 5000;
    p.line.schedule.silence.forMs = 15000;
    p.line.generator.gpsVoid.forMs = 15000;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view name = args[i];
        std::string_view value;
        bool inlineValue = false;
        if (const std::size_t eq = name.find('=');
            name.rfind("--", 0) == 0 && eq != std::string_view::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            inlineValue = true;
        }
        const Option* option = nullptr;
        for (const Option& o : options()) {
            if (o.name == name) {
                option = &o;
            }
        }
        if (option == nullptr) {
            return {std::nullopt, "unknown option " + std::string(args[i]) + " (see --help)"};
        }
        if (!option->argument.empty() && !inlineValue) {
            if (i + 1 >= args.size()) {
                return {std::nullopt, std::string(name) + " needs a value (" +
                                          std::string(option->argument) + ")"};
            }
            value = args[++i];
        } else if (option->argument.empty() && inlineValue) {
            return {std::nullopt, std::string(name) + " takes no value"};
        }
        if (const std::string error = option->apply(p, value); !error.empty()) {
            return {std::nullopt,
                    std::string(name) + " " + error + ", not \"" + std::string(value) + "\""};
        }
    }
    CommandLine& line = p.line;
    if (line.help) {
        return {line, {}};
    }
    if (p.txLat != p.txLon) {
        return {std::nullopt, "give both --tx-lat and --tx-lon, or neither"};
    }
    if (!p.txLat) {
        line.generator.transmitter =
            destination(line.generator.route.start, kDefaultTxBearingDeg, kDefaultTxMiles);
    }
    for (const std::string& error :
         {checkWindow(line.schedule.cablePull, "--cable-pull-every", "--cable-pull-for"),
          checkWindow(line.schedule.silence, "--silence-every", "--silence-for"),
          checkWindow(line.generator.gpsVoid, "--gps-void-every", "--gps-void-for")}) {
        if (!error.empty()) {
            return {std::nullopt, error};
        }
    }
    if (const std::string error = checkKraken(p); !error.empty()) {
        return {std::nullopt, error};
    }
    line.generator.startEpochSeconds = *parseUtc(p.start);
    if (line.folder.empty() && !line.toStdout) {
        if (home == nullptr || *home == '\0') {
            return {std::nullopt, "HOME is not set: pass --folder"};
        }
        line.folder = std::string(home) + "/Kestrelmap";
    }
    return {line, {}};
}

std::string helpText() {
    std::string text =
        "Usage: kestrel-sim [OPTION]...\n"
        "Plays a GPS and a Doppler direction finder into a pseudo-terminal linked into the\n"
        "Kestrelmap folder as COM1 (or COMn), at the pace of a 4800-baud line, until Ctrl-C,\n"
        "--duration or a signal; the link is removed on exit. The drive is seeded: the same\n"
        "seed and options give the same bytes.\n";
    for (const Option& o : options()) {
        if (!o.heading.empty() || o.name == "--help") {
            text += "\n";
            text += o.heading.empty() ? std::string_view("Other:") : o.heading;
            text += "\n";
        }
        std::string left = "  " + std::string(o.name);
        if (!o.argument.empty()) {
            left += " " + std::string(o.argument);
        }
        text += wrapped(left, o.help);
    }
    text +=
        "\nThe lines (each ends with CR LF):\n"
        "  $GPRMC,hhmmss.00,A,ddmm.mmmm,N,dddmm.mmmm,W,sss.s,ccc.c,ddmmyy,,,A*hh\n"
        "      on every whole second; time and date from --start (or --wall-clock) plus the\n"
        "      simulated time; status V with empty position fields while the fix is lost.\n"
        "  %bbb/q   bearing to the transmitter relative to the vehicle's heading of 0.6 s\n"
        "      before (000-359), quality q 3-9 (0-2 for a wild bearing); in a turn the noise\n"
        "      grows by 0.5 degrees per degree a second of turn (--no-turn-lag: neither).\n"
        "  @PLOT    with --plot-every.\n"
        "  garbage  8 to 120 bytes of any value except CR, LF, \"$\", \"%\" and \"@\", then CR "
        "LF;\n"
        "      so a burst never makes or hijacks a line the program looks for, but it does\n"
        "      fill the program's 100-character window and carries bytes above 127.\n"
        "\nThe Kraken's answer (--kraken): one line per frequency, each ended by LF, of 377\n"
        "comma-separated fields: UNIX time in ms of the bearing, the strongest direction\n"
        "(whole degrees clockwise from the vehicle's nose), confidence 0-99, power in dB,\n"
        "frequency in Hz, UCA, latency in ms, station id, latitude, longitude, GPS heading,\n"
        "compass heading, heading source, four reserved 0, then the 360 values (0-1) of the\n"
        "direction spectrum, one per degree from the nose. The same answer is served until\n"
        "the next bearing (an empty one before the first). Confidence 99 exp(-miles / 3)\n"
        "+-3 (0-15 for a wild bearing); power 30 - 20 log10(miles) dB +-1 dB; the bearing\n"
        "has the direction finder's noise (--df-noise, --df-wild, the turn lag) drawn on its\n"
        "own. --silence-* stops its bearings, --cable-pull-* does not; with --no-df the\n"
        "Kraken keeps the same moments.\n"
        "\nThe drive: straight runs of 15-45 s at --speed +-6 knots on a street grid, joined\n"
        "by 90 (sometimes 45) degree turns at 12 knots; the stops fall to 0-0.4 knots.\n"
        "\nReplay files: one instrument line per line (LF, CR LF or CR; each is sent with\n"
        "CR LF); empty lines skipped. Stamps are never sent. Three kinds:\n"
        "  2026-12-08T14:21:07.123Z<TAB>GPS<TAB>$GPRMC,...   Kestrelmap's <stamp>_input.log:\n"
        "      each line goes out at its receive time less the first one's.\n"
        "  12.250<TAB>$GPRMC,...   what --record writes: seconds from the start; with\n"
        "      --replay-timing each line at its timestamp less the first one, without\n"
        "      evenly at --replay-rate.\n"
        "  $GPRMC,...   plain lines: paced by the RMC sentences' times, the lines between\n"
        "      two of them spread evenly (a gap over an hour counts as a second); a file\n"
        "      without RMC times goes evenly at --replay-rate.\n"
        "A line without a stamp follows the line before. --replay-speed divides every wait;\n"
        "--replay-rate forces an even pace. --record stamps each line with the moment its\n"
        "last character was written (on a --fast run: when it would have arrived), and\n"
        "records only lines that were written in full.\n"
        "The drive's options (GPS, direction finder, --plot-every, --garbage) do not apply\n"
        "to a replay; --cable-pull-*, --silence-* and --duration do.\n"
        "\nExit status: 0 at the end of the run or on Ctrl-C/SIGTERM, 1 when the device or a\n"
        "file cannot be made, 2 for a bad command line.\n";
    return text;
}

}  // namespace kestrel::sim
