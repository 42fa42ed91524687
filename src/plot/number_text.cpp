#include "plot/number_text.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace kestrel {

namespace {

// The digits of |value| rounded to 7 significant digits, in plain decimal notation.
std::string magnitudeText(double magnitude) {
    // Scientific form with 6 decimals gives the 7 correctly rounded significant digits and
    // the decimal exponent: "d.dddddde+XX".
    char buf[32];
    const auto result =
        std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific, 6);
    const std::string_view sci(buf, static_cast<size_t>(result.ptr - buf));
    const size_t e = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e)) {
        if (c != '.') {
            digits += c;
        }
    }
    int exponent = 0;
    const std::string_view exp = sci.substr(e + 1);
    const size_t skipPlus = (!exp.empty() && exp.front() == '+') ? 1 : 0;
    std::from_chars(exp.data() + skipPlus, exp.data() + exp.size(), exponent);
    while (digits.size() > 1 && digits.back() == '0') {
        digits.pop_back();
    }

    std::string text;
    if (exponent < 0) {
        text = "0.";
        text.append(static_cast<size_t>(-exponent - 1), '0');
        text += digits;
        return text;
    }
    const size_t wholeDigits = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= wholeDigits) {
        text = digits;
        text.append(wholeDigits - digits.size(), '0');
        return text;
    }
    text = digits.substr(0, wholeDigits);
    text += '.';
    text += digits.substr(wholeDigits);
    return text;
}

}  // namespace

std::string signedText(float value) {
    if (!std::isfinite(value) || value == 0.0f) {
        return " 0";
    }
    const double wide = value;  // exact
    return (wide < 0 ? "-" : " ") + magnitudeText(std::fabs(wide));
}

std::string signedText(int value) {
    char buf[24];
    const long long magnitude = value < 0 ? -static_cast<long long>(value) : value;
    const auto result = std::to_chars(buf, buf + sizeof buf, magnitude);
    return (value < 0 ? "-" : " ") + std::string(buf, result.ptr);
}

std::string coordinateText(float value) {
    std::string text = signedText(value);
    if (text.front() == ' ') {
        text.erase(0, 1);
    }
    return text;
}

}  // namespace kestrel
