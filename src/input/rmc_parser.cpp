#include <array>

#include "app/form_kestrelmap.h"
#include "input/nmea_text.h"
#include "input/rmc_reading.h"

namespace kestrel {

namespace {

constexpr size_t npos = std::string_view::npos;
constexpr int32_t kMinuteHundredthsLimit = 6000;  // 60.00: carried into the degrees
constexpr int kLatitudeDegreesLimit = 90;
constexpr int kLongitudeDegreesLimit = 180;

// The first comma at `from` or later; npos when there is none or `from` lies past the end.
size_t commaFrom(std::string_view text, size_t from) {
    return from == npos || from > text.size() ? npos : text.find(',', from);
}

// A coordinate field cut into degrees (the first `degreeChars` characters) and minutes (the
// rest, up to and including the comma that ends the field). Nothing when either part carries a
// sign, the degrees a fraction, or the minutes round above 60.00. Minutes of exactly 60.00 are
// carried into the degrees; a coordinate at or beyond `degreesLimit` (90 or 180) shows the
// largest position the panel can: 89 59.99 or 179 59.99.
struct Coordinate {
    int degrees = 0;
    int hundredths = 0;
};

std::optional<Coordinate> readCoordinate(std::string_view field, size_t degreeChars,
                                         int degreesLimit) {
    const DecimalRun degreesRun = readDecimalRun(field.substr(0, degreeChars));
    const DecimalRun minutesRun = readDecimalRun(field.substr(degreeChars));
    if (degreesRun.hasSign || minutesRun.hasSign ||
        degreesRun.fraction.find_first_not_of('0') != npos) {
        return std::nullopt;
    }
    const std::optional<int32_t> degrees = roundedHalfEven(degreesRun, 1, 999);
    const std::optional<int32_t> hundredths =
        roundedHalfEven(minutesRun, 100, kMinuteHundredthsLimit);
    if (!degrees || !hundredths) {
        return std::nullopt;
    }
    Coordinate c{*degrees, *hundredths};
    if (c.hundredths == kMinuteHundredthsLimit) {
        c.hundredths = 0;
        ++c.degrees;
    }
    if (c.degrees >= degreesLimit) {
        c.degrees = degreesLimit - 1;
        c.hundredths = kMinuteHundredthsLimit - 1;
    }
    return c;
}

// The thirteen position digits in screen order: latitude dd mm.mm, then longitude ddd mm.mm.
std::array<int, 13> positionDigits(const RmcReading& r) {
    const int lat = r.latitudeDegrees;
    const int lon = r.longitudeDegrees;
    const int latMin = r.latitudeHundredths;
    const int lonMin = r.longitudeHundredths;
    const int lonTens = lon / 10 > 9 ? lon / 10 - 10 : lon / 10;
    return {lat / 10,          lat % 10,         latMin / 1000, latMin / 100 % 10, latMin / 10 % 10,
            latMin % 10,       lon / 100,        lonTens,       lon % 10,          lonMin / 1000,
            lonMin / 100 % 10, lonMin / 10 % 10, lonMin % 10};
}

}  // namespace

// $GPRMC,hhmmss.ss,A,ddmm.mmmm,N,dddmm.mmmm,E,sss.s,ccc.c,ddmmyy,x.x,E,m*hh
// (any two-letter talker in place of GP). Fields are found by their commas the way this panel
// has always read them: each hemisphere field is taken to be exactly one character wide, so an
// empty N/S field makes the longitude be read from one character late (01131.000 becomes
// 113 01.000) and an empty E/W field shifts the speed the same way.
//
// A sentence is ignored as a whole, leaving every value and display as it was, when
// - it carries a checksum that does not match;
// - it is too short: no "$", no second comma or no status character after it; and, for a
//   valid status, any comma up to the one that ends the course field is missing, the
//   latitude field has fewer than 2 characters or the longitude field fewer than 3 (the
//   degrees would be cut from the field that follows);
// - a number is out of range: a sign in a coordinate, a fraction in its degrees, minutes that
//   round above 60.00, or a speed or course whose whole part does not fit 16 bits.
std::optional<RmcReading> readRmc(std::string_view s) {
    if (nmeaChecksum(s) == Checksum::Bad) {
        return std::nullopt;
    }
    const size_t p0 = s.find('$');
    const size_t c1 = p0 == npos ? npos : commaFrom(s, p0 + 1);
    const size_t c2 = commaFrom(s, c1 == npos ? npos : c1 + 1);
    if (c2 == npos || c2 + 1 >= s.size()) {
        return std::nullopt;
    }
    RmcReading r;
    r.validFix = s[c2 + 1] == 'A' || s[c2 + 1] == 'a';
    if (!r.validFix) {
        return r;
    }
    const size_t c3 = commaFrom(s, c2 + 1);
    const size_t c4 = commaFrom(s, c3 == npos ? npos : c3 + 1);
    const size_t c6 = commaFrom(s, c4 == npos ? npos : c4 + 3);
    const size_t c8 = commaFrom(s, c6 == npos ? npos : c6 + 3);
    const size_t c9 = commaFrom(s, c8 == npos ? npos : c8 + 1);
    if (c9 == npos || c4 - c3 - 1 < 2 || c6 - (c4 + 3) < 3) {
        return std::nullopt;
    }
    const auto latitude = readCoordinate(s.substr(c3 + 1, c4 - c3), 2, kLatitudeDegreesLimit);
    const auto longitude = readCoordinate(s.substr(c4 + 3, c6 - c4 - 2), 3, kLongitudeDegreesLimit);
    const auto speed = truncatedInt16(readDecimalRun(s.substr(c6 + 3, c8 - c6 - 2)));
    const auto course = truncatedInt16(readDecimalRun(s.substr(c8 + 1, c9 - c8)));
    if (!latitude || !longitude || !speed || !course) {
        return std::nullopt;
    }
    r.northSouth = s[c4 + 1];
    r.eastWest = s[c6 + 1];
    r.latitudeDegrees = latitude->degrees;
    r.latitudeHundredths = latitude->hundredths;
    r.longitudeDegrees = longitude->degrees;
    r.longitudeHundredths = longitude->hundredths;
    r.speedKnots = *speed;
    r.courseDegrees = *course;
    return r;
}

// Applies the last framed RMC sentence: a void fix dashes the position whatever the source; a
// valid fix keeps the GPS fresh, sets speed and course, and while the position follows the GPS
// writes the hemispheres and the thirteen position digits.
void Form_Kestrelmap::GPRMC_PARSE() {
    const std::optional<RmcReading> reading = readRmc(GPRMC_STRING);
    if (!reading) {
        return;
    }
    if (!reading->validFix) {
        for (DigitRegister* reg : positionRegisters()) {
            SHOW_GLYPH(*reg, Glyph::Dash);
        }
        GPS_TIMEOUT = 0;
        GPRMC_STRING.clear();
        return;
    }
    GPS_TIMEOUT = 10;
    SPEED = reading->speedKnots;
    COURSE = reading->courseDegrees;
    if (CmdButton_POSIT_SOURCE.Tag == "MAN") {
        return;
    }
    const char ns = reading->northSouth;
    const char ew = reading->eastWest;
    const std::string latitudeLetter = ns == 'N' || ns == 'n' ? "N" : "S";
    const std::string longitudeLetter = ew == 'E' || ew == 'e' ? "E" : "W";
    CmdButton_LAT_HEMI.Caption = latitudeLetter;
    CmdButton_LAT_HEMI.Tag = latitudeLetter;
    CmdButton_LONG_HEMI.Caption = longitudeLetter;
    CmdButton_LONG_HEMI.Tag = longitudeLetter;
    const std::array<int, 13> digits = positionDigits(*reading);
    const std::array<DigitRegister*, 13> registers = positionRegisters();
    for (size_t i = 0; i < registers.size(); ++i) {
        SET_DIGIT(*registers[i], digits[i]);
    }
}

}  // namespace kestrel
