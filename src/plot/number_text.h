#pragma once
// The two text forms in which plots write numbers: the signed text (a space or "-", then the
// value) and the coordinate text (the same without a leading space). Both are independent of
// the locale: the decimal point is always ".".

#include <string>

namespace kestrel {

// A single-precision value as the plot button and the map file show it: at most 7
// significant digits, trailing zeros dropped, never in exponent form, a leading zero before
// the point below 1 ("0.5"), a space before a value that is not negative ("-0" reads " 0").
// A value that is not finite reads as " 0".
std::string signedText(float value);

// A whole number in the same form: " 7", "-12".
std::string signedText(int value);

// The signed text with its leading space removed: "-104.9875", "39.74166".
std::string coordinateText(float value);

}  // namespace kestrel
