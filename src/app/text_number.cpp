#include "app/text_number.h"

#include <cfloat>
#include <charconv>
#include <cmath>

namespace kestrel {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::optional<double> leadingNumberIfAny(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const size_t digitsStart = i;
    size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) {
        ++i;
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) {
        return std::nullopt;
    }
    // from_chars takes no leading '+' and is independent of the locale.
    std::string_view number = text.substr(digitsStart, i - digitsStart);
    double value = 0.0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value,
                                           std::chars_format::fixed);
    (void)end;
    if (ec == std::errc::result_out_of_range) {
        // Too large when the whole part has a significant digit, else too small to matter.
        const std::string_view whole = number.substr(0, number.find('.'));
        value = whole.find_first_not_of('0') == std::string_view::npos ? 0.0 : DBL_MAX;
    }
    return negative ? -value : value;
}

double leadingNumber(std::string_view text) {
    return leadingNumberIfAny(text).value_or(0.0);
}

double roundHalfEven(double value) {
    if (!std::isfinite(value)) {
        return value;
    }
    return std::nearbyint(value);  // the default rounding mode is to nearest, ties to even
}

std::string digitText(int digit) {
    return std::string(1, static_cast<char>('0' + digit));
}

}  // namespace kestrel
