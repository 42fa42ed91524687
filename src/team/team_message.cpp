#include "team/team_message.h"

#include <cmath>
#include <type_traits>
#include <vector>

#include "team/flat_json.h"

namespace kestrel::team {

namespace {

constexpr std::string_view kRoot = "kestrelmap";
constexpr double kMaxSeq = 9007199254740992.0;  // 2^53: every whole number below is exact

std::string prefix(const TeamNames& names) {
    return std::string(kRoot) + "/" + names.team + "/" + names.hunt + "/";
}

const std::string* textOf(const FlatObject& object, std::string_view key) {
    const JsonValue* value = object.find(key);
    return value != nullptr ? std::get_if<std::string>(value) : nullptr;
}

// A whole number in [low, high]; none when absent, not a number or out of range.
std::optional<int64_t> wholeOf(const FlatObject& object, std::string_view key, double low,
                               double high) {
    const JsonValue* value = object.find(key);
    const double* number = value != nullptr ? std::get_if<double>(value) : nullptr;
    if (number == nullptr || *number < low || *number > high || std::floor(*number) != *number) {
        return std::nullopt;
    }
    return static_cast<int64_t>(*number);
}

std::optional<double> numberOf(const FlatObject& object, std::string_view key, double limit) {
    const JsonValue* value = object.find(key);
    const double* number = value != nullptr ? std::get_if<double>(value) : nullptr;
    if (number == nullptr || std::fabs(*number) > limit) {
        return std::nullopt;
    }
    return *number;
}

bool isNull(const FlatObject& object, std::string_view key) {
    const JsonValue* value = object.find(key);
    return value != nullptr && std::holds_alternative<JsonNull>(*value);
}

// "YYYY-MM-DDTHH:MM:SSZ", digits where the pattern has them, naming a moment that exists.
bool isUtcText(std::string_view text) {
    constexpr std::string_view kPattern = "0000-00-00T00:00:00Z";
    if (text.size() != kPattern.size()) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kPattern[i] == '0' ? !digit : text[i] != kPattern[i]) {
            return false;
        }
    }
    return utcMillisecondsFromIso(text).has_value();
}

// The fields every kind carries: version, names and time.
struct Header {
    std::string vehicle, hunt, utc;
};

std::variant<Header, Rejection> readHeader(const FlatObject& object) {
    const JsonValue* version = object.find("v");
    if (version == nullptr || !std::holds_alternative<double>(*version)) {
        return Rejection::Malformed;
    }
    if (std::get<double>(*version) != kMessageVersion) {
        return Rejection::UnknownVersion;
    }
    const std::string* vehicle = textOf(object, "vehicle");
    const std::string* hunt = textOf(object, "hunt");
    const std::string* utc = textOf(object, "utc");
    if (vehicle == nullptr || !isSafeName(*vehicle) || hunt == nullptr || !isSafeName(*hunt) ||
        utc == nullptr || !isUtcText(*utc)) {
        return Rejection::Malformed;
    }
    return Header{*vehicle, *hunt, *utc};
}

// The fields plots and positions carry: the header and the place.
struct Common {
    std::string vehicle, hunt, utc;
    double latitude = 0, longitude = 0;
};

std::variant<Common, Rejection> readCommon(const FlatObject& object) {
    auto header = readHeader(object);
    if (const Rejection* rejection = std::get_if<Rejection>(&header)) {
        return *rejection;
    }
    const auto latitude = numberOf(object, "lat", 90);
    const auto longitude = numberOf(object, "lon", 180);
    if (!latitude || !longitude) {
        return Rejection::Malformed;
    }
    Header& h = std::get<Header>(header);
    return Common{std::move(h.vehicle), std::move(h.hunt), std::move(h.utc), *latitude, *longitude};
}

Decoded readPlot(const FlatObject& object) {
    auto common = readCommon(object);
    if (const Rejection* rejection = std::get_if<Rejection>(&common)) {
        return *rejection;
    }
    const auto seq = wholeOf(object, "seq", 1, kMaxSeq);
    const auto plot = wholeOf(object, "plot", 1, 99);
    const auto bearing = wholeOf(object, "bearing", 0, 359);
    const auto quality = wholeOf(object, "quality", 0, 9);
    const std::string* positionSource = textOf(object, "position_source");
    const std::string* bearingSource = textOf(object, "bearing_source");
    if (!seq || !plot || (!bearing && !isNull(object, "bearing")) ||
        (!quality && !isNull(object, "quality")) || positionSource == nullptr ||
        (*positionSource != "GPS" && *positionSource != "MAN") || bearingSource == nullptr ||
        (*bearingSource != "DF" && *bearingSource != "MAN")) {
        return Rejection::Malformed;
    }
    Common& c = std::get<Common>(common);
    TeamPlot out;
    out.vehicle = std::move(c.vehicle);
    out.hunt = std::move(c.hunt);
    out.seq = *seq;
    out.plotNumber = static_cast<int>(*plot);
    out.utc = std::move(c.utc);
    out.latitudeDegrees = c.latitude;
    out.longitudeDegrees = c.longitude;
    if (bearing) {
        out.bearingDegrees = static_cast<int>(*bearing);
    }
    if (quality) {
        out.quality = static_cast<int>(*quality);
    }
    out.positionFromGps = *positionSource == "GPS";
    out.bearingFromDf = *bearingSource == "DF";
    return out;
}

Decoded readPosition(const FlatObject& object) {
    auto common = readCommon(object);
    if (const Rejection* rejection = std::get_if<Rejection>(&common)) {
        return *rejection;
    }
    Common& c = std::get<Common>(common);
    return TeamPosition{std::move(c.vehicle), std::move(c.hunt), std::move(c.utc), c.latitude,
                        c.longitude};
}

// Exactly its seven members: a change to a plot's use is not to be half understood.
Decoded readExclusion(const FlatObject& object) {
    auto header = readHeader(object);
    if (const Rejection* rejection = std::get_if<Rejection>(&header)) {
        return *rejection;
    }
    constexpr size_t kMembers = 7;
    const auto seq = wholeOf(object, "seq", 1, kMaxSeq);
    const auto rev = wholeOf(object, "rev", 1, kMaxSeq);
    const JsonValue* excluded = object.find("excluded");
    if (!seq || !rev || excluded == nullptr || !std::holds_alternative<bool>(*excluded) ||
        object.size() != kMembers) {
        return Rejection::Malformed;
    }
    Header& h = std::get<Header>(header);
    return TeamExclusion{
        std::move(h.vehicle), std::move(h.hunt), *seq, std::get<bool>(*excluded), *rev,
        std::move(h.utc)};
}

enum class Kind { Plot, Position, Exclusion };

// A payload parsed once and read as the kind its topic names; an oversized one is not parsed.
Decoded readPayload(std::string_view payload, Kind kind) {
    if (payload.size() > kMaxPayloadBytes) {
        return Rejection::Oversize;
    }
    const std::optional<FlatObject> object = parseFlatObject(payload);
    if (!object) {
        return Rejection::Malformed;
    }
    switch (kind) {
        case Kind::Plot:
            return readPlot(*object);
        case Kind::Position:
            return readPosition(*object);
        case Kind::Exclusion:
            return readExclusion(*object);
    }
    return Rejection::Malformed;
}

std::optional<Kind> kindOf(std::string_view level) {
    if (level == "plot") {
        return Kind::Plot;
    }
    if (level == "position") {
        return Kind::Position;
    }
    if (level == "exclusion") {
        return Kind::Exclusion;
    }
    return std::nullopt;
}

std::vector<std::string_view> levels(std::string_view topic) {
    std::vector<std::string_view> out;
    size_t start = 0;
    while (true) {
        const size_t slash = topic.find('/', start);
        out.push_back(topic.substr(start, slash - start));
        if (slash == std::string_view::npos) {
            return out;
        }
        start = slash + 1;
    }
}

}  // namespace

bool isSafeName(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameBytes || !isValidUtf8(name)) {
        return false;
    }
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '+' || c == '#' || c == '/') {
            return false;
        }
    }
    return true;
}

const char* rejectionName(Rejection kind) {
    switch (kind) {
        case Rejection::Oversize:
            return "oversize";
        case Rejection::Malformed:
            return "malformed";
        case Rejection::UnknownVersion:
            return "unknown version";
        case Rejection::WrongTopic:
            return "wrong topic";
        case Rejection::OwnName:
            return "own name";
    }
    return "unknown";
}

std::string clientId(const TeamNames& names) {
    return prefix(names) + names.vehicle;
}

std::string plotTopic(const TeamNames& names) {
    return prefix(names) + names.vehicle + "/plot";
}

std::string positionTopic(const TeamNames& names) {
    return prefix(names) + names.vehicle + "/position";
}

std::string exclusionTopic(const TeamNames& names) {
    return prefix(names) + names.vehicle + "/exclusion";
}

std::string plotFilter(const TeamNames& names) {
    return prefix(names) + "+/plot";
}

std::string positionFilter(const TeamNames& names) {
    return prefix(names) + "+/position";
}

std::string exclusionFilter(const TeamNames& names) {
    return prefix(names) + "+/exclusion";
}

TeamPlot teamPlotFrom(const PlotRecord& record, const TeamNames& names, int64_t seq) {
    TeamPlot plot;
    plot.vehicle = names.vehicle;
    plot.hunt = names.hunt;
    plot.seq = seq;
    plot.plotNumber = record.plotNumber;
    plot.utc = isoUtcText(record.utcMilliseconds);
    // To the 6 decimals the wire carries, so the own copy is what the team and the journal have.
    plot.latitudeDegrees = std::round(record.latitudeDegrees * 1e6) / 1e6;
    plot.longitudeDegrees = std::round(record.longitudeDegrees * 1e6) / 1e6;
    // The receivers refuse what is out of range: a full turn is folded back, a quality that is
    // not one digit is left out.
    if (record.bearingDegrees) {
        plot.bearingDegrees = (*record.bearingDegrees % 360 + 360) % 360;
    }
    if (record.quality && *record.quality >= 0 && *record.quality <= 9) {
        plot.quality = record.quality;
    }
    plot.positionFromGps = record.positionFromGps;
    plot.bearingFromDf = record.bearingFromDf;
    return plot;
}

PlotRecord plotRecordFrom(const TeamPlot& plot) {
    PlotRecord record;
    record.plotNumber = plot.plotNumber;
    record.utcMilliseconds = utcMillisecondsFromIso(plot.utc).value_or(0);
    record.latitudeDegrees = plot.latitudeDegrees;
    record.longitudeDegrees = plot.longitudeDegrees;
    record.bearingDegrees = plot.bearingDegrees;
    record.quality = plot.quality;
    record.positionFromGps = plot.positionFromGps;
    record.bearingFromDf = plot.bearingFromDf;
    record.headingFrom.clear();
    return record;
}

std::string encodePlot(const TeamPlot& plot) {
    JsonWriter out;
    out.integer("v", kMessageVersion)
        .string("vehicle", plot.vehicle)
        .string("hunt", plot.hunt)
        .integer("seq", plot.seq)
        .integer("plot", plot.plotNumber)
        .string("utc", plot.utc)
        .number("lat", plot.latitudeDegrees, 6)
        .number("lon", plot.longitudeDegrees, 6);
    if (plot.bearingDegrees) {
        out.integer("bearing", *plot.bearingDegrees);
    } else {
        out.null("bearing");
    }
    if (plot.quality) {
        out.integer("quality", *plot.quality);
    } else {
        out.null("quality");
    }
    out.string("position_source", plot.positionFromGps ? "GPS" : "MAN")
        .string("bearing_source", plot.bearingFromDf ? "DF" : "MAN");
    return out.finish();
}

std::string encodePosition(const TeamPosition& position) {
    return JsonWriter()
        .integer("v", kMessageVersion)
        .string("vehicle", position.vehicle)
        .string("hunt", position.hunt)
        .string("utc", position.utc)
        .number("lat", position.latitudeDegrees, 6)
        .number("lon", position.longitudeDegrees, 6)
        .finish();
}

std::string encodeExclusion(const TeamExclusion& exclusion) {
    return JsonWriter()
        .integer("v", kMessageVersion)
        .string("vehicle", exclusion.vehicle)
        .string("hunt", exclusion.hunt)
        .integer("seq", exclusion.seq)
        .boolean("excluded", exclusion.excluded)
        .integer("rev", exclusion.rev)
        .string("utc", exclusion.utc)
        .finish();
}

Decoded decodePlotPayload(std::string_view payload) {
    return readPayload(payload, Kind::Plot);
}

Decoded decodeExclusionPayload(std::string_view payload) {
    return readPayload(payload, Kind::Exclusion);
}

// kestrelmap/<team>/<hunt>/<vehicle>/{plot|position|exclusion}; the payload must name the same
// vehicle and hunt.
Decoded decodeMessage(const TeamNames& own, std::string_view topic, std::string_view payload) {
    const std::vector<std::string_view> level = levels(topic);
    const std::optional<Kind> kind = level.size() == 5 ? kindOf(level[4]) : std::nullopt;
    if (!kind || level[0] != kRoot || level[1] != own.team || level[2] != own.hunt) {
        return Rejection::WrongTopic;
    }
    Decoded decoded = readPayload(payload, *kind);
    const bool namesDiffer = std::visit(
        [&](const auto& message) {
            if constexpr (std::is_same_v<std::decay_t<decltype(message)>, Rejection>) {
                return false;
            } else {
                return message.vehicle != level[3] || message.hunt != own.hunt;
            }
        },
        decoded);
    return namesDiffer ? Decoded(Rejection::WrongTopic) : decoded;
}

}  // namespace kestrel::team
