#pragma once
// Great-circle geometry on a sphere, enough for a vehicle and a transmitter a few miles apart.

namespace kestrel::sim {

struct GeoPoint {
    double latDeg = 0;  // north positive
    double lonDeg = 0;  // east positive
};

constexpr double kEarthRadiusMiles = 3958.8;
constexpr double kMilesPerNauticalMile = 1.150779;

// Degrees into [0, 360).
double wrapDegrees(double deg);
// The signed turn from `fromDeg` to `toDeg`, in (-180, 180].
double angleDifference(double fromDeg, double toDeg);

double distanceMiles(GeoPoint a, GeoPoint b);
// Initial great-circle bearing from `from` to `to`, degrees true in [0, 360).
double bearingDeg(GeoPoint from, GeoPoint to);
// The point `miles` away from `from` along the initial bearing `bearing`.
GeoPoint destination(GeoPoint from, double bearing, double miles);
// Shortest distance from `p` to the great-circle segment from `a` to `b` (flat approximation,
// good to a fraction of a percent over tens of miles).
double distanceToSegmentMiles(GeoPoint p, GeoPoint a, GeoPoint b);

}  // namespace kestrel::sim
