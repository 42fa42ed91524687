#include "kestrel-sim/kraken.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "estimate/number_format.h"

namespace kestrel::sim {
namespace {

constexpr double kConfidenceFallMiles = 3;  // confidence falls by e over this distance
constexpr int kConfidenceJitter = 3;
constexpr int kWildConfidenceMax = 15;
constexpr double kPowerAtAMileDb = 30;
constexpr double kPowerNearestMiles = 0.05;
constexpr double kPowerNoiseDb = 1;
constexpr double kNoiseClip = 3.5;
constexpr double kNarrowestBeamDeg = 8;
constexpr double kBeamWideningDeg = 22;
constexpr double kLowestFloor = 0.05;
constexpr double kFloorRise = 0.35;
constexpr double kSpectrumNoise = 0.03;
constexpr int kLatencyMinMs = 60;
constexpr int kLatencyMaxMs = 140;
constexpr const char* kStationId = "kestrel-sim";

// "." as the decimal point whatever the locale, the estimate's own formatting.
using estimate::fixedText;

// A heading with one decimal, 0.0 to 359.9.
std::string heading(double deg) {
    const long long tenths = std::llround(wrapDegrees(deg) * 10);
    return fixedText(static_cast<double>(tenths >= 3600 ? tenths - 3600 : tenths) / 10.0, 1);
}

double clippedNormal(Random& random, double sigma) {
    return std::clamp(random.normal() * sigma, -kNoiseClip * sigma, kNoiseClip * sigma);
}

}  // namespace

std::string formatDoaLine(const DoaLine& line) {
    std::string out;
    out.reserve(17 * 12 + kSpectrumBins * 6);
    const auto field = [&out](const std::string& text) {
        out += text;
        out += ',';
    };
    field(std::to_string(line.unixMs));
    field(std::to_string(std::clamp(line.directionDeg, 0, kSpectrumBins - 1)));
    field(std::to_string(std::clamp(line.confidence, 0, 99)));
    field(fixedText(line.powerDb, 1));
    field(std::to_string(line.frequencyHz));
    field("UCA");
    field(std::to_string(line.latencyMs));
    field(kStationId);
    field(fixedText(line.position.latDeg, 6));
    field(fixedText(line.position.lonDeg, 6));
    field(heading(line.headingDeg));
    field(heading(line.headingDeg));
    field("GPS");
    for (int reserved = 0; reserved < 4; ++reserved) {
        field("0");
    }
    for (const int v : line.spectrum) {
        field(fixedText(std::clamp(v, 0, 1000) / 1000.0, 3));
    }
    out.back() = '\n';
    return out;
}

int strongestDirection(const DoaSpectrum& spectrum) {
    return static_cast<int>(std::max_element(spectrum.begin(), spectrum.end()) - spectrum.begin());
}

int krakenConfidence(double miles) {
    const double c = 99.0 * std::exp(-std::max(miles, 0.0) / kConfidenceFallMiles);
    return static_cast<int>(std::clamp<long>(std::lround(c), 0, 99));
}

double krakenPowerDb(double miles) {
    return kPowerAtAMileDb - 20.0 * std::log10(std::max(miles, kPowerNearestMiles));
}

DoaSpectrum doaSpectrum(double peakDeg, int confidence, Random& random) {
    const double weak = 1.0 - std::clamp(confidence, 0, 99) / 99.0;
    const double width = kNarrowestBeamDeg + kBeamWideningDeg * weak;
    const double floor = kLowestFloor + kFloorRise * weak;
    DoaSpectrum spectrum{};
    for (int i = 0; i < kSpectrumBins; ++i) {
        const double d = angleDifference(peakDeg, i) / width;
        const double beam = std::exp(-0.5 * d * d);
        const double noise = random.normal() * kSpectrumNoise * (1.0 - beam);
        const double v = std::clamp(floor + (1.0 - floor) * beam + noise, 0.0, 1.0);
        spectrum[static_cast<std::size_t>(i)] = static_cast<int>(std::lround(v * 1000));
    }
    return spectrum;
}

KrakenBearing takeKrakenBearing(const KrakenView& view, Random& random) {
    KrakenBearing b;
    b.trueBearingDeg = bearingDeg(view.vehicle.position, view.transmitter);
    const double miles = distanceMiles(view.vehicle.position, view.transmitter);
    const double sigma = std::max(0.0, view.sigmaDeg);
    const double noise = clippedNormal(random, sigma);
    b.wild = random.chance(view.wildPercent / 100.0);
    const double wildDirection = random.uniform(0.0, 360.0);
    const auto wildConfidence = static_cast<int>(random.between(0, kWildConfidenceMax));
    const auto jitter = static_cast<int>(random.between(-kConfidenceJitter, kConfidenceJitter));
    const double powerNoise = random.normal() * kPowerNoiseDb;
    const auto latency = static_cast<int>(random.between(kLatencyMinMs, kLatencyMaxMs));

    DoaLine& line = b.line;
    line.unixMs = view.unixMs;
    line.confidence = b.wild ? wildConfidence : std::clamp(krakenConfidence(miles) + jitter, 0, 99);
    line.powerDb = krakenPowerDb(miles) + powerNoise;
    line.frequencyHz = view.frequencyHz;
    line.latencyMs = latency;
    line.position = view.vehicle.position;
    line.headingDeg = view.vehicle.headingDeg;
    const double direction =
        b.wild ? wildDirection : wrapDegrees(b.trueBearingDeg - view.antennaHeadingDeg + noise);
    line.spectrum = doaSpectrum(direction, line.confidence, random);
    line.directionDeg = strongestDirection(line.spectrum);
    return b;
}

}  // namespace kestrel::sim
