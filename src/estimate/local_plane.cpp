#include "estimate/local_plane.h"

#include <cmath>
#include <numbers>
#include <vector>

#include <GeographicLib/Geocentric.hpp>

namespace kestrel::estimate {

namespace {
constexpr double kRadPerDeg = std::numbers::pi / 180;
}

LocalPlane::LocalPlane(double latitudeDeg, double longitudeDeg)
    : m_frame(latitudeDeg, longitudeDeg, 0, GeographicLib::Geocentric::WGS84()) {}

LocalPlane LocalPlane::around(std::span<const std::pair<double, double>> latLonDeg) {
    const GeographicLib::Geocentric& earth = GeographicLib::Geocentric::WGS84();
    double sx = 0, sy = 0, sz = 0;
    for (const auto& [lat, lon] : latLonDeg) {
        double x = 0, y = 0, z = 0;
        earth.Forward(lat, lon, 0, x, y, z);
        sx += x;
        sy += y;
        sz += z;
    }
    if (latLonDeg.empty() || std::hypot(sx, sy, sz) == 0) {
        return LocalPlane(0, 0);
    }
    // Scaled up to the surface first: near the earth's centre the reverse is ill-defined.
    const double scale = earth.EquatorialRadius() / std::hypot(sx, sy, sz);
    double lat = 0, lon = 0, h = 0;
    earth.Reverse(sx * scale, sy * scale, sz * scale, lat, lon, h);
    return LocalPlane(lat, lon);
}

PlanePoint LocalPlane::toPlane(double latitudeDeg, double longitudeDeg) const {
    double x = 0, y = 0, z = 0;
    m_frame.Forward(latitudeDeg, longitudeDeg, 0, x, y, z);
    return {x, y};
}

std::vector<double> LocalPlane::rotationAt(double latitudeDeg, double longitudeDeg) const {
    std::vector<double> m(9);
    double x = 0, y = 0, z = 0;
    m_frame.Forward(latitudeDeg, longitudeDeg, 0, x, y, z, m);
    return m;
}

PlanePoint LocalPlane::gridDirection(double latitudeDeg, double longitudeDeg,
                                     double trueAzimuthDeg) const {
    const std::vector<double> m = rotationAt(latitudeDeg, longitudeDeg);
    const double se = std::sin(trueAzimuthDeg * kRadPerDeg);
    const double cn = std::cos(trueAzimuthDeg * kRadPerDeg);
    const double e = m[0] * se + m[1] * cn;
    const double n = m[3] * se + m[4] * cn;
    const double length = std::hypot(e, n);
    if (length == 0) {
        return {0, 1};
    }
    return {e / length, n / length};
}

std::pair<double, double> LocalPlane::toGeo(PlanePoint p) const {
    // The plane lies above the ellipsoid away from the origin: lower the point along the
    // origin's vertical until it sits on the surface (two steps reach a millimetre at 50 km).
    double lat = 0, lon = 0, h = 0, up = 0;
    for (int step = 0; step < 3; ++step) {
        m_frame.Reverse(p.e, p.n, up, lat, lon, h);
        up -= h;
    }
    return {lat, lon};
}

double LocalPlane::trueAzimuthDeg(double latitudeDeg, double longitudeDeg,
                                  PlanePoint direction) const {
    const std::vector<double> m = rotationAt(latitudeDeg, longitudeDeg);
    // The transpose of M takes the origin's frame back to the point's.
    const double e = m[0] * direction.e + m[3] * direction.n;
    const double n = m[1] * direction.e + m[4] * direction.n;
    const double deg = std::atan2(e, n) / kRadPerDeg;
    return deg < 0 ? deg + 360 : deg;
}

}  // namespace kestrel::estimate
