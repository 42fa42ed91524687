#include <optional>

#include "app/form_kestrelmap.h"
#include "input/nmea_text.h"

namespace kestrel {

namespace {

constexpr int kFullCircle = 360;
constexpr int16_t kMinimumSpeedKnots = 3;

// The relative bearing in a bearing text, 0 to 359, or nothing when the text cannot be used.
// The leading number counts, rounded to a whole degree with halves to even; the text after it
// is ignored, so "12" followed by the line's carriage return is 12 and "abc" (no number) is 0.
// Unusable: a sign ("-12", "+12"), an exponent form ("1E2", "1e2", "1D2": the number would be
// read as 100 elsewhere, so it is refused rather than taken as 1), and 360 or more.
std::optional<int> relativeBearing(std::string_view text) {
    const DecimalRun run = readDecimalRun(text);
    if (!run.found) {
        return 0;
    }
    if (run.hasSign) {
        return std::nullopt;
    }
    if (run.end < text.size()) {
        const char next = text[run.end];
        if (next == 'E' || next == 'e' || next == 'D' || next == 'd') {
            return std::nullopt;
        }
    }
    return roundedHalfEven(run, 1, kFullCircle - 1);
}

}  // namespace

// Turns the last framed bearing into a true bearing on the three bearing registers while they
// follow the direction finder: dashes without fresh GPS data, S P D below 3 knots, otherwise
// relative bearing plus course. A fresh heading sentence takes the place of the course and of
// both checks. Unusable bearing text, or a sum outside 0 to 359 (a course
// out of range), shows dashes and marks the bearing stale, never a stale bearing that looks
// fresh and never a digit outside a register's cycle.
void Form_Kestrelmap::AGRELLO_PARSE() {
    if (CmdButton_DF_SOURCE.Tag == "MAN") {
        return;
    }
    const std::array<DigitRegister*, 3> registers = bearingRegisters();
    const auto showStale = [&](Glyph hundreds, Glyph tens, Glyph units) {
        SHOW_GLYPH(*registers[0], hundreds);
        SHOW_GLYPH(*registers[1], tens);
        SHOW_GLYPH(*registers[2], units);
        DF_TIMEOUT = 0;
    };
    // A fresh heading sensor stands in for the GPS course, and is valid at a standstill.
    const std::optional<HeadingReading> heading = freshHeading();
    if (!heading && GPS_TIMEOUT < 1) {
        showStale(Glyph::Dash, Glyph::Dash, Glyph::Dash);
        return;
    }
    if (!heading && SPEED < kMinimumSpeedKnots) {
        showStale(Glyph::S, Glyph::P, Glyph::D);
        return;
    }
    const std::optional<int> relative = relativeBearing(AGRELLO_STRING);
    int trueBearing = relative ? (heading ? heading->trueDegrees : COURSE) + *relative : -1;
    if (trueBearing > kFullCircle - 1) {
        trueBearing -= kFullCircle;
    }
    if (trueBearing < 0 || trueBearing > kFullCircle - 1) {
        showStale(Glyph::Dash, Glyph::Dash, Glyph::Dash);
        return;
    }
    BEARING = static_cast<int16_t>(trueBearing);
    lastRelativeBearing = *relative;
    lastHeadingFrom = heading ? heading->from : "COG";
    const int hundreds = BEARING / 100;
    const int tens = (BEARING - 100 * hundreds) / 10;
    SET_DIGIT(*registers[0], hundreds);
    SET_DIGIT(*registers[1], tens);
    SET_DIGIT(*registers[2], BEARING - 100 * hundreds - 10 * tens);
}

}  // namespace kestrel
