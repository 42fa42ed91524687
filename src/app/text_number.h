#pragma once
// The number rules shared by every subsystem: reading a control value or a sentence field as
// a number, and rounding to a whole number the way the settings and parsers require.

#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// The leading-number rule: leading blanks are skipped, then the longest run that forms a
// decimal number (optional sign, digits, optional "." and decimals) is taken; text with none
// reads as 0. The result is always finite (an absurdly long run saturates).
double leadingNumber(std::string_view text);

// The same run, or nothing when the text does not begin (after blanks) with a number.
std::optional<double> leadingNumberIfAny(std::string_view text);

// Rounds to the nearest whole number, a value exactly halfway going to the even neighbour.
double roundHalfEven(double value);

// The one-character text of a digit 0 to 9.
std::string digitText(int digit);

}  // namespace kestrel
