#include "app/settings_file.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "app/text_number.h"
#include "options/colour_sets.h"

namespace kestrel {

namespace {

constexpr size_t kLineCount = 20;

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// The first `count` lines, each without its CR LF or LF and without surrounding blanks.
std::vector<std::string_view> firstLines(std::string_view text, size_t count) {
    std::vector<std::string_view> lines;
    while (!text.empty() && lines.size() < count) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(trimmed(line));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    }
    return lines;
}

// The value when the whole text is a decimal number (sign, digits, optional decimals).
std::optional<double> wholeNumber(std::string_view text) {
    size_t i = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
    size_t digits = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9') {
            ++digits;
        } else if (text[i] == '.' && !point) {
            point = true;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0) {
        return std::nullopt;
    }
    return leadingNumber(text);
}

// A number written back as text: whole numbers without a point ("07" gives "7"), others in
// their shortest exact form.
std::string numberText(double value) {
    char buffer[32];
    std::to_chars_result result;
    if (value == std::trunc(value) && std::fabs(value) < 1e15) {
        result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(value));
    } else {
        result = std::to_chars(buffer, buffer + sizeof buffer, value);
    }
    return std::string(buffer, result.ptr);
}

// A digit line: a number is taken by its value, anything else unchanged.
std::string digitTag(std::string_view value) {
    const auto number = wholeNumber(value);
    return number ? numberText(*number) : std::string(value);
}

std::optional<int32_t> colourValue(std::string_view value) {
    const auto number = wholeNumber(value);
    if (!number) {
        return std::nullopt;
    }
    const double rounded = roundHalfEven(*number);
    if (!(rounded >= 0 && rounded <= kMaxRgb)) {
        return std::nullopt;
    }
    return static_cast<int32_t>(rounded);
}

std::optional<int16_t> portValue(std::string_view value) {
    const double number = leadingNumber(value);
    if (number < 1 || number > 8) {
        return std::nullopt;
    }
    return static_cast<int16_t>(roundHalfEven(number));
}

// A saved number: a space (or "-") before it and a space after it.
std::string savedNumber(long long value) {
    return (value < 0 ? "-" : " ") + std::to_string(value < 0 ? -value : value) + " ";
}

}  // namespace

std::optional<StoredSettings> parseSettings(std::string_view text) {
    const std::vector<std::string_view> lines = firstLines(text, kLineCount);
    if (lines.size() < kLineCount) {
        return std::nullopt;
    }
    StoredSettings settings;
    for (size_t i = 0; i < settings.digits.size(); ++i) {
        settings.digits[i] = digitTag(lines[i]);
    }
    settings.latHemisphere = lines[13] == "S" ? "S" : "N";
    settings.longHemisphere = lines[14] == "W" ? "W" : "E";
    for (size_t i = 0; i < settings.colours.size(); ++i) {
        const auto colour = colourValue(lines[15 + i]);
        if (!colour) {
            return std::nullopt;
        }
        settings.colours[i] = *colour;
    }
    const auto port = portValue(lines[19]);
    if (!port) {
        return std::nullopt;
    }
    settings.port = *port;
    return settings;
}

std::string defaultSettingsText() {
    static const char* const kLines[kLineCount] = {
        "3", "4", "2", "5", "1", "1",     "1",     "1",     "9",   "4",
        "4", "5", "0", "N", "W", "33410", "44718", "49344", "255", "1",
    };
    std::string text;
    for (const char* line : kLines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

std::string settingsText(const StoredSettings& settings) {
    std::string text;
    auto line = [&text](const std::string& value) {
        text += value;
        text += "\r\n";
    };
    for (const std::string& digit : settings.digits) {
        line(digit);
    }
    line(settings.latHemisphere);
    line(settings.longHemisphere);
    for (const int32_t colour : settings.colours) {
        line(savedNumber(colour));
    }
    line(savedNumber(settings.port));
    return text;
}

}  // namespace kestrel
