#pragma once
// The bearings of a KrakenSDR direction finder, read from the answer its DSP software gives to
// GET /DOA_value.html: one comma-separated line per tracked frequency (LF or CR LF), fields
//   1 UNIX time in ms, 2 strongest direction in degrees clockwise from the array's reference,
//   3 confidence 0-99, 4 power in dB, 5 frequency in Hz, 6 array type (UCA, ULA, Custom),
//   7 latency, 8 station id, 9-10 latitude and longitude, 11-13 headings and their source,
//   14-17 reserved, 18-377 the direction spectrum.
// Only the first six fields are read. What follows the sixth comma is not looked at, so a line
// whose spectrum is missing or cut off still counts; a line of fewer than six fields does not.
// Numbers are plain decimals (a sign, digits with at most one point, an optional exponent;
// blanks around a field are allowed), read the same under any locale; "nan", "inf", hex and a
// value beyond a double are not numbers. Nothing here throws; work is bounded by the answer's
// size limit.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::instruments {

// A longer answer is refused whole: no line of it is read.
inline constexpr std::size_t kMaxKrakenAnswerBytes = 64 * 1024;
// How far a line's frequency may be from the one asked for and still be chosen.
inline constexpr double kKrakenFrequencyToleranceHz = 5000;

struct KrakenReading {
    int64_t timeMs = 0;      // > 0
    double direction = 0;    // 0 <= d <= 360 (360 is the reference itself)
    double confidence = 0;   // 0 to 99
    double powerDb = 0;      // any finite value
    double frequencyHz = 0;  // > 0
    std::string arrayType;   // as written, blanks around it dropped
    bool operator==(const KrakenReading&) const = default;
};

// The usable lines in the order of the answer. A bad line is skipped and the others stay
// usable; `problem` says in a few words what was wrong ("no line", "a bearing outside 0-360",
// the first bad line's fault) only when no line is usable, and is empty otherwise. Empty and
// blank lines are ignored.
struct KrakenParse {
    std::vector<KrakenReading> lines;
    std::string problem;
};

KrakenParse parseKrakenAnswer(std::string_view body);

// The line to use: with `frequencyHz`, the nearest line within kKrakenFrequencyToleranceHz of
// it (the earlier one on a tie), nothing when none is that close; without, the first line.
std::optional<KrakenReading> chooseKrakenLine(const std::vector<KrakenReading>& lines,
                                              std::optional<double> frequencyHz);

// The relative bearing the program takes from a direction finder: `direction` plus
// `arrayOffsetDeg` (degrees clockwise from the vehicle's nose to the array's reference),
// rounded to a whole degree with halves to even and wrapped to 0-359 (359.6 gives 0). A sum
// that is not finite (an offset that is not a number) gives 0.
int krakenRelativeBearing(double direction, double arrayOffsetDeg);

// A reading is fresh only when its time has moved past the last one used (or none was used).
bool isNewer(const KrakenReading& reading, std::optional<int64_t> lastTimeMs);

}  // namespace kestrel::instruments
