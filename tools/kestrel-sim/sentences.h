#pragma once
// The instruments' words: the GPS's RMC sentence with its NMEA checksum, the direction
// finder's "%bbb/q" bearing line, and the UTC clock the sentences are stamped with. Every
// number is formatted from whole numbers, so no locale can change a byte.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "kestrel-sim/geo.h"

namespace kestrel::sim {

struct UtcTime {
    int year = 1970, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0, centisecond = 0;
};

// The civil UTC time `simMs` after `startEpochSeconds` (seconds since 1970-01-01T00:00:00Z).
UtcTime utcAt(std::int64_t startEpochSeconds, std::int64_t simMs);
// "YYYY-MM-DDTHH:MM:SS" (a space may stand for the T, a trailing Z is allowed) as seconds since
// 1970; nothing when the text is not such a time or names an impossible date.
std::optional<std::int64_t> parseUtc(std::string_view text);

// The two upper-case hexadecimal digits of the XOR of every byte of `body` (the text between
// "$" and "*").
std::string nmeaChecksum(std::string_view body);
// True when `sentence` reads "$" body "*" hh with hh the checksum of body (either case).
bool checksumMatches(std::string_view sentence);

struct RmcFix {
    UtcTime time;
    bool valid = true;  // status A; false gives status V with empty position fields
    GeoPoint position;
    double speedKnots = 0;  // sent with one decimal
    double courseDeg = 0;   // sent with one decimal, 000.0 to 359.9
};

// "$GPRMC,hhmmss.ss,A,ddmm.mmmm,N,dddmm.mmmm,W,sss.s,ccc.c,ddmmyy,,,A*hh" with the given
// two-letter talker in place of GP (no line end).
std::string formatRmc(const RmcFix& fix, std::string_view talker);

// "%bbb/q": the bearing relative to the vehicle's heading (wrapped into 000 to 359) and the
// quality digit (clamped to 0 to 9); no line end.
std::string formatBearing(int relativeDeg, int quality);

}  // namespace kestrel::sim
