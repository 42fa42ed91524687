#include "estimate/fit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace kestrel::estimate {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRadPerDeg = kPi / 180;
constexpr double kMinCrossingSin = 0.25881904510252074;  // sin 15 degrees
constexpr double kMinNarrowSin = 0.03489949670250097;    // sin 2 degrees
constexpr size_t kMaxPairs = 1500;
constexpr double kScoreCap = 2.5 * 2.5;
constexpr double kMinSigmaRad = 2 * kRadPerDeg;
constexpr double kMaxSigmaRad = 45 * kRadPerDeg;
constexpr double kMinWildShare = 0.01;
constexpr double kMaxWildShare = 0.5;
constexpr double kStopStepM = 0.1;
constexpr int kMaxIterations = 100;
constexpr int kMaxHalvings = 30;

double cross(PlanePoint a, PlanePoint b) {
    return a.e * b.n - a.n * b.e;
}
double dot(PlanePoint a, PlanePoint b) {
    return a.e * b.e + a.n * b.n;
}
PlanePoint minus(PlanePoint a, PlanePoint b) {
    return {a.e - b.e, a.n - b.n};
}

double wrapPi(double a) {
    a = std::remainder(a, 2 * kPi);
    return a <= -kPi ? a + 2 * kPi : a;
}

// A fixed-seed generator of its own, so that the pairs drawn are the same on every library.
struct SplitMix {
    uint64_t state = 0x6b657374726c6d70;
    uint64_t next() {
        uint64_t z = (state += 0x9e3779b97f4a7c15);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
        z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
        return z ^ (z >> 31);
    }
};

// MSAC score of a candidate: each bearing adds its squared standardised residual, capped, so
// a wild bearing costs the same however wild. The tangent stands in for the angle: the cap is
// reached near 20 degrees, where they differ by a few percent.
double score(const std::vector<Ray>& rays, PlanePoint x, double best) {
    const double sigma2 = kPriorSigmaRad * kPriorSigmaRad;
    double total = 0;
    for (const Ray& ray : rays) {
        const PlanePoint d = minus(x, ray.origin);
        const double along = dot(d, ray.dir);
        const double r2 = dot(d, d);
        double cost = kScoreCap;
        if (along > 0 && r2 > 0) {
            const double t = cross(ray.dir, d) / along;
            const double var = sigma2 + kPositionSigmaM * kPositionSigmaM / r2;
            cost = std::min(t * t / var, kScoreCap);
        }
        total += cost;
        if (total >= best) {
            return total;
        }
    }
    return total;
}

// Every pair of the rays, or a fixed draw of kMaxPairs of them when there are more.
template <typename Visit>
void forEachPair(size_t count, Visit visit) {
    if (count * (count - 1) / 2 <= kMaxPairs) {
        for (size_t i = 0; i < count; ++i) {
            for (size_t j = i + 1; j < count; ++j) {
                visit(i, j);
            }
        }
        return;
    }
    SplitMix random;
    for (size_t k = 0; k < kMaxPairs; ++k) {
        const size_t i = random.next() % count;
        const size_t j = random.next() % (count - 1);
        visit(i, j >= i ? j + 1 : j);
    }
}

}  // namespace

// The best-scoring forward crossing of two bearings that cross at 15 degrees or more; when
// none does (a straight approach from far off), the best of those crossing at 2 degrees or
// more, whose result the display gates then judge.
StartSearch findStart(const std::vector<Ray>& rays) {
    StartSearch found;
    double best = INFINITY, bestNarrow = INFINITY;
    std::optional<PlanePoint> narrowStart;
    auto tryPair = [&](size_t i, size_t j) {
        const Ray& a = rays[i];
        const Ray& b = rays[j];
        const double det = cross(a.dir, b.dir);
        if (std::abs(det) < kMinNarrowSin) {
            return;
        }
        const PlanePoint d = minus(b.origin, a.origin);
        const double ta = cross(d, b.dir) / det;
        const double tb = cross(d, a.dir) / det;
        if (ta <= 0 || tb <= 0) {
            found.crossesBehind = found.crossesBehind || (ta < 0 && tb < 0);
            return;
        }
        const PlanePoint x{a.origin.e + ta * a.dir.e, a.origin.n + ta * a.dir.n};
        const bool wide = std::abs(det) >= kMinCrossingSin;
        if (!wide && found.start) {
            return;
        }
        double& bar = wide ? best : bestNarrow;
        const double s = score(rays, x, bar);
        if (s < bar) {
            bar = s;
            (wide ? found.start : narrowStart) = x;
        }
    };
    forEachPair(rays.size(), tryPair);
    if (!found.start) {
        found.start = narrowStart;
    }
    return found;
}

namespace {

// Residuals, ranges and variances at x; the chance each bearing is good under (sigma, wild).
void expectation(const std::vector<Ray>& rays, PlanePoint x, Fit& fit) {
    const double sigma2 = fit.sigmaRad * fit.sigmaRad;
    for (size_t i = 0; i < rays.size(); ++i) {
        const PlanePoint d = minus(x, rays[i].origin);
        const double r = std::max(std::hypot(d.e, d.n), 1e-3);
        const double e = wrapPi(rays[i].azimuthRad - std::atan2(d.e, d.n));
        const double var = sigma2 + kPositionSigmaM * kPositionSigmaM / (r * r);
        const double good =
            (1 - fit.wildShare) * std::exp(-0.5 * e * e / var) / std::sqrt(2 * kPi * var);
        const double wild = fit.wildShare / (2 * kPi);
        fit.residual[i] = e;
        fit.range[i] = r;
        fit.varRad2[i] = var;
        fit.inlier[i] = good / (good + wild);
    }
}

double weightedCost(const std::vector<Ray>& rays, const Fit& fit, PlanePoint x) {
    double cost = 0;
    for (size_t i = 0; i < rays.size(); ++i) {
        const PlanePoint d = minus(x, rays[i].origin);
        const double e = wrapPi(rays[i].azimuthRad - std::atan2(d.e, d.n));
        cost += fit.inlier[i] * e * e / fit.varRad2[i];
    }
    return cost;
}

// One Gauss-Newton step of the weighted least squares with the inlier chances held, halved
// until the cost falls. Returns the step's length, or a negative value when none helps.
double moveFix(const std::vector<Ray>& rays, Fit& fit) {
    double h11 = 0, h12 = 0, h22 = 0, b1 = 0, b2 = 0;
    for (size_t i = 0; i < rays.size(); ++i) {
        const PlanePoint d = minus(fit.x, rays[i].origin);
        const double r2 = fit.range[i] * fit.range[i];
        const double g1 = d.n / r2, g2 = -d.e / r2;
        const double w = fit.inlier[i] / fit.varRad2[i];
        h11 += w * g1 * g1;
        h12 += w * g1 * g2;
        h22 += w * g2 * g2;
        b1 += w * g1 * fit.residual[i];
        b2 += w * g2 * fit.residual[i];
    }
    const double det = h11 * h22 - h12 * h12;
    if (!(det > 1e-12 * (h11 * h22)) || !(det > 0)) {
        return -1;
    }
    PlanePoint step{(h22 * b1 - h12 * b2) / det, (h11 * b2 - h12 * b1) / det};
    const double before = weightedCost(rays, fit, fit.x);
    for (int halving = 0; halving < kMaxHalvings; ++halving) {
        const PlanePoint next{fit.x.e + step.e, fit.x.n + step.n};
        if (weightedCost(rays, fit, next) < before) {
            fit.x = next;
            return std::hypot(step.e, step.n);
        }
        step = {step.e / 2, step.n / 2};
    }
    return 0;
}

// The mixture's share of wild bearings and the bearing sigma, from the inlier chances.
void updateModel(Fit& fit) {
    double good = 0, spread = 0;
    for (size_t i = 0; i < fit.inlier.size(); ++i) {
        const double fromPosition = fit.varRad2[i] - fit.sigmaRad * fit.sigmaRad;
        good += fit.inlier[i];
        spread += fit.inlier[i] * std::max(fit.residual[i] * fit.residual[i] - fromPosition, 0.0);
    }
    const double count = static_cast<double>(fit.inlier.size());
    fit.wildShare = std::clamp(1 - good / count, kMinWildShare, kMaxWildShare);
    if (good > 2) {
        fit.sigmaRad = std::clamp(std::sqrt(spread / (good - 2)), kMinSigmaRad, kMaxSigmaRad);
    }
}

}  // namespace

Fit fitRobust(const std::vector<Ray>& rays, PlanePoint start) {
    Fit fit;
    fit.x = start;
    fit.sigmaRad = kPriorSigmaRad;
    fit.wildShare = 0.15;
    fit.inlier.resize(rays.size());
    fit.residual.resize(rays.size());
    fit.range.resize(rays.size());
    fit.varRad2.resize(rays.size());
    fit.ok = true;
    for (int iteration = 0; iteration < kMaxIterations; ++iteration) {
        expectation(rays, fit.x, fit);
        const double moved = moveFix(rays, fit);
        if (moved < 0) {
            fit.ok = false;
            break;
        }
        expectation(rays, fit.x, fit);
        updateModel(fit);
        if (moved < kStopStepM && iteration >= 2) {
            break;
        }
    }
    expectation(rays, fit.x, fit);
    fit.ok = fit.ok && std::isfinite(fit.x.e) && std::isfinite(fit.x.n);
    return fit;
}

}  // namespace kestrel::estimate
