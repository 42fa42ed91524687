#include <cmath>

#include "app/form_kestrelmap.h"
#include "app/text_number.h"

namespace kestrel {

namespace {

// The constants of the flat-earth end point, used exactly as written.
constexpr double kRadiansPerTurn = 6.283;  // a little short of 2 pi
constexpr double kQuarterTurnDegrees = 90;
constexpr double kFullTurnDegrees = 360;
constexpr double kStatuteMilesPerNauticalMile = 1.152;
constexpr double kDegreesPerNauticalMile = 0.0166666666666667;

// A single-precision offset; a value too large for single precision counts as no offset.
float toOffset(double degrees) {
    const float offset = static_cast<float>(degrees);
    return std::isfinite(offset) ? offset : 0.0f;
}

}  // namespace

// Hand-entered, or from the direction finder and not timed out: the displayed three digits.
std::optional<int> Form_Kestrelmap::drawableBearing() const {
    if (CmdButton_DF_SOURCE.Tag != "MAN" && DF_TIMEOUT <= 0) {
        return std::nullopt;
    }
    return static_cast<int>(100 * leadingNumber(Picture_BRGX100.Tag) +
                            10 * leadingNumber(Picture_BRGX10.Tag) +
                            leadingNumber(Picture_BRGX1.Tag));
}

// The offsets from the plotted position to the end of its bearing line, in degrees. Reads the
// bearing from the displayed digits and the range from CmdButton_RANGE; POSITION must have
// run first (the longitude offset is divided by the cosine of its latitude).
void Form_Kestrelmap::ENDPOINT() {
    const std::optional<int> drawable = drawableBearing();
    if (!drawable) {
        DELTA_LATITUDE = 0;
        DELTA_LONGITUDE = 0;
        return;
    }
    const double bearing = *drawable;
    double theta = (kQuarterTurnDegrees - bearing) / kFullTurnDegrees * kRadiansPerTurn;
    if (theta < 0) {
        theta += kRadiansPerTurn;
    }
    const double range = leadingNumber(CmdButton_RANGE.Tag);
    const double arc = (range / kStatuteMilesPerNauticalMile) * kDegreesPerNauticalMile;

    DELTA_LATITUDE = toOffset(std::sin(theta) * arc);
    DELTA_LONGITUDE = toOffset(std::cos(theta) * arc);

    // sin(colatitude) stands for cos(latitude); it is 0 only at exactly 90 degrees north,
    // where the line keeps no east-west extent.
    const double colatitude = (kQuarterTurnDegrees - static_cast<double>(GOOGLE_LATITUDE_DEGREES)) /
                              kFullTurnDegrees * kRadiansPerTurn;
    const double divisor = std::sin(colatitude);
    DELTA_LONGITUDE = divisor == 0 ? 0.0f : toOffset(DELTA_LONGITUDE / divisor);
}

}  // namespace kestrel
