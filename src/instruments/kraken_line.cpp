#include "instruments/kraken_line.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace kestrel::instruments {

namespace {

constexpr int kFullCircle = 360;
constexpr std::size_t kFieldsRead = 6;

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The end of the digit run starting at `at`.
std::size_t skipDigits(std::string_view text, std::size_t at) {
    while (at < text.size() && isDigit(text[at])) {
        ++at;
    }
    return at;
}

std::size_t skipSign(std::string_view text, std::size_t at) {
    return at < text.size() && (text[at] == '+' || text[at] == '-') ? at + 1 : at;
}

// The field as a finite decimal number, or nothing. The form is checked here, since
// from_chars would also take "inf", "nan" and "1e" (as 1); it does the conversion alone.
std::optional<double> number(std::string_view field) {
    const std::size_t start = skipSign(field, 0);
    std::size_t at = skipDigits(field, start);
    std::size_t digits = at - start;
    if (at < field.size() && field[at] == '.') {
        const std::size_t fraction = at + 1;
        at = skipDigits(field, fraction);
        digits += at - fraction;
    }
    if (digits == 0) {
        return std::nullopt;
    }
    if (at < field.size() && (field[at] == 'e' || field[at] == 'E')) {
        const std::size_t exponent = skipSign(field, at + 1);
        at = skipDigits(field, exponent);
        if (at == exponent) {
            return std::nullopt;
        }
    }
    if (at != field.size()) {
        return std::nullopt;
    }
    const char* first = field.data() + (field.front() == '+' ? 1 : 0);
    const char* last = field.data() + field.size();
    double value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc{} || end != last || !std::isfinite(value)) {
        return std::nullopt;  // out of range, too large or too small for a double
    }
    return value + 0.0;  // -0 reads as 0
}

// The field as a whole number of the int64 range, or nothing.
std::optional<int64_t> wholeNumber(std::string_view field) {
    const std::size_t start = skipSign(field, 0);
    if (start == field.size() || skipDigits(field, start) != field.size()) {
        return std::nullopt;
    }
    const char* first = field.data() + (field.front() == '+' ? 1 : 0);
    const char* last = field.data() + field.size();
    int64_t value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc{} || end != last) {
        return std::nullopt;
    }
    return value;
}

// One non-empty line: the reading, or what is wrong with it.
std::optional<KrakenReading> readLine(std::string_view line, std::string& problem) {
    std::string_view fields[kFieldsRead];
    std::size_t count = 0;
    while (count < kFieldsRead) {
        const std::size_t comma = line.find(',');
        fields[count++] = trimmed(line.substr(0, comma));
        if (comma == std::string_view::npos) {
            break;
        }
        line.remove_prefix(comma + 1);
    }
    if (count < kFieldsRead) {
        problem = "a line with too few fields";
        return std::nullopt;
    }
    KrakenReading r;
    const std::optional<int64_t> time = wholeNumber(fields[0]);
    const std::optional<double> direction = number(fields[1]);
    const std::optional<double> confidence = number(fields[2]);
    const std::optional<double> power = number(fields[3]);
    const std::optional<double> frequency = number(fields[4]);
    if (!time) {
        problem = "a time that is not a whole number";
    } else if (*time <= 0) {
        problem = "a time of 0 or less";
    } else if (!direction) {
        problem = "a bearing that is not a number";
    } else if (*direction < 0 || *direction > kFullCircle) {
        problem = "a bearing outside 0-360";
    } else if (!confidence) {
        problem = "a confidence that is not a number";
    } else if (*confidence < 0 || *confidence > 99) {
        problem = "a confidence outside 0-99";
    } else if (!power) {
        problem = "a power that is not a number";
    } else if (!frequency) {
        problem = "a frequency that is not a number";
    } else if (*frequency <= 0) {
        problem = "a frequency of 0 or less";
    } else {
        return KrakenReading{*time,  *direction, *confidence,
                             *power, *frequency, std::string(fields[5])};
    }
    return std::nullopt;
}

}  // namespace

KrakenParse parseKrakenAnswer(std::string_view body) {
    KrakenParse parse;
    if (body.size() > kMaxKrakenAnswerBytes) {
        parse.problem = "an answer over 64 KiB";
        return parse;
    }
    std::string firstProblem;
    while (!body.empty()) {
        const std::size_t end = body.find('\n');
        const std::string_view line = trimmed(body.substr(0, end));
        body.remove_prefix(end == std::string_view::npos ? body.size() : end + 1);
        if (line.empty()) {
            continue;
        }
        std::string problem;
        if (std::optional<KrakenReading> reading = readLine(line, problem)) {
            parse.lines.push_back(std::move(*reading));
        } else if (firstProblem.empty()) {
            firstProblem = std::move(problem);
        }
    }
    if (parse.lines.empty()) {
        parse.problem = firstProblem.empty() ? "no line" : firstProblem;
    }
    return parse;
}

std::optional<KrakenReading> chooseKrakenLine(const std::vector<KrakenReading>& lines,
                                              std::optional<double> frequencyHz) {
    if (!frequencyHz) {
        return lines.empty() ? std::nullopt : std::optional<KrakenReading>(lines.front());
    }
    const KrakenReading* best = nullptr;
    double bestDistance = kKrakenFrequencyToleranceHz;
    for (const KrakenReading& line : lines) {
        const double distance = std::fabs(line.frequencyHz - *frequencyHz);
        if (distance <= bestDistance && (!best || distance < bestDistance)) {
            best = &line;
            bestDistance = distance;
        }
    }
    return best ? std::optional<KrakenReading>(*best) : std::nullopt;
}

int krakenRelativeBearing(double direction, double arrayOffsetDeg) {
    double sum = std::fmod(direction + arrayOffsetDeg, kFullCircle);
    if (!std::isfinite(sum)) {
        return 0;
    }
    if (sum < 0) {
        sum += kFullCircle;  // may round up to 360 itself, which wraps below
    }
    const double down = std::floor(sum);
    const double above = sum - down;
    int degrees = static_cast<int>(down);
    if (above > 0.5 || (above == 0.5 && degrees % 2 != 0)) {
        ++degrees;
    }
    return degrees >= kFullCircle ? degrees - kFullCircle : degrees;
}

bool isNewer(const KrakenReading& reading, std::optional<int64_t> lastTimeMs) {
    return !lastTimeMs || reading.timeMs > *lastTimeMs;
}

}  // namespace kestrel::instruments
