#pragma once

// The robust maximum-likelihood fit in the tangent plane: each bearing's angular residual is
// drawn from a Gaussian (the bearing error, widened by the position error at short range)
// mixed with a uniform share of wild bearings. Started from the best-scoring pair crossing.

#include <optional>
#include <vector>

#include "estimate/local_plane.h"

namespace kestrel::estimate {

struct Ray {
    PlanePoint origin;  // the plot's position in the plane
    PlanePoint dir;     // unit grid direction of its bearing
    double azimuthRad = 0;
};

struct StartSearch {
    std::optional<PlanePoint> start;
    bool crossesBehind = false;  // some pair crossed, but only behind the plots
};

struct Fit {
    PlanePoint x;
    double sigmaRad = 0;           // fitted bearing sigma
    double wildShare = 0;          // fitted share of wild bearings
    std::vector<double> inlier;    // per ray: the chance it is a good bearing
    std::vector<double> residual;  // per ray: bearing minus the direction to x, -pi..pi
    std::vector<double> range;     // per ray: distance to x, metres
    std::vector<double> varRad2;   // per ray: the residual's variance
    bool ok = false;               // false when the geometry gave no solution
};

inline constexpr double kPositionSigmaM = 15;
inline constexpr double kPriorSigmaRad = 7 * 3.14159265358979323846 / 180;

StartSearch findStart(const std::vector<Ray>& rays);
Fit fitRobust(const std::vector<Ray>& rays, PlanePoint start);

}  // namespace kestrel::estimate
