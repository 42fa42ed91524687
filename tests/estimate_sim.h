#pragma once

// Simulated hunts for judging the fix estimate: a transmitter somewhere on the earth, a road
// around it or towards it, a plot every so many metres with a noisy bearing (some wild) and a
// noisy GPS position. Shared by the Monte-Carlo benchmark and the reduced run in the tests.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/LocalCartesian.hpp>

#include "estimate/estimator.h"

namespace kestrel::estimate::sim {

// Loop: a circle of 4 km radius whose centre lies 2 km from the transmitter, so the road runs
// from 2 to 6 km from it. WavyLoop: a loop within the same span whose distance swings with two
// harmonics of random phase, half its plots 3.5 to 5 km out (a harder variant). Approach: from
// 10 km out towards the transmitter.
enum class Route { Loop, WavyLoop, Approach };

struct Scenario {
    const char* name = "";
    Route route = Route::Loop;
    double spacingM = 300;    // road distance between plots
    double sigmaDeg = 7;      // bearing error of the good bearings
    double wildShare = 0.15;  // share of bearings uniform over the circle
    // Share of the wild bearings that point at a reflector instead (with the same error as the
    // good ones): a building or a hill 2 km from the transmitter, the same one all hunt.
    double reflectorShare = 0;
};

// A small generator of our own, so that a seed gives the same hunt on every library.
class Random {
  public:
    // The seed is scrambled first: seeds k and k + 1 would otherwise give one sequence shifted
    // by a draw, and neighbouring hunts would share their noise.
    explicit Random(uint64_t seed) : m_state(seed) { m_state = next() ^ 0x6b657374; }
    uint64_t next() {
        uint64_t z = (m_state += 0x9e3779b97f4a7c15);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
        z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
        return z ^ (z >> 31);
    }
    double uniform(double lo, double hi) {
        return lo + (hi - lo) * static_cast<double>(next() >> 11) * 0x1.0p-53;
    }
    double normal() {
        const double u = uniform(1e-300, 1), v = uniform(0, 2 * std::numbers::pi);
        return std::sqrt(-2 * std::log(u)) * std::cos(v);
    }

  private:
    uint64_t m_state;
};

struct Hunt {
    double txLatitudeDeg = 0, txLongitudeDeg = 0;
    std::vector<Bearing> bearings;
    std::vector<bool> wild;  // per bearing: drawn at random
    double gpsSigmaM = 0;
};

// The smallest mean squared error any unbiased estimate could reach knowing which bearings
// are wild (the Cramer-Rao bound of the good ones), in square metres.
inline double oracleBoundM2(const Hunt& hunt, double sigmaDeg) {
    const GeographicLib::LocalCartesian frame(hunt.txLatitudeDeg, hunt.txLongitudeDeg, 0);
    const double sigma = sigmaDeg * std::numbers::pi / 180;
    double a = 0, b = 0, c = 0;
    for (size_t i = 0; i < hunt.bearings.size(); ++i) {
        double e = 0, n = 0, u = 0;
        frame.Forward(hunt.bearings[i].latitudeDeg, hunt.bearings[i].longitudeDeg, 0, e, n, u);
        const double r2 = e * e + n * n;
        if (hunt.wild[i] || r2 == 0) {
            continue;
        }
        // The GPS error across the line is half its mean square.
        const double var = sigma * sigma + hunt.gpsSigmaM * hunt.gpsSigmaM / 2 / r2;
        const double ge = -n / r2, gn = e / r2;
        a += ge * ge / var;
        b += ge * gn / var;
        c += gn * gn / var;
    }
    return (a + c) / (a * c - b * b);
}

struct Point {
    double e = 0, n = 0;
};

// The middle value (the upper of the two middle ones), 0 for none; reorders the values.
inline double medianOf(std::vector<double>& values) {
    if (values.empty()) {
        return 0;
    }
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// Road points (metres from the transmitter) a plot spacing apart.
inline std::vector<Point> roadPlots(const Scenario& s, Random& random, int plots) {
    std::vector<Point> out;
    constexpr double kTwoPi = 2 * std::numbers::pi;
    if (s.route != Route::Approach) {
        // A closed loop 2 to 6 km from the transmitter, driven from a random place, either way.
        const double p1 = random.uniform(0, kTwoPi), p3 = random.uniform(0, kTwoPi);
        const double way = random.uniform(0, 1) < 0.5 ? -1 : 1;
        auto at = [&](double phi) {
            if (s.route == Route::Loop) {
                return Point{2000 * std::sin(p1) + 4000 * std::sin(phi),
                             2000 * std::cos(p1) + 4000 * std::cos(phi)};
            }
            const double r =
                4000 + 2000 * (0.6 * std::sin(phi + p1) + 0.4 * std::sin(3 * phi + p3));
            return Point{r * std::sin(phi), r * std::cos(phi)};
        };
        double phi = random.uniform(0, kTwoPi), toNext = 0;
        Point here = at(phi);
        while (static_cast<int>(out.size()) < plots) {
            const Point next = at(phi + way * 0.001);
            toNext -= std::hypot(next.e - here.e, next.n - here.n);
            phi += way * 0.001;
            here = next;
            if (toNext <= 0) {
                out.push_back(here);
                toNext += s.spacingM;
            }
        }
    } else {
        // From 10 km out towards the transmitter on a road winding 45 degrees either side.
        const double start = random.uniform(0, kTwoPi), wind = random.uniform(0, kTwoPi);
        Point here{10000 * std::sin(start), 10000 * std::cos(start)};
        double driven = 0, toNext = 0;
        while (static_cast<int>(out.size()) < plots) {
            const double heading =
                std::atan2(-here.e, -here.n) + 0.8 * std::sin(driven / 1500 + wind);
            here = {here.e + 10 * std::sin(heading), here.n + 10 * std::cos(heading)};
            driven += 10;
            toNext -= 10;
            if (toNext <= 0) {
                out.push_back(here);
                toNext += s.spacingM;
            }
        }
    }
    return out;
}

inline Hunt makeHunt(const Scenario& s, uint64_t seed, int plots) {
    Random random(seed);
    Hunt hunt;
    hunt.txLatitudeDeg = random.uniform(-60, 60);
    hunt.txLongitudeDeg = random.uniform(-180, 180);
    const GeographicLib::LocalCartesian frame(hunt.txLatitudeDeg, hunt.txLongitudeDeg, 0);
    const GeographicLib::Geodesic& earth = GeographicLib::Geodesic::WGS84();
    const double gpsSigmaM = random.uniform(5, 15);
    hunt.gpsSigmaM = gpsSigmaM;
    // A receiver's error drifts over minutes: half its variance is shared by the whole hunt,
    // half changes from plot to plot. Per axis, so that the mean square distance is gpsSigmaM².
    const double perAxis = gpsSigmaM / 2;
    const double sharedE = perAxis * random.normal(), sharedN = perAxis * random.normal();
    double reflectorLat = 0, reflectorLon = 0, h = 0;
    if (s.reflectorShare > 0) {
        const double towards = random.uniform(0, 2 * std::numbers::pi);
        frame.Reverse(2000 * std::sin(towards), 2000 * std::cos(towards), 0, reflectorLat,
                      reflectorLon, h);
    }
    int id = 0;
    for (const Point& road : roadPlots(s, random, plots)) {
        double lat = 0, lon = 0, azi = 0, back = 0;
        frame.Reverse(road.e, road.n, 0, lat, lon, h);
        const bool wild = random.uniform(0, 1) < s.wildShare;
        const bool reflected =
            wild && s.reflectorShare > 0 && random.uniform(0, 1) < s.reflectorShare;
        if (reflected) {
            earth.Inverse(lat, lon, reflectorLat, reflectorLon, azi, back);
        } else {
            earth.Inverse(lat, lon, hunt.txLatitudeDeg, hunt.txLongitudeDeg, azi, back);
        }
        const double bearing =
            wild && !reflected ? random.uniform(0, 360) : azi + s.sigmaDeg * random.normal();
        double gpsLat = 0, gpsLon = 0;
        frame.Reverse(road.e + sharedE + perAxis * random.normal(),
                      road.n + sharedN + perAxis * random.normal(), 0, gpsLat, gpsLon, h);
        hunt.wild.push_back(wild);
        hunt.bearings.push_back({++id, gpsLat, gpsLon, std::fmod(bearing + 720, 360.0), 7});
    }
    return hunt;
}

// The hunt's bearings without the wild ones: what an oracle that knows them would fit.
inline std::vector<Bearing> goodBearings(const Hunt& hunt) {
    std::vector<Bearing> good;
    for (size_t i = 0; i < hunt.bearings.size(); ++i) {
        if (!hunt.wild[i]) {
            good.push_back(hunt.bearings[i]);
        }
    }
    return good;
}

// The plain method the fit must beat: the median (east and north apart) of the crossings of
// every pair of bearings taken at least 500 m apart that cross ahead of both at more than 5
// degrees and within 100 km. Its distance from the transmitter, or a negative value when no
// pair crosses.
inline double crossingsMedianErrorM(const Hunt& hunt) {
    const GeographicLib::LocalCartesian frame(hunt.txLatitudeDeg, hunt.txLongitudeDeg, 0);
    struct Ray {
        Point at, dir;
    };
    std::vector<Ray> rays;
    for (const Bearing& b : hunt.bearings) {
        double e = 0, n = 0, u = 0;
        frame.Forward(b.latitudeDeg, b.longitudeDeg, 0, e, n, u);
        const double t = b.bearingDeg * std::numbers::pi / 180;
        rays.push_back({{e, n}, {std::sin(t), std::cos(t)}});
    }
    std::vector<double> es, ns;
    const double minSine = std::sin(5 * std::numbers::pi / 180);
    for (size_t i = 0; i < rays.size(); ++i) {
        for (size_t j = i + 1; j < rays.size(); ++j) {
            const Ray &a = rays[i], &b = rays[j];
            const double de = b.at.e - a.at.e, dn = b.at.n - a.at.n;
            const double cross = a.dir.e * b.dir.n - a.dir.n * b.dir.e;
            if (std::hypot(de, dn) < 500 || std::abs(cross) < minSine) {
                continue;
            }
            const double ta = (de * b.dir.n - dn * b.dir.e) / cross;
            const double tb = (de * a.dir.n - dn * a.dir.e) / cross;
            if (ta <= 0 || tb <= 0 || ta > 100e3) {
                continue;
            }
            es.push_back(a.at.e + ta * a.dir.e);
            ns.push_back(a.at.n + ta * a.dir.n);
        }
    }
    return es.empty() ? -1 : std::hypot(medianOf(es), medianOf(ns));
}

inline double distanceToTransmitterM(const Estimate& est, const Hunt& hunt) {
    double s = 0;
    GeographicLib::Geodesic::WGS84().Inverse(est.latitudeDeg, est.longitudeDeg, hunt.txLatitudeDeg,
                                             hunt.txLongitudeDeg, s);
    return s;
}

struct Outcome {
    bool shown = false;
    double errorM = 0;
    bool in95 = false, in1Sigma = false, falseFix = false;
};

inline Outcome judge(const Estimate& est, const Hunt& hunt) {
    Outcome o;
    o.shown = est.shown;
    if (!est.shown) {
        return o;
    }
    const GeographicLib::LocalCartesian frame(est.latitudeDeg, est.longitudeDeg, 0);
    double e = 0, n = 0, u = 0;
    frame.Forward(hunt.txLatitudeDeg, hunt.txLongitudeDeg, 0, e, n, u);
    o.errorM = distanceToTransmitterM(est, hunt);
    const double az = est.majorAzimuthDeg * std::numbers::pi / 180;
    const double along = e * std::sin(az) + n * std::cos(az);
    const double across = -e * std::cos(az) + n * std::sin(az);
    auto inside = [&](double a, double b) {
        return (along / a) * (along / a) + (across / b) * (across / b) <= 1;
    };
    o.in95 = inside(est.semiMajorM, est.semiMinorM);
    o.in1Sigma = inside(est.sigma1MajorM, est.sigma1MinorM);
    o.falseFix = o.errorM > std::max(1000.0, 2 * est.semiMajorM);
    return o;
}

struct Summary {
    int hunts = 0, shown = 0;
    double medianM = 0, p90M = 0;
    double medianLowM = 0, medianHighM = 0;  // the median's 95 % confidence interval
    double cover95 = 0, cover1Sigma = 0;
    int falseFixes = 0;
    double rmsOverBound = 0;      // RMS error over the RMS of the oracle bound
    double oracleMedianM = 0;     // the same fit given only the good bearings, on the same hunts
    double crossingsMedianM = 0;  // the median of pair crossings, on the same hunts
};

// Every seed from firstSeed on, the hunt cut to its first `plots` plots.
inline Summary runScenario(const Scenario& s, int plots, int seeds, uint64_t firstSeed = 1) {
    Summary sum;
    std::vector<double> errors, oracleErrors, crossingsErrors;
    int in95 = 0, in1 = 0;
    double squares = 0, bound = 0;
    for (int k = 0; k < seeds; ++k) {
        const Hunt hunt = makeHunt(s, firstSeed + static_cast<uint64_t>(k), plots);
        const Outcome o = judge(estimateFix(hunt.bearings), hunt);
        ++sum.hunts;
        if (!o.shown) {
            continue;
        }
        ++sum.shown;
        errors.push_back(o.errorM);
        if (const Estimate oracle = estimateFix(goodBearings(hunt)); oracle.computed) {
            oracleErrors.push_back(distanceToTransmitterM(oracle, hunt));
        }
        if (const double crossings = crossingsMedianErrorM(hunt); crossings >= 0) {
            crossingsErrors.push_back(crossings);
        }
        squares += o.errorM * o.errorM;
        bound += oracleBoundM2(hunt, s.sigmaDeg);
        in95 += o.in95 ? 1 : 0;
        in1 += o.in1Sigma ? 1 : 0;
        sum.falseFixes += o.falseFix ? 1 : 0;
    }
    if (!errors.empty()) {
        std::sort(errors.begin(), errors.end());
        const size_t n = errors.size();
        sum.medianM = errors[n / 2];
        // Order statistics: the true median lies between these ranks 95 % of the time.
        const auto spread = static_cast<size_t>(0.98 * std::sqrt(static_cast<double>(n)));
        sum.medianLowM = errors[n / 2 > spread ? n / 2 - spread : 0];
        sum.medianHighM = errors[std::min(n - 1, n / 2 + spread)];
        sum.p90M = errors[std::min(errors.size() - 1, errors.size() * 9 / 10)];
        sum.cover95 = static_cast<double>(in95) / sum.shown;
        sum.cover1Sigma = static_cast<double>(in1) / sum.shown;
        sum.rmsOverBound = std::sqrt(squares / bound);
    }
    sum.oracleMedianM = medianOf(oracleErrors);
    sum.crossingsMedianM = medianOf(crossingsErrors);
    return sum;
}

}  // namespace kestrel::estimate::sim
