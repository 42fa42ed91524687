#pragma once
// What an RMC sentence says, read without touching the window: the status and, for a valid
// fix, position, speed and course as the panel will show them. GPRMC_PARSE applies it; the
// framing uses it to drop sentences that must leave no trace.

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrel {

struct RmcReading {
    bool validFix = false;        // status "A" or "a"; nothing below is read when false
    char northSouth = ' ';        // the one character after the latitude field's comma
    char eastWest = ' ';          // the one character after the longitude field's comma
    int latitudeDegrees = 0;      // 0 to 89
    int latitudeHundredths = 0;   // minutes times 100, 0 to 5999
    int longitudeDegrees = 0;     // 0 to 179
    int longitudeHundredths = 0;  // minutes times 100, 0 to 5999
    int16_t speedKnots = 0;       // whole part
    int16_t courseDegrees = 0;    // whole part
};

// The reading of a sentence that starts at its "$" and ends before its carriage return, or
// nothing when the sentence must be ignored as a whole: a checksum that does not match, or a
// sentence too short or with numbers out of range (the rules are at the definition).
std::optional<RmcReading> readRmc(std::string_view sentence);

}  // namespace kestrel
