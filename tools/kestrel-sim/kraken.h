#pragma once
// The Kraken, an SDR direction finder on the network: its answer to GET /DOA_value.html as its
// DSP software writes it, one line per tracked frequency, each ended by LF, of 377
// comma-separated fields:
//   1 UNIX time in ms of the bearing, 2 the strongest direction (whole degrees clockwise from
//   the array's reference, which points along the vehicle's nose), 3 confidence 0-99, 4 power
//   in dB, 5 frequency in Hz, 6 array type "UCA", 7 latency in ms, 8 station id, 9-10 the
//   station's latitude and longitude, 11 GPS heading, 12 compass heading, 13 heading source
//   "GPS", 14-17 reserved (0), 18-377 the direction spectrum, one value from 0 to 1 for each
//   whole degree from the reference.
// Every number is formatted from whole numbers, so no locale can change a byte.
//
// How the simulated Kraken sees a transmitter `miles` away:
// - confidence 99 * exp(-miles / 3), to the nearest whole number, jittered by up to 3 (99 next
//   to it, 71 at a mile, 34 at the default 3.2 miles, 19 at 5); a wild bearing has 0 to 15;
// - power 30 - 20 log10(miles) dB (free-space loss; miles taken as at least 0.05), plus noise
//   of 1 dB standard deviation: 30 dB at a mile, 20 dB at 3.2 miles;
// - the direction: the true relative bearing plus the direction finders' noise (--df-noise,
//   clipped at 3.5 standard deviations, more in a turn), or any direction for a wild bearing;
// - the spectrum: a Gaussian beam of 8 + 22 (1 - confidence/99) degrees standard deviation
//   over a floor of 0.05 + 0.35 (1 - confidence/99), with noise of 0.03 standard deviation
//   that fades out toward the peak, so the strongest direction is the bearing's whole degree.

#include <array>
#include <cstdint>
#include <string>

#include "kestrel-sim/random.h"
#include "kestrel-sim/vehicle.h"

namespace kestrel::sim {

inline constexpr int kSpectrumBins = 360;
using DoaSpectrum = std::array<int, kSpectrumBins>;  // thousandths, 0 to 1000

struct DoaLine {
    std::int64_t unixMs = 0;
    int directionDeg = 0;  // 0 to 359
    int confidence = 0;    // 0 to 99
    double powerDb = 0;    // sent with one decimal
    std::int64_t frequencyHz = 0;
    int latencyMs = 0;
    GeoPoint position;      // sent with six decimals
    double headingDeg = 0;  // sent as the GPS and the compass heading, one decimal
    DoaSpectrum spectrum{};
};

// The line with its LF.
std::string formatDoaLine(const DoaLine& line);
// The index of the spectrum's greatest value (the first of equal ones).
int strongestDirection(const DoaSpectrum& spectrum);

int krakenConfidence(double miles);
double krakenPowerDb(double miles);
// A spectrum peaked at `peakDeg` (clockwise from the reference) for a bearing of the given
// confidence; always makes the same number of draws.
DoaSpectrum doaSpectrum(double peakDeg, int confidence, Random& random);

// What the Kraken sees at the moment of one bearing.
struct KrakenView {
    std::int64_t unixMs = 0;
    std::int64_t frequencyHz = 0;
    VehicleState vehicle;
    double antennaHeadingDeg = 0;  // the heading the bearing is relative to
    double sigmaDeg = 0;           // of the bearing's noise
    double wildPercent = 0;
    GeoPoint transmitter;
};

struct KrakenBearing {
    DoaLine line;
    double trueBearingDeg = 0;  // from the vehicle to the transmitter, true
    bool wild = false;
};

// One bearing; every draw is made whatever the outcome, so one wild bearing does not shift the
// rest.
KrakenBearing takeKrakenBearing(const KrakenView& view, Random& random);

}  // namespace kestrel::sim
