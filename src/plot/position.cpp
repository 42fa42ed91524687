#include "app/form_kestrelmap.h"
#include "app/text_number.h"

namespace kestrel {

namespace {

double digitValue(const DigitRegister& reg) {
    return leadingNumber(reg.Tag);
}

// Minutes from the four minute registers; each product is formed before it is added.
double minutes(const DigitRegister& x10, const DigitRegister& x1, const DigitRegister& x01,
               const DigitRegister& x001) {
    const double tens = 10 * digitValue(x10);
    const double units = digitValue(x1);
    const double tenths = 0.1 * digitValue(x01);
    const double hundredths = 0.01 * digitValue(x001);
    return tens + units + tenths + hundredths;
}

}  // namespace

// The displayed position in signed decimal degrees, from the register values alone (a dash
// glyph does not matter: the value under it counts). No range check: 99° 99.99′ converts.
Form_Kestrelmap::Degrees Form_Kestrelmap::displayedPosition() const {
    const double latDegrees = 10 * digitValue(Picture_LAT_DEGX10) + digitValue(Picture_LAT_DEGX1);
    const double latMinutes =
        minutes(Picture_LAT_MINX10, Picture_LAT_MINX1, Picture_LAT_MINX01, Picture_LAT_MINX001);
    const double longDegrees = 100 * digitValue(Picture_LONG_DEGX100) +
                               10 * digitValue(Picture_LONG_DEGX10) +
                               digitValue(Picture_LONG_DEGX1);
    const double longMinutes =
        minutes(Picture_LONG_MINX10, Picture_LONG_MINX1, Picture_LONG_MINX01, Picture_LONG_MINX001);
    Degrees position{latMinutes / 60 + latDegrees, longMinutes / 60 + longDegrees};
    if (CmdButton_LAT_HEMI.Tag == "S") {
        position.latitude = -position.latitude;
    }
    if (CmdButton_LONG_HEMI.Tag == "W") {
        position.longitude = -position.longitude;
    }
    return position;
}

std::optional<Form_Kestrelmap::Degrees> Form_Kestrelmap::shownPosition() const {
    if (showsDash(Picture_LAT_DEGX10)) {
        return std::nullopt;
    }
    return displayedPosition();
}

// The same position in single precision, where the plot operation reads it.
void Form_Kestrelmap::POSITION() {
    const Degrees position = displayedPosition();
    GOOGLE_LATITUDE_DEGREES = static_cast<float>(position.latitude);
    GOOGLE_LONGITUDE_DEGREES = static_cast<float>(position.longitude);
}

}  // namespace kestrel
