// The estimate's gates measured: the loop hunts of the fix estimate's table (a plot every
// 300 m, 7 degrees, 15 % wild) driven with junction turns, the bearings made the way the
// simulator makes them in a turn, the turn rate and spread computed by the program's own
// functions from the samples the program would see; then the fix with the turn gate off and at
// several limits, and on hunts with an SDR direction finder's confidence, with several floors;
// and how well the spread of a plot's bearings tells its error.
// Usage: kestrel_gate_montecarlo [SEEDS]   (1000 when not given)
//
// The model of a plot near a turn (kestrel-sim's, tools/kestrel-sim/scheduler.h): the car
// turns at a steady rate for the turn's angle; the direction finder's relative bearing is
// taken against where the car pointed 0.6 s before, with 0.5 degrees more noise for every
// degree per second of turn; the true bearing is that plus the course of the last RMC sentence
// (once a second, whole degrees), as the panel adds them. 35 % of the plots fall in a turn or
// in the 3 s after one (a town loop with a junction every few hundred metres).

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

#include "estimate/gates.h"
#include "estimate_sim.h"
#include "hunt/bearing_quality.h"

namespace {

using kestrel::TimedDegrees;
using kestrel::estimate::Bearing;
using kestrel::estimate::Gates;
using namespace kestrel::estimate::sim;

// The simulator's direction finder, and a slower one (a Doppler unit that averages over a few
// seconds, a compass that settles late) to see when the gate pays.
struct TurnModel {
    const char* name;
    double lagS;
    double noisePerDegPerS;
};
constexpr TurnModel kSimulator{"L300 with turns", 0.6, 0.5};
constexpr TurnModel kSlow{"L300, slow DF in turns", 2.0, 1.0};
constexpr double kTurnShare = 0.35;
constexpr double kSigmaDeg = 7;
constexpr double kWildShare = 0.15;

double wrap180(double d) {
    return std::remainder(d, 360.0);
}

struct Plot {
    Bearing bearing;
    double errorDeg = 0;  // of the plotted bearing against the transmitter, wild ones included
    bool wild = false;
};

// The car's heading offset at time t (s, the plot at 0) for a turn of `angle` degrees at
// `rate` degrees a second starting at `start`: 0 before, then turning, then `angle`.
double turned(double t, double start, double rate, double angle) {
    const double duration = std::abs(angle) / rate;
    const double into = std::clamp(t - start, 0.0, duration);
    return std::copysign(into * rate, angle);
}

// One plot's bearing as the program would have it, with the samples of the seconds before it.
// `azimuth` is the true direction to the transmitter (or the reflector), `road` the road's
// heading at the plot without the turn.
Plot takePlot(Random& random, const TurnModel& model, const Bearing& where, double azimuth,
              double road, bool wild, bool kraken, double distanceM) {
    const bool turning = random.uniform(0, 1) < kTurnShare;
    const double rate = turning ? random.uniform(8, 22) : 0;
    const double angle =
        turning ? random.uniform(45, 100) * (random.uniform(0, 1) < 0.5 ? -1 : 1) : 0;
    const double duration = turning ? std::abs(angle) / rate : 0;
    // The plot falls anywhere from the turn's start to 3 s after its end.
    const double start = turning ? -random.uniform(0, duration + 3) : 0;
    const auto heading = [&](double t) { return road + turned(t, start, rate, angle); };
    const auto rateAt = [&](double t) {
        return turning && t >= start && t <= start + duration ? rate : 0.0;
    };
    const double wildDirection = random.uniform(0, 360);
    const auto bearingAt = [&](double t) {
        const double rmc = std::floor(t);                      // the last course the panel holds
        const double course = std::round(heading(rmc - 0.5));  // the GPS's course lags too
        const double noise = (kSigmaDeg + model.noisePerDegPerS * rateAt(t)) * random.normal();
        const double relative = (wild ? wildDirection : azimuth) - heading(t - model.lagS) + noise;
        return std::fmod(std::round(relative) + course + 720, 360.0);
    };
    // The samples: RMC courses once a second, bearing lines every 250 to 330 ms.
    std::vector<TimedDegrees> courses, bearings;
    for (int s = -4; s <= 0; ++s) {
        courses.push_back({s * 1000, std::fmod(std::round(heading(s - 0.5)) + 720, 360.0)});
    }
    std::vector<double> times;
    for (double t = 0; t > -5.5; t -= random.uniform(0.25, 0.33)) {
        times.push_back(t);
    }
    std::reverse(times.begin(), times.end());
    for (const double t : times) {
        bearings.push_back({int64_t(std::lround(t * 1000)), bearingAt(t)});
    }
    Plot plot;
    plot.bearing = where;
    plot.bearing.bearingDeg = bearings.back().degrees;
    plot.bearing.taken.turnRateDegPerS = kestrel::turnRate(courses, 0);
    plot.bearing.taken.spreadDeg = kestrel::bearingSpread(bearings, 0);
    if (kraken) {
        // Confidence falls with distance, and a wild bearing's is low more often.
        const double base = wild ? random.uniform(0, 70) : 99 - 10 * distanceM / 1000;
        plot.bearing.taken.confidence = std::clamp(base + 8 * random.normal(), 0.0, 99.0);
    }
    plot.errorDeg = wrap180(plot.bearing.bearingDeg - azimuth);
    plot.wild = wild;
    return plot;
}

struct TurnHunt {
    Hunt hunt;
    std::vector<Plot> plots;
};

TurnHunt makeTurnHunt(uint64_t seed, int count, bool kraken, const TurnModel& model = kSimulator) {
    const Scenario loop{"L300", Route::Loop, 300, kSigmaDeg, kWildShare};
    TurnHunt out;
    out.hunt = makeHunt(loop, seed, count);  // the positions, the transmitter, the wild flags
    Random random(seed * 7919 + 17);
    const GeographicLib::Geodesic& earth = GeographicLib::Geodesic::WGS84();
    for (size_t i = 0; i < out.hunt.bearings.size(); ++i) {
        const Bearing& b = out.hunt.bearings[i];
        double azimuth = 0, back = 0, distance = 0;
        earth.Inverse(b.latitudeDeg, b.longitudeDeg, out.hunt.txLatitudeDeg,
                      out.hunt.txLongitudeDeg, distance, azimuth, back);
        // The road's heading: towards the next plot (the last one keeps the one before).
        const Bearing& next = out.hunt.bearings[std::min(i + 1, out.hunt.bearings.size() - 1)];
        const Bearing& from = i + 1 < out.hunt.bearings.size() ? b : out.hunt.bearings[i - 1];
        double road = 0, ignored = 0;
        earth.Inverse(from.latitudeDeg, from.longitudeDeg, next.latitudeDeg, next.longitudeDeg,
                      road, ignored);
        out.plots.push_back(
            takePlot(random, model, b, azimuth, road, out.hunt.wild[i], kraken, distance));
    }
    out.hunt.bearings.clear();
    for (const Plot& p : out.plots) {
        out.hunt.bearings.push_back(p.bearing);
    }
    return out;
}

struct Row {
    int shown = 0, hunts = 0, in95 = 0, falseFixes = 0;
    std::vector<double> errors;
};

void add(Row& row, const kestrel::estimate::Estimate& estimate, const Hunt& hunt) {
    ++row.hunts;
    const Outcome o = judge(estimate, hunt);
    if (!o.shown) {
        return;
    }
    ++row.shown;
    row.errors.push_back(o.errorM);
    row.in95 += o.in95 ? 1 : 0;
    row.falseFixes += o.falseFix ? 1 : 0;
}

void print(const char* name, int n, const char* gate, Row& row) {
    if (row.errors.empty()) {
        std::printf("| %s | %d | %s | - | - | 0%% | - | - |\n", name, n, gate);
        return;
    }
    std::sort(row.errors.begin(), row.errors.end());
    const size_t k = row.errors.size();
    std::printf("| %s | %d | %s | %.0f | %.0f | %.1f%% | %.1f%% | %d (%.2f%%) |\n", name, n, gate,
                row.errors[k / 2], row.errors[std::min(k - 1, k * 9 / 10)],
                100.0 * row.shown / row.hunts, 100.0 * row.in95 / row.shown, row.falseFixes,
                100.0 * row.falseFixes / row.shown);
}

double pearson(const std::vector<double>& x, const std::vector<double>& y) {
    const double n = double(x.size());
    double mx = 0, my = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        mx += x[i] / n;
        my += y[i] / n;
    }
    double sxy = 0, sxx = 0, syy = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        sxy += (x[i] - mx) * (y[i] - my);
        sxx += (x[i] - mx) * (x[i] - mx);
        syy += (y[i] - my) * (y[i] - my);
    }
    return sxy / std::sqrt(sxx * syy);
}

std::vector<double> ranks(const std::vector<double>& v) {
    std::vector<size_t> order(v.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return v[a] < v[b]; });
    std::vector<double> r(v.size());
    for (size_t i = 0; i < order.size(); ++i) {
        r[order[i]] = double(i);
    }
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const int seeds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    std::printf(
        "%d seeds a row; loop hunts, a plot every 300 m, 7 degrees, 15 %% wild, %.0f %% "
        "of the plots in or just after a turn of 8 to 22 degrees a second\n\n",
        seeds, 100 * kTurnShare);
    std::printf(
        "| Hunt | N | Gate | Median m | 90th pct m | Shown | 95%% ellipse holds | "
        "False fixes |\n|---|---|---|---|---|---|---|---|\n");
    const double turnLimits[] = {0, 2, 4, 6, 8};
    const char* turnNames[] = {"off", "2 deg/s", "4 deg/s", "6 deg/s", "8 deg/s"};
    for (const TurnModel& model : {kSimulator, kSlow}) {
        for (const int n : {20, 30, 50, 99}) {
            std::vector<Row> rows(std::size(turnLimits));
            for (int k = 1; k <= seeds; ++k) {
                const TurnHunt t = makeTurnHunt(uint64_t(k), n, false, model);
                for (size_t g = 0; g < rows.size(); ++g) {
                    const Gates gates{turnLimits[g], 0};
                    add(rows[g], kestrel::estimate::estimateGated(t.hunt.bearings, gates).estimate,
                        t.hunt);
                }
            }
            for (size_t g = 0; g < rows.size(); ++g) {
                print(model.name, n, turnNames[g], rows[g]);
            }
        }
    }
    const Scenario plain{"L300", Route::Loop, 300, kSigmaDeg, kWildShare};
    for (const int n : {20, 30, 50, 99}) {
        Row noTurns;
        for (int k = 1; k <= seeds; ++k) {
            const Hunt hunt = makeHunt(plain, uint64_t(k), n);
            add(noTurns, kestrel::estimate::estimateFix(hunt.bearings), hunt);
        }
        print("L300 without turns", n, "off", noTurns);
    }
    std::printf(
        "\n| Hunt | N | Confidence floor | Median m | 90th pct m | Shown | 95%% ellipse "
        "holds | False fixes |\n|---|---|---|---|---|---|---|---|\n");
    const double floors[] = {0, 20, 40, 60};
    const char* floorNames[] = {"off", "20", "40", "60"};
    for (const int n : {20, 50, 99}) {
        std::vector<Row> rows(std::size(floors));
        for (int k = 1; k <= seeds; ++k) {
            const TurnHunt t = makeTurnHunt(uint64_t(k), n, true);
            for (size_t g = 0; g < rows.size(); ++g) {
                const Gates gates{kestrel::estimate::kDefaultMaxTurnRateDegPerS, floors[g]};
                add(rows[g], kestrel::estimate::estimateGated(t.hunt.bearings, gates).estimate,
                    t.hunt);
            }
        }
        for (size_t g = 0; g < rows.size(); ++g) {
            print("L300 SDR, turn gate default", n, floorNames[g], rows[g]);
        }
    }
    // The spread against the error of the plotted bearing, over every plot of 99-plot hunts.
    std::vector<double> spread, error, spreadGood, errorGood;
    for (int k = 1; k <= std::max(1, seeds / 10); ++k) {
        for (const Plot& p : makeTurnHunt(uint64_t(k), 99, false).plots) {
            if (!p.bearing.taken.spreadDeg) {
                continue;
            }
            spread.push_back(*p.bearing.taken.spreadDeg);
            error.push_back(std::abs(p.errorDeg));
            if (!p.wild) {
                spreadGood.push_back(*p.bearing.taken.spreadDeg);
                errorGood.push_back(std::abs(p.errorDeg));
            }
        }
    }
    std::printf(
        "\nspread against |error| over %zu plots: Pearson %.2f, Spearman %.2f; the %zu "
        "not wild: Pearson %.2f, Spearman %.2f\n",
        spread.size(), pearson(spread, error), pearson(ranks(spread), ranks(error)),
        spreadGood.size(), pearson(spreadGood, errorGood),
        pearson(ranks(spreadGood), ranks(errorGood)));
    return 0;
}
