#pragma once

// Numbers as text for the estimate's files and reports: "." as decimal point whatever the
// locale, a fixed count of decimals.

#include <charconv>
#include <cmath>
#include <string>

namespace kestrel::estimate {

// "-12.345" for (-12.3449, 3); a value that is not finite gives "0".
inline std::string fixedText(double value, int decimals) {
    if (!std::isfinite(value)) {
        return "0";
    }
    char buf[64];
    const auto result =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    std::string text(buf, result.ec == std::errc() ? result.ptr : buf);
    // "-0.000" reads oddly and compares unequal in text: a zero has no sign.
    if (text.find_first_not_of("-0.") == std::string::npos && !text.empty() && text[0] == '-') {
        text.erase(0, 1);
    }
    return text.empty() ? "0" : text;
}

}  // namespace kestrel::estimate
