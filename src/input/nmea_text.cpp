#include "input/nmea_text.h"

namespace kestrel {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int digitAt(std::string_view digits, size_t index) {
    return index < digits.size() ? digits[index] - '0' : 0;
}

// The value of a run of digits, or nothing when it exceeds `limit`.
std::optional<int32_t> digitsValue(std::string_view digits, int32_t limit) {
    int64_t value = 0;
    for (const char c : digits) {
        value = value * 10 + (c - '0');
        if (value > limit) {
            return std::nullopt;
        }
    }
    return static_cast<int32_t>(value);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool isUpper(char c) {
    return c >= 'A' && c <= 'Z';
}

}  // namespace

DecimalRun readDecimalRun(std::string_view text) {
    DecimalRun run;
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        run.hasSign = true;
        run.negative = text[i] == '-';
        ++i;
    }
    const size_t wholeStart = i;
    while (i < text.size() && isDigit(text[i])) {
        ++i;
    }
    run.whole = text.substr(wholeStart, i - wholeStart);
    if (i < text.size() && text[i] == '.') {
        const size_t fractionStart = ++i;
        while (i < text.size() && isDigit(text[i])) {
            ++i;
        }
        run.fraction = text.substr(fractionStart, i - fractionStart);
    }
    run.found = !run.whole.empty() || !run.fraction.empty();
    run.end = run.found ? i : 0;
    if (!run.found) {
        run = DecimalRun{};
    }
    return run;
}

std::optional<int16_t> truncatedInt16(const DecimalRun& run) {
    const std::optional<int32_t> magnitude = digitsValue(run.whole, run.negative ? 32768 : 32767);
    if (!magnitude) {
        return std::nullopt;
    }
    return static_cast<int16_t>(run.negative ? -*magnitude : *magnitude);
}

std::optional<int32_t> roundedHalfEven(const DecimalRun& run, int32_t scale, int32_t limit) {
    if (run.negative) {
        return std::nullopt;
    }
    const std::optional<int32_t> whole = digitsValue(run.whole, limit / scale + 1);
    if (!whole) {
        return std::nullopt;
    }
    // The kept decimals (none for scale 1, two for scale 100), then the dropped tail decides.
    const size_t kept = scale == 100 ? 2 : 0;
    int64_t units = static_cast<int64_t>(*whole) * scale;
    if (kept == 2) {
        units += digitAt(run.fraction, 0) * 10 + digitAt(run.fraction, 1);
    }
    const std::string_view tail =
        run.fraction.size() > kept ? run.fraction.substr(kept) : std::string_view{};
    if (!tail.empty()) {
        const bool aboveHalf =
            tail[0] > '5' ||
            (tail[0] == '5' && tail.substr(1).find_first_not_of('0') != std::string_view::npos);
        const bool exactlyHalf = tail[0] == '5' && !aboveHalf;
        if (aboveHalf || (exactlyHalf && units % 2 != 0)) {
            ++units;
        }
    }
    if (units > limit) {
        return std::nullopt;
    }
    return static_cast<int32_t>(units);
}

Checksum nmeaChecksum(std::string_view sentence) {
    const size_t star = sentence.rfind('*');
    if (star == std::string_view::npos) {
        return Checksum::Absent;
    }
    if (star + 3 != sentence.size()) {
        return Checksum::Bad;
    }
    const int high = hexValue(sentence[star + 1]);
    const int low = hexValue(sentence[star + 2]);
    if (high < 0 || low < 0) {
        return Checksum::Bad;
    }
    unsigned sum = 0;
    for (size_t i = 1; i < star; ++i) {
        sum ^= static_cast<unsigned char>(sentence[i]);
    }
    return sum == static_cast<unsigned>(high * 16 + low) ? Checksum::Good : Checksum::Bad;
}

size_t findRmcStart(std::string_view text) {
    for (size_t i = text.find('$'); i != std::string_view::npos; i = text.find('$', i + 1)) {
        if (i + 6 <= text.size() && isUpper(text[i + 1]) && isUpper(text[i + 2]) &&
            text.substr(i + 3, 3) == "RMC") {
            return i;
        }
    }
    return std::string_view::npos;
}

}  // namespace kestrel
