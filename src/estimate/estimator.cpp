#include "estimate/estimator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <numeric>
#include <tuple>

#include "estimate/fit.h"
#include "estimate/local_plane.h"

namespace kestrel::estimate {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRadPerDeg = kPi / 180;
constexpr size_t kMinPlots = 5;
constexpr int kFirmFrom = 10;          // fewer used plots: provisional
constexpr double kPriorWeight = 4;     // degrees of freedom behind the prior sigma
constexpr double kNonlinearity = 1.1;  // widens the ellipse for the curved geometry
constexpr double kMinSpanRad = 30 * kRadPerDeg;
constexpr double kMinSupport = 3;  // effective number of plots along each axis
constexpr double kMinAheadShare = 0.9;
// A share above this for one plot holds the fix back. On a loop the nearest plot carries
// most of the information, up to about half of it a dozen plots in, and that fix is sound; on
// an approach a fix resting on one plot's line is often kilometres off.
constexpr double kMaxLeverage = 0.6;
constexpr double kMaxAheadVarRad2 = (kPi / 4) * (kPi / 4);
constexpr double kMaxAxisPerRange = 0.5;  // 95 % semi-major axis over the median range
// Within this the hunter walks the rest, and a plot metres from the transmitter tells little
// more than the GPS error: the "too uncertain" gate takes this as the least median range, so
// that an area of up to 100 m still shows when the car stands beside the transmitter.
constexpr double kWalkingRangeM = 200;
// About half a GPS receiver's error is shared by plots minutes apart: it moves the fix with
// it however many bearings there are, so it is added to the fix's covariance, per axis.
constexpr double kSharedPositionVarM2 = kPositionSigmaM * kPositionSigmaM / 4;
constexpr double kMaxSpreadM = 500e3;  // a hunt beyond this is no tangent-plane problem
constexpr int kRingVertices = 73;

struct Problem {
    std::vector<size_t> inputIndex;  // per ray: its bearing's place in the input
    std::vector<Ray> rays;
    double spreadM = 0;
};

// The usable bearings in a fixed order (by position, then bearing), so that the order the
// plots come in cannot change the answer, as rays in a plane at their mean position.
Problem prepare(std::span<const Bearing> bearings, const LocalPlane& plane) {
    Problem p;
    for (size_t i = 0; i < bearings.size(); ++i) {
        if (usableBearing(bearings[i])) {
            p.inputIndex.push_back(i);
        }
    }
    auto key = [&](size_t i) {
        const Bearing& b = bearings[i];
        return std::make_tuple(b.latitudeDeg, b.longitudeDeg, std::remainder(b.bearingDeg, 360.0));
    };
    std::stable_sort(p.inputIndex.begin(), p.inputIndex.end(),
                     [&](size_t a, size_t b) { return key(a) < key(b); });
    for (size_t i : p.inputIndex) {
        const Bearing& b = bearings[i];
        Ray ray;
        ray.origin = plane.toPlane(b.latitudeDeg, b.longitudeDeg);
        ray.dir = plane.gridDirection(b.latitudeDeg, b.longitudeDeg, b.bearingDeg);
        ray.azimuthRad = std::atan2(ray.dir.e, ray.dir.n);
        p.spreadM = std::max(p.spreadM, std::hypot(ray.origin.e, ray.origin.n));
        p.rays.push_back(ray);
    }
    return p;
}

LocalPlane planeFor(std::span<const Bearing> bearings) {
    std::vector<std::pair<double, double>> positions;
    for (const Bearing& b : bearings) {
        if (usableBearing(b)) {
            positions.emplace_back(b.latitudeDeg, b.longitudeDeg);
        }
    }
    return LocalPlane::around(positions);
}

struct Sym2 {
    double a = 0, b = 0, c = 0;  // [[a, b], [b, c]] in (east, north)
};

struct Axes {
    double major = 0, minor = 0;  // eigenvalues, major >= minor
    PlanePoint majorDir;          // unit eigenvector of the major one
};

Axes eigen(const Sym2& m) {
    const double mean = (m.a + m.c) / 2;
    const double radius = std::hypot((m.a - m.c) / 2, m.b);
    Axes axes{mean + radius, std::max(mean - radius, 0.0), {1, 0}};
    const PlanePoint v1{m.b, axes.major - m.a};
    const PlanePoint v2{axes.major - m.c, m.b};
    const PlanePoint v = std::hypot(v1.e, v1.n) >= std::hypot(v2.e, v2.n) ? v1 : v2;
    const double length = std::hypot(v.e, v.n);
    if (length > 0) {
        axes.majorDir = {v.e / length, v.n / length};
    } else if (m.c > m.a) {
        axes.majorDir = {0, 1};
    }
    return axes;
}

PlanePoint gradient(const Ray& ray, const Fit& fit, size_t i) {
    const double r2 = fit.range[i] * fit.range[i];
    return {(fit.x.n - ray.origin.n) / r2, -(fit.x.e - ray.origin.e) / r2};
}

// The fix's information from the inliers, each weighted by its chance and inverse variance.
Sym2 information(const Problem& p, const Fit& fit, bool relativeToSigma) {
    Sym2 h;
    for (size_t i = 0; i < p.rays.size(); ++i) {
        const PlanePoint g = gradient(p.rays[i], fit, i);
        double w = fit.inlier[i] / fit.varRad2[i];
        if (relativeToSigma) {
            w *= fit.sigmaRad * fit.sigmaRad;
        }
        h.a += w * g.e * g.e;
        h.b += w * g.e * g.n;
        h.c += w * g.n * g.n;
    }
    return h;
}

// How many plots, in effect, pin the fix along direction v: (sum a)^2 / sum a^2.
double support(const Problem& p, const Fit& fit, PlanePoint v) {
    double sum = 0, sumSquares = 0;
    for (size_t i = 0; i < p.rays.size(); ++i) {
        const PlanePoint g = gradient(p.rays[i], fit, i);
        const double along = v.e * g.e + v.n * g.n;
        const double a = fit.inlier[i] / fit.varRad2[i] * along * along;
        sum += a;
        sumSquares += a * a;
    }
    return sumSquares > 0 ? sum * sum / sumSquares : 0;
}

// The largest share any one plot has in the fix (its leverage, w g' H^-1 g): near 1 the fix
// stands on that plot's line alone, wherever along it the other plots leave it.
double largestLeverage(const Problem& p, const Fit& fit) {
    const Sym2 h = information(p, fit, false);
    const double det = h.a * h.c - h.b * h.b;
    double largest = 0;
    for (size_t i = 0; i < p.rays.size(); ++i) {
        const PlanePoint g = gradient(p.rays[i], fit, i);
        const double w = fit.inlier[i] / fit.varRad2[i];
        largest =
            std::max(largest, w * (h.c * g.e * g.e - 2 * h.b * g.e * g.n + h.a * g.n * g.n) / det);
    }
    return largest;
}

// The smallest arc holding every inlier plot as seen from the fix.
double spanSeenFromFix(const Problem& p, const Fit& fit) {
    std::vector<double> angles;
    for (size_t i = 0; i < p.rays.size(); ++i) {
        if (fit.inlier[i] >= 0.5) {
            angles.push_back(
                std::atan2(p.rays[i].origin.e - fit.x.e, p.rays[i].origin.n - fit.x.n));
        }
    }
    if (angles.size() < 2) {
        return 0;
    }
    std::sort(angles.begin(), angles.end());
    double largestGap = angles.front() + 2 * kPi - angles.back();
    for (size_t i = 1; i < angles.size(); ++i) {
        largestGap = std::max(largestGap, angles[i] - angles[i - 1]);
    }
    return 2 * kPi - largestGap;
}

std::string countText(double n) {
    return std::to_string(static_cast<int>(std::floor(n)));
}

struct InlierView {
    int sure = 0;   // inliers far enough from the fix to tell ahead from behind
    int ahead = 0;  // of those, the ones whose bearing points at the fix
    double medianRangeM = 0;
    size_t count = 0;
};

// A plot a few GPS errors from the fix cannot tell ahead from behind: it is not counted there.
InlierView viewInliers(const Problem& p, const Fit& fit) {
    InlierView view;
    std::vector<double> ranges;
    for (size_t i = 0; i < p.rays.size(); ++i) {
        if (fit.inlier[i] >= 0.5) {
            ranges.push_back(fit.range[i]);
            if (fit.varRad2[i] < kMaxAheadVarRad2) {
                ++view.sure;
                view.ahead += std::cos(fit.residual[i]) > 0 ? 1 : 0;
            }
        }
    }
    view.count = ranges.size();
    if (!ranges.empty()) {
        std::nth_element(ranges.begin(),
                         ranges.begin() + static_cast<std::ptrdiff_t>(ranges.size() / 2),
                         ranges.end());
        view.medianRangeM = ranges[ranges.size() / 2];
    }
    return view;
}

// The first display gate the fix fails, or empty when it may be shown.
std::string gateFailure(const Problem& p, const Fit& fit, double inliers, double semiMajorM) {
    const double count = static_cast<double>(p.rays.size());
    const InlierView view = viewInliers(p, fit);
    if (inliers < kMinPlots || view.count < kMinPlots) {
        return "only " + countText(std::min(inliers, static_cast<double>(view.count))) +
               " plots agree; 5 needed";
    }
    if (inliers < count / 2) {
        return "only " + countText(inliers) + " of " + countText(count) + " plots agree";
    }
    if (spanSeenFromFix(p, fit) < kMinSpanRad) {
        return "the bearings are nearly parallel";
    }
    const Axes axes = eigen(information(p, fit, false));
    const PlanePoint minorDir{-axes.majorDir.n, axes.majorDir.e};
    if (support(p, fit, axes.majorDir) < kMinSupport || support(p, fit, minorDir) < kMinSupport) {
        return "too few plots pin the fix down";
    }
    if (largestLeverage(p, fit) > kMaxLeverage) {
        return "the fix rests on one plot";
    }
    if (view.ahead < kMinAheadShare * view.sure) {
        return "the fix lies behind";
    }
    if (!(semiMajorM < kMaxAxisPerRange * std::max(view.medianRangeM, kWalkingRangeM))) {
        return "the fix is too uncertain";
    }
    return {};
}

// The closed ring centre + a cos t major + b sin t minor, in (lat, lon) through the plane.
std::vector<std::pair<double, double>> ellipseRing(const LocalPlane& plane, PlanePoint centre,
                                                   PlanePoint majorDir, double a, double b) {
    const PlanePoint minorDir{-majorDir.n, majorDir.e};
    std::vector<std::pair<double, double>> ring;
    for (int k = 0; k < kRingVertices - 1; ++k) {
        const double t = 2 * kPi * k / (kRingVertices - 1);
        const double along = a * std::cos(t), across = b * std::sin(t);
        ring.push_back(plane.toGeo({centre.e + along * majorDir.e + across * minorDir.e,
                                    centre.n + along * majorDir.n + across * minorDir.n}));
    }
    ring.push_back(ring.front());
    return ring;
}

// The covariance of the fix: the inverse information scaled by the pooled sigma, where a
// prior of 7 degrees worth four bearings steadies the sigma of a short hunt, plus the part of
// the GPS error all plots share.
void describeUncertainty(const Problem& p, const Fit& fit, const LocalPlane& plane, Estimate& out) {
    const double inliers = std::accumulate(fit.inlier.begin(), fit.inlier.end(), 0.0);
    const double dof = kPriorWeight + std::max(inliers - 2, 0.0);
    const double pooled2 = (kPriorWeight * kPriorSigmaRad * kPriorSigmaRad +
                            std::max(inliers - 2, 0.0) * fit.sigmaRad * fit.sigmaRad) /
                           dof;
    const Sym2 h = information(p, fit, true);
    const double det = h.a * h.c - h.b * h.b;
    if (!(det > 0)) {
        out.reason = "the bearings are nearly parallel";
        return;
    }
    const double scale = kNonlinearity * kNonlinearity * pooled2 / det;
    const Axes axes = eigen(
        {h.c * scale + kSharedPositionVarM2, -h.b * scale, h.a * scale + kSharedPositionVarM2});
    const double k95 = std::sqrt(dof * (std::pow(0.05, -2 / dof) - 1));
    out.sigmaDeg = std::sqrt(pooled2) / kRadPerDeg;
    out.sigma1MajorM = std::sqrt(axes.major);
    out.sigma1MinorM = std::sqrt(axes.minor);
    out.semiMajorM = k95 * out.sigma1MajorM;
    out.semiMinorM = k95 * out.sigma1MinorM;
    out.cep50M = 0.59 * (out.sigma1MajorM + out.sigma1MinorM);
    out.majorAzimuthDeg =
        std::fmod(plane.trueAzimuthDeg(out.latitudeDeg, out.longitudeDeg, axes.majorDir), 180.0);
    out.ellipse95 = ellipseRing(plane, fit.x, axes.majorDir, out.semiMajorM, out.semiMinorM);
    out.reason = gateFailure(p, fit, inliers, out.semiMajorM);
    out.shown = out.reason.empty();
}

}  // namespace

bool usableBearing(const Bearing& b) {
    return !(b.quality && *b.quality == 0) && std::isfinite(b.latitudeDeg) &&
           std::isfinite(b.longitudeDeg) && std::isfinite(b.bearingDeg) &&
           std::abs(b.latitudeDeg) <= 90;
}

// When no fix can be computed every usable bearing keeps the verdict "used": nothing speaks
// against it yet, and the plot log should not mark a plot rejected on no evidence.
Estimate estimateFix(std::span<const Bearing> bearings) {
    Estimate out;
    out.plots = static_cast<int>(bearings.size());
    out.usedFlags.resize(bearings.size());
    for (size_t i = 0; i < bearings.size(); ++i) {
        out.usedFlags[i] = usableBearing(bearings[i]);
    }
    const LocalPlane plane = planeFor(bearings);
    const Problem p = prepare(bearings, plane);
    out.used = static_cast<int>(p.rays.size());
    if (p.rays.size() < kMinPlots) {
        out.reason = std::to_string(p.rays.size()) + " plots; 5 needed";
    } else if (p.spreadM > kMaxSpreadM) {
        out.reason = "the plots are too far apart";
    } else if (const StartSearch s = findStart(p.rays); !s.start) {
        out.reason = s.crossesBehind ? "the fix lies behind" : "the bearings are nearly parallel";
    } else if (const Fit fit = fitRobust(p.rays, *s.start); !fit.ok) {
        out.reason = "the bearings are nearly parallel";
    } else {
        out.computed = true;
        std::tie(out.latitudeDeg, out.longitudeDeg) = plane.toGeo(fit.x);
        out.used = 0;
        for (size_t k = 0; k < p.rays.size(); ++k) {
            const bool used = fit.inlier[k] >= 0.5;
            out.usedFlags[p.inputIndex[k]] = used;
            out.used += used ? 1 : 0;
        }
        describeUncertainty(p, fit, plane, out);
        out.provisional = out.shown && out.used < kFirmFrom;
    }
    for (size_t i = 0; i < bearings.size(); ++i) {
        if (!out.usedFlags[i]) {
            out.rejectedIds.push_back(bearings[i].id);
        }
    }
    return out;
}

}  // namespace kestrel::estimate
