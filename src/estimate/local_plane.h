#pragma once

// The tangent plane the fix is computed in: east and north metres from an origin on the
// WGS-84 ellipsoid, through GeographicLib's local cartesian frame. It also turns true
// azimuths into the plane's grid azimuths and back (the meridian convergence).

#include <span>
#include <utility>
#include <vector>

#include <GeographicLib/LocalCartesian.hpp>

namespace kestrel::estimate {

struct PlanePoint {
    double e = 0;  // metres east of the origin
    double n = 0;  // metres north of the origin
};

class LocalPlane {
  public:
    LocalPlane(double latitudeDeg, double longitudeDeg);

    // The plane touching the ellipsoid at the mean of the (lat, lon) positions, taken in
    // earth-centred coordinates so that the antimeridian and the poles need no care.
    static LocalPlane around(std::span<const std::pair<double, double>> latLonDeg);

    PlanePoint toPlane(double latitudeDeg, double longitudeDeg) const;
    // The unit direction in the plane of a true azimuth taken at (lat, lon).
    PlanePoint gridDirection(double latitudeDeg, double longitudeDeg, double trueAzimuthDeg) const;
    // The ellipsoid point under a plane point, as (lat, lon) in degrees.
    std::pair<double, double> toGeo(PlanePoint p) const;
    // The true azimuth at (lat, lon) of a grid direction, in degrees 0..360.
    double trueAzimuthDeg(double latitudeDeg, double longitudeDeg, PlanePoint direction) const;

  private:
    // The row-major 3x3 rotation M that turns east-north-up at (lat, lon) into east-north-up
    // at the origin.
    std::vector<double> rotationAt(double latitudeDeg, double longitudeDeg) const;

    GeographicLib::LocalCartesian m_frame;
};

}  // namespace kestrel::estimate
