#pragma once
// Exact readers for the text of instrument lines: decimal numbers read by the leading-number
// rule without binary floating point, the NMEA checksum, and the RMC sentence identifier.
// Nothing here touches the window; every reader answers for any input, however malformed.

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrel {

// The leading decimal number of a text, kept as its digit runs so that it can be rounded or
// truncated exactly: leading blanks, an optional sign, whole digits, an optional "." with
// decimals. `found` is false when the text does not begin (after blanks) with a number, which
// the leading-number rule reads as 0.
struct DecimalRun {
    bool found = false;
    bool hasSign = false;  // "+" or "-" stood before the digits
    bool negative = false;
    std::string_view whole;     // digits before the point, possibly empty (".5")
    std::string_view fraction;  // digits after the point, possibly empty
    size_t end = 0;             // index just past the number (0 when none was found)
};

DecimalRun readDecimalRun(std::string_view text);

// The whole part of the number, truncated toward zero, or nothing when it does not fit a
// 16-bit signed integer. A text with no number gives 0.
std::optional<int16_t> truncatedInt16(const DecimalRun& run);

// The non-negative number rounded to a multiple of 1/`scale` (`scale` 1 or 100), halfway
// values going to the even neighbour, as a count of 1/`scale` units; nothing when the number
// is negative or the count would exceed `limit`. A text with no number gives 0.
std::optional<int32_t> roundedHalfEven(const DecimalRun& run, int32_t scale, int32_t limit);

// Whether a sentence ("$" up to, not including, its carriage return) carries a checksum and
// whether it matches. A sentence that contains "*" carries one; it is Good only when "*" is
// followed by exactly two hexadecimal digits that end the sentence and equal the exclusive or
// of every character between "$" and "*".
enum class Checksum { Absent, Good, Bad };
Checksum nmeaChecksum(std::string_view sentence);

// The index of the first RMC sentence start in `text`: "$", a two-letter upper-case talker
// identifier ("GP", "GN", "GL", "GA", "GB", "BD", ...), then "RMC". npos when there is none.
size_t findRmcStart(std::string_view text);

}  // namespace kestrel
