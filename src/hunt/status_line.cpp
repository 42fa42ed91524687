#include "hunt/status_line.h"

#include <GeographicLib/Geodesic.hpp>
#include <cmath>
#include <cstdio>

namespace kestrel {

namespace {

constexpr double kMetresPerMile = 1609.344;

// Degrees and minutes to the hundredth, the minutes rounded with their carry into the degrees.
std::string degreesMinutes(double degrees, int degreeDigits) {
    const long hundredths = std::lround(std::fabs(degrees) * 6000.0);
    char text[24];
    std::snprintf(text, sizeof text, "%0*ld %02ld.%02ld", degreeDigits, hundredths / 6000,
                  hundredths % 6000 / 100, hundredths % 100);
    return text;
}

std::string metres(double value) {
    char text[24];
    if (value < 1000) {
        std::snprintf(text, sizeof text, "%.0f m", value);
    } else {
        std::snprintf(text, sizeof text, "%.1f km", value / 1000);
    }
    return text;
}

std::string fromHere(const estimate::Estimate& fix, const Here& here) {
    double distanceM = 0;
    double azimuth = 0;
    double backAzimuth = 0;
    GeographicLib::Geodesic::WGS84().Inverse(here.latitudeDeg, here.longitudeDeg, fix.latitudeDeg,
                                             fix.longitudeDeg, distanceM, azimuth, backAzimuth);
    long bearing = std::lround(azimuth < 0 ? azimuth + 360 : azimuth);
    bearing %= 360;
    const double miles = distanceM / kMetresPerMile;
    char text[48];
    std::snprintf(text, sizeof text, "%03ld\u00b0 %.*f mi from here", bearing, miles < 10 ? 2 : 1,
                  miles);
    return text;
}

}  // namespace

std::string panelNotation(double latitudeDeg, double longitudeDeg) {
    return std::string(latitudeDeg < 0 ? "S " : "N ") + degreesMinutes(latitudeDeg, 2) +
           (longitudeDeg < 0 ? " W " : " E ") + degreesMinutes(longitudeDeg, 3);
}

std::string statusLine(const estimate::Estimate& fix, std::optional<Here> here, int vehicles,
                       int leftOut) {
    const std::string team = vehicles > 1 ? " from " + std::to_string(vehicles) + " vehicles" : "";
    const std::string byHand =
        leftOut > 0 ? "  |  " + std::to_string(leftOut) + " left out by hand" : "";
    if (!fix.shown) {
        return "No fix yet: " + fix.reason + team + byHand;
    }
    std::string line = "FIX " + panelNotation(fix.latitudeDeg, fix.longitudeDeg) + "  95% within " +
                       metres(fix.semiMajorM) + "  |  ";
    line += here ? fromHere(fix, *here) : "no position shown";
    line +=
        "  |  " + std::to_string(fix.used) + " of " + std::to_string(fix.plots) + " plots" + team;
    if (fix.provisional) {
        line += "  |  provisional";
    }
    return line + byHand;
}

}  // namespace kestrel
