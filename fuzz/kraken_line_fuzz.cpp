// A KrakenSDR answer under attack: arbitrary bytes as the body of /DOA_value.html. The parser
// must give no more lines than the body has, only readings whose fields are in range, and a
// problem exactly when no line is usable; the line chosen, with or without a frequency, must
// be one of them and the nearest within the tolerance; every relative bearing must be 0-359
// for any array offset from -720 to 720. The last bytes also pick the frequency and offset.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "instruments/kraken_line.h"

using namespace kestrel::instruments;

namespace {

[[noreturn]] void fault(const std::string& what) {
    std::fprintf(stderr, "\nINVARIANT BROKEN: %s\n", what.c_str());
    std::abort();
}

bool inRange(const KrakenReading& r) {
    return r.timeMs > 0 && r.direction >= 0 && r.direction <= 360 && r.confidence >= 0 &&
           r.confidence <= 99 && std::isfinite(r.powerDb) && std::isfinite(r.frequencyHz) &&
           r.frequencyHz > 0;
}

void checkChoice(const std::vector<KrakenReading>& lines, double frequencyHz) {
    const std::optional<KrakenReading> chosen = chooseKrakenLine(lines, frequencyHz);
    bool anyClose = false;
    for (const KrakenReading& r : lines) {
        const double distance = std::fabs(r.frequencyHz - frequencyHz);
        anyClose = anyClose || distance <= kKrakenFrequencyToleranceHz;
        if (chosen && distance < std::fabs(chosen->frequencyHz - frequencyHz)) {
            fault("a nearer line than the one chosen");
        }
    }
    if (anyClose != chosen.has_value()) {
        fault("a line within the tolerance and none chosen, or the reverse");
    }
    if (chosen && std::find(lines.begin(), lines.end(), *chosen) == lines.end()) {
        fault("the chosen line is not one of the lines");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const KrakenParse parse = parseKrakenAnswer(body);
    const auto& lines = parse.lines;
    if (lines.size() > static_cast<size_t>(std::count(body.begin(), body.end(), '\n')) + 1) {
        fault("more lines than the answer has");
    }
    if (lines.empty() == parse.problem.empty()) {
        fault("lines " + std::to_string(lines.size()) + " with problem '" + parse.problem + "'");
    }
    if (size > kMaxKrakenAnswerBytes && !lines.empty()) {
        fault("lines from an answer over the limit");
    }
    for (const KrakenReading& r : lines) {
        if (!inRange(r)) {
            fault("a reading out of range");
        }
        if (isNewer(r, r.timeMs) || !isNewer(r, r.timeMs - 1) || !isNewer(r, std::nullopt)) {
            fault("isNewer against its own time");
        }
    }

    const std::optional<KrakenReading> first = chooseKrakenLine(lines, std::nullopt);
    if (first.has_value() != !lines.empty() || (first && !(*first == lines.front()))) {
        fault("without a frequency the first line is not chosen");
    }
    const auto byte = [&](size_t back) { return size > back ? data[size - 1 - back] : 0; };
    const double shift = (byte(0) * 256 + byte(1)) % 16001 - 8000.0;  // -8 to 8 kHz
    checkChoice(lines, lines.empty() ? shift : lines[byte(2) % lines.size()].frequencyHz + shift);
    checkChoice(lines, 0);

    const double picked = (byte(3) * 256 + byte(4)) % 14401 / 10.0 - 720;
    const double offsets[] = {-720, -360.5, -0.5, 0, 0.5, 359.5, 719.5, 720, picked};
    for (const KrakenReading& r : lines) {
        for (const double offset : offsets) {
            const int bearing = krakenRelativeBearing(r.direction, offset);
            if (bearing < 0 || bearing > 359) {
                fault("relative bearing " + std::to_string(bearing) + " for " +
                      std::to_string(r.direction) + " + " + std::to_string(offset));
            }
        }
    }
    return 0;
}
