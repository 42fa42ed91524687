#include "kestrel-sim/geo.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kestrel::sim {
namespace {

constexpr double kRad = std::numbers::pi / 180.0;

}  // namespace

double wrapDegrees(double deg) {
    double w = std::fmod(deg, 360.0);
    if (w < 0) {
        w += 360.0;
    }
    return w >= 360.0 ? 0.0 : w;
}

double angleDifference(double fromDeg, double toDeg) {
    double d = wrapDegrees(toDeg - fromDeg);
    return d > 180.0 ? d - 360.0 : d;
}

double distanceMiles(GeoPoint a, GeoPoint b) {
    const double dLat = (b.latDeg - a.latDeg) * kRad;
    const double dLon = (b.lonDeg - a.lonDeg) * kRad;
    const double h = std::sin(dLat / 2) * std::sin(dLat / 2) +
                     std::cos(a.latDeg * kRad) * std::cos(b.latDeg * kRad) * std::sin(dLon / 2) *
                         std::sin(dLon / 2);
    return 2 * kEarthRadiusMiles * std::asin(std::min(1.0, std::sqrt(h)));
}

double bearingDeg(GeoPoint from, GeoPoint to) {
    const double lat1 = from.latDeg * kRad;
    const double lat2 = to.latDeg * kRad;
    const double dLon = (to.lonDeg - from.lonDeg) * kRad;
    const double y = std::sin(dLon) * std::cos(lat2);
    const double x =
        std::cos(lat1) * std::sin(lat2) - std::sin(lat1) * std::cos(lat2) * std::cos(dLon);
    return wrapDegrees(std::atan2(y, x) / kRad);
}

GeoPoint destination(GeoPoint from, double bearing, double miles) {
    const double d = miles / kEarthRadiusMiles;
    const double lat1 = from.latDeg * kRad;
    const double lon1 = from.lonDeg * kRad;
    const double b = bearing * kRad;
    const double lat2 =
        std::asin(std::sin(lat1) * std::cos(d) + std::cos(lat1) * std::sin(d) * std::cos(b));
    const double lon2 = lon1 + std::atan2(std::sin(b) * std::sin(d) * std::cos(lat1),
                                          std::cos(d) - std::sin(lat1) * std::sin(lat2));
    GeoPoint out{lat2 / kRad, lon2 / kRad};
    if (out.lonDeg > 180.0) {
        out.lonDeg -= 360.0;
    } else if (out.lonDeg <= -180.0) {
        out.lonDeg += 360.0;
    }
    return out;
}

double distanceToSegmentMiles(GeoPoint p, GeoPoint a, GeoPoint b) {
    // Local east/north miles around `a`.
    const double milesPerDegLat = kEarthRadiusMiles * kRad;
    const double milesPerDegLon = milesPerDegLat * std::cos(a.latDeg * kRad);
    const double bx = (b.lonDeg - a.lonDeg) * milesPerDegLon;
    const double by = (b.latDeg - a.latDeg) * milesPerDegLat;
    const double px = (p.lonDeg - a.lonDeg) * milesPerDegLon;
    const double py = (p.latDeg - a.latDeg) * milesPerDegLat;
    const double len2 = bx * bx + by * by;
    const double t = len2 > 0 ? std::clamp((px * bx + py * by) / len2, 0.0, 1.0) : 0.0;
    return std::hypot(px - t * bx, py - t * by);
}

}  // namespace kestrel::sim
