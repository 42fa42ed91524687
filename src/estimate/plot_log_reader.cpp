#include "estimate/plot_log_reader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>

#include "estimate/gates.h"

namespace kestrel::estimate {

namespace {

std::string_view trim(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::optional<double> number(std::string_view text) {
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> wholeNumber(std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

struct Columns {
    size_t count = 0;
    std::optional<size_t> plot, lat, lon, bearing, quality, excluded, turnRate, spread, confidence,
        powerDb, frequencyHz;
};

std::string quoted(std::string_view text) {
    return "\"" + std::string(text.substr(0, 40)) + (text.size() > 40 ? "...\"" : "\"");
}

// Header: names separated by commas, any order, matched without regard to case.
std::string readHeader(std::string_view line, Columns& columns) {
    const std::vector<std::string> names = csvFields(line);
    columns.count = names.size();
    for (size_t i = names.size(); i-- > 0;) {
        std::string name(names[i]);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        for (auto [wanted, slot] : {std::pair{column::kPlot, &columns.plot},
                                    {column::kLat, &columns.lat},
                                    {column::kLon, &columns.lon},
                                    {column::kBearing, &columns.bearing},
                                    {column::kQuality, &columns.quality},
                                    {column::kExcluded, &columns.excluded},
                                    {column::kTurnRate, &columns.turnRate},
                                    {column::kSpread, &columns.spread},
                                    {column::kConfidence, &columns.confidence},
                                    {column::kPowerDb, &columns.powerDb},
                                    {column::kFrequencyHz, &columns.frequencyHz}}) {
            if (name == wanted) {
                *slot = i;
            }
        }
    }
    for (auto [name, slot] : {std::pair{column::kLat, &columns.lat},
                              {column::kLon, &columns.lon},
                              {column::kBearing, &columns.bearing}}) {
        if (!*slot) {
            return "the header has no " + std::string(name) + " column";
        }
    }
    return {};
}

// How the row's bearing was taken: each column empty or missing is not known; a value must be
// a number within its range.
std::string readTaking(const std::vector<std::string>& fields, const Columns& columns,
                       Taking& taken) {
    struct Field {
        std::optional<size_t> column;
        std::string_view name;
        std::optional<double>* value;
        double low, high;
        const char* expected;
    };
    constexpr double kAny = HUGE_VAL;
    const Field wanted[] = {
        {columns.turnRate, column::kTurnRate, &taken.turnRateDegPerS, -kAny, kAny, "a number"},
        {columns.spread, column::kSpread, &taken.spreadDeg, 0, kAny, "a number 0 or more"},
        {columns.confidence, column::kConfidence, &taken.confidence, 0, kMaxConfidence,
         "a number 0 to 99"},
        {columns.powerDb, column::kPowerDb, &taken.powerDb, -kAny, kAny, "a number"},
        {columns.frequencyHz, column::kFrequencyHz, &taken.frequencyHz, 0, kAny,
         "a number 0 or more"},
    };
    for (const Field& field : wanted) {
        if (!field.column || fields[*field.column].empty()) {
            continue;
        }
        const auto value = number(fields[*field.column]);
        if (!value || *value < field.low || *value > field.high) {
            return std::string(field.name) + " " + quoted(fields[*field.column]) + " is not " +
                   field.expected;
        }
        *field.value = *value;
    }
    return {};
}

// One data row; returns the fault, or empty. A row without a bearing leaves `out` unset; one
// left out by hand sets `excluded` beside it.
std::string readRow(std::string_view line, const Columns& columns, int rowNumber,
                    std::optional<Bearing>& out, bool& excluded) {
    const std::vector<std::string> fields = csvFields(line);
    if (fields.size() != columns.count) {
        return std::to_string(fields.size()) + " fields where the header has " +
               std::to_string(columns.count);
    }
    if (fields[*columns.bearing].empty()) {
        return {};
    }
    Bearing b;
    b.id = rowNumber;
    const auto lat = number(fields[*columns.lat]);
    const auto lon = number(fields[*columns.lon]);
    const auto bearing = number(fields[*columns.bearing]);
    if (!lat || std::abs(*lat) > 90) {
        return "lat " + quoted(fields[*columns.lat]) + " is not a latitude (-90 to 90)";
    }
    if (!lon || std::abs(*lon) > 180) {
        return "lon " + quoted(fields[*columns.lon]) + " is not a longitude (-180 to 180)";
    }
    if (!bearing) {
        return "bearing " + quoted(fields[*columns.bearing]) + " is not a number";
    }
    b.latitudeDeg = *lat;
    b.longitudeDeg = *lon;
    b.bearingDeg = *bearing;
    if (columns.quality && !fields[*columns.quality].empty()) {
        const auto q = wholeNumber(fields[*columns.quality]);
        if (!q || *q < 0 || *q > 9) {
            return "quality " + quoted(fields[*columns.quality]) + " is not a digit 0 to 9";
        }
        b.quality = *q;
    }
    if (columns.plot) {
        const auto plot = wholeNumber(fields[*columns.plot]);
        if (!plot) {
            return "plot " + quoted(fields[*columns.plot]) + " is not a whole number";
        }
        b.id = *plot;
    }
    if (columns.excluded && !fields[*columns.excluded].empty()) {
        if (fields[*columns.excluded] != "1" && fields[*columns.excluded] != "0") {
            return "excluded " + quoted(fields[*columns.excluded]) + " is not 1 or 0";
        }
        excluded = fields[*columns.excluded] == "1";
    }
    if (std::string fault = readTaking(fields, columns, b.taken); !fault.empty()) {
        return fault;
    }
    out = b;
    return {};
}

}  // namespace

std::vector<std::string> csvFields(std::string_view line) {
    std::vector<std::string> fields;
    size_t at = 0;
    for (;;) {
        std::string field;
        const size_t start = line.find_first_not_of(" \t", at);
        if (start != std::string_view::npos && line[start] == '"') {
            size_t i = start + 1;
            for (; i < line.size(); ++i) {
                if (line[i] == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else if (line[i] == '"') {
                    break;
                } else {
                    field += line[i];
                }
            }
            at = line.find(',', i);  // what follows the closing quote up to the comma goes
        } else {
            const size_t comma = line.find(',', at);
            field = std::string(trim(line.substr(at, comma - at)));
            at = comma;
        }
        fields.push_back(std::move(field));
        if (at == std::string_view::npos) {
            return fields;
        }
        ++at;
    }
}

std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"") == std::string_view::npos) {
        return std::string(text);
    }
    std::string out = "\"";
    for (const char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + '"';
}

PlotLog readPlotLog(std::string_view text) {
    PlotLog log;
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    Columns columns;
    int lineNumber = 0, rowNumber = 0;
    bool haveHeader = false;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++lineNumber;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (trim(line).empty()) {
            continue;
        }
        std::string fault;
        if (!haveHeader) {
            haveHeader = true;
            fault = readHeader(line, columns);
        } else {
            std::optional<Bearing> bearing;
            bool excluded = false;
            fault = readRow(line, columns, ++rowNumber, bearing, excluded);
            if (bearing && excluded) {
                log.excluded.push_back({bearing->id, log.bearings.size()});
            } else if (bearing) {
                log.bearings.push_back(*bearing);
            }
            log.excludedRows += excluded ? 1 : 0;
        }
        if (!fault.empty()) {
            log.errorLine = lineNumber;
            log.error = fault;
            return log;
        }
    }
    if (!haveHeader) {
        log.errorLine = 1;
        log.error = "no header line: the file is empty";
        return log;
    }
    log.hasPlotColumn = columns.plot.has_value();
    log.ok = true;
    return log;
}

}  // namespace kestrel::estimate
