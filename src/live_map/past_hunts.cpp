#include "live_map/past_hunts.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <tuple>

#include "app/hunt_events.h"
#include "estimate/gates.h"
#include "estimate/plot_log_reader.h"
#include "hunt/status_line.h"
#include "input/rmc_reading.h"
#include "team/team_kml.h"

namespace kestrel::live_map {

namespace {

constexpr std::string_view kPlotsEnd = "_plots.csv";
constexpr std::string_view kInputEnd = "_input.log";
constexpr size_t kBearingsKept = 99;  // each vehicle's most recent bearings, as the live hunt
constexpr const char* kPastVectorColour = "#ff0000";

enum class FileRead { Ok, Missing, TooLarge };

FileRead readFile(const std::string& path, std::string& text) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return FileRead::Missing;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return FileRead::Missing;
    }
    text.clear();
    std::vector<char> buffer(1 << 16);
    while (file.read(buffer.data(), std::streamsize(buffer.size())) || file.gcount() > 0) {
        text.append(buffer.data(), size_t(file.gcount()));
        if (text.size() > kMaxFileBytes) {
            return FileRead::TooLarge;
        }
    }
    return file.bad() ? FileRead::Missing : FileRead::Ok;
}

// Calls `use` with each line of `text`, without its LF or CR LF.
template <typename Use>
void forEachLine(std::string_view text, Use use) {
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        use(line);
    }
}

std::string_view trim(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t");
    return first == std::string_view::npos ? std::string_view{}
                                           : s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// The whole text as a number; "nan" and "inf" are not numbers here.
template <typename T>
bool parseNumber(std::string_view text, T& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size() &&
           std::isfinite(static_cast<double>(value));
}

// An optional whole number: empty is none; anything else must be one within the limits.
bool readOptional(std::string_view text, int low, int high, std::optional<int>& out) {
    int value = 0;
    if (text.empty()) {
        return true;
    }
    if (!parseNumber(text, value) || value < low || value > high) {
        return false;
    }
    out = value;
    return true;
}

// The plot log's columns by name, matched without regard to case; any of them may be missing
// but lat and lon, and names it does not know are passed over.
struct Columns {
    size_t count = 0;
    std::optional<size_t> plot, utc, lat, lon, bearing, relative, quality, positionSource,
        bearingSource, used, vehicle, excluded, note, turnRate, confidence;
};

std::string readHeader(std::string_view line, Columns& columns) {
    const std::vector<std::string> names = estimate::csvFields(line);
    columns.count = names.size();
    const std::pair<std::string_view, std::optional<size_t> Columns::*> known[] = {
        {"plot", &Columns::plot},
        {"utc", &Columns::utc},
        {"lat", &Columns::lat},
        {"lon", &Columns::lon},
        {"bearing", &Columns::bearing},
        {"relative", &Columns::relative},
        {"quality", &Columns::quality},
        {"position_source", &Columns::positionSource},
        {"bearing_source", &Columns::bearingSource},
        {"used", &Columns::used},
        {"vehicle", &Columns::vehicle},
        {"excluded", &Columns::excluded},
        {"note", &Columns::note},
        {"turn_rate", &Columns::turnRate},
        {"confidence", &Columns::confidence}};
    for (size_t i = 0; i < names.size(); ++i) {
        std::string name(names[i]);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        for (const auto& [wanted, slot] : known) {
            if (name == wanted && !(columns.*slot)) {
                columns.*slot = i;
            }
        }
    }
    return columns.lat && columns.lon ? "" : "the plot log's header has no lat or lon column";
}

// A data row of the plot log, laid out as kPlotLogHeader names it:
// 12,2026-12-08T14:21:07Z,34.463500,-119.699167,42,318,84,23,7,GPS,DF,1,COG,Van 2,1,"a note"
// Every field that is there must be well formed; none for a damaged row.
std::optional<MapPlot> readRow(std::string_view line, const Columns& c, int row) {
    const std::vector<std::string> fields = estimate::csvFields(line);
    if (fields.size() != c.count) {
        return std::nullopt;
    }
    auto at = [&](std::optional<size_t> column) {
        return column ? std::string_view(fields[*column]) : std::string_view();
    };
    MapPlot plot;
    plot.row = row;
    plot.rangeMiles = kPastRangeMiles;
    double bearing = 0;
    std::optional<int> plotNumber;
    const std::optional<int64_t> utc = utcMillisecondsFromIso(at(c.utc));
    if (!parseNumber(at(c.lat), plot.latitudeDeg) || std::abs(plot.latitudeDeg) > 90 ||
        !parseNumber(at(c.lon), plot.longitudeDeg) || std::abs(plot.longitudeDeg) > 180 ||
        (!at(c.utc).empty() && !utc) || !readOptional(at(c.plot), 0, 1 << 30, plotNumber) ||
        !readOptional(at(c.relative), -3600, 3600, plot.relativeDeg) ||
        !readOptional(at(c.quality), 0, 9, plot.quality) ||
        (!at(c.bearing).empty() &&
         (!parseNumber(at(c.bearing), bearing) || std::abs(bearing) > 3600))) {
        return std::nullopt;
    }
    plot.plotNumber = plotNumber.value_or(0);
    plot.utcMilliseconds = utc.value_or(0);
    if (!at(c.bearing).empty()) {
        plot.bearingDeg = (static_cast<int>(std::lround(bearing)) % 360 + 360) % 360;
        // What the live hunt decided; replaced by the estimate made again where it weighs it.
        plot.used = at(c.used) == "1"   ? std::optional<bool>(true)
                    : at(c.used) == "0" ? std::optional<bool>(false)
                                        : std::nullopt;
    }
    plot.positionSource = at(c.positionSource);
    plot.bearingSource = at(c.bearingSource);
    plot.vehicle = at(c.vehicle);
    plot.excluded = plot.bearingDeg && at(c.excluded) == "1";
    plot.note = at(c.note);
    // The gates' measures, when the log has them (older logs do not).
    for (auto [column, value, low, high] :
         {std::tuple{c.turnRate, &plot.taken.turnRateDegPerS, -HUGE_VAL, HUGE_VAL},
          std::tuple{c.confidence, &plot.taken.confidence, 0.0, estimate::kMaxConfidence}}) {
        double number = 0;
        if (!at(column).empty()) {
            if (!parseNumber(at(column), number) || number < low || number > high) {
                return std::nullopt;
            }
            *value = number;
        }
    }
    return plot;
}

struct PlotRows {
    std::vector<MapPlot> plots;
    int damaged = 0;
    std::string error;  // the header is unusable
};

PlotRows readPlotRows(std::string_view text) {
    PlotRows out;
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    Columns columns;
    bool haveHeader = false;
    int row = 0;
    forEachLine(text, [&](std::string_view line) {
        if (trim(line).empty() || !out.error.empty()) {
            return;
        }
        if (!haveHeader) {
            haveHeader = true;
            out.error = readHeader(line, columns);
        } else if (auto plot = readRow(line, columns, ++row)) {
            out.plots.push_back(std::move(*plot));
        } else {
            ++out.damaged;
        }
    });
    if (!haveHeader) {
        out.error = "the plot log is empty";
    }
    return out;
}

// "2026-12-08T14:21:07.123Z<TAB>GPS<TAB>$GPRMC,142107.00,A,3427.810,N,11941.950,W,...*hh":
// a position for a valid RMC fix; none for any other line or a damaged one.
std::optional<TrackPoint> trackPoint(std::string_view line) {
    const size_t tab = line.find('\t');
    const size_t secondTab = tab == std::string_view::npos ? tab : line.find('\t', tab + 1);
    if (secondTab == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view sentence = line.substr(secondTab + 1);
    if (!sentence.starts_with("$GPRMC,") && !sentence.starts_with("$GNRMC,")) {
        return std::nullopt;
    }
    const std::optional<int64_t> utc = utcMillisecondsFromIso(line.substr(0, tab));
    const std::optional<RmcReading> rmc = readRmc(sentence);
    const std::string_view hemispheres = "NnSsEeWw";
    if (!utc || !rmc || !rmc->validFix || hemispheres.substr(0, 4).find(rmc->northSouth) > 3 ||
        hemispheres.substr(4).find(rmc->eastWest) > 3) {
        return std::nullopt;
    }
    const double latitude = rmc->latitudeDegrees + rmc->latitudeHundredths / 6000.0;
    const double longitude = rmc->longitudeDegrees + rmc->longitudeHundredths / 6000.0;
    const bool south = rmc->northSouth == 'S' || rmc->northSouth == 's';
    const bool west = rmc->eastWest == 'W' || rmc->eastWest == 'w';
    return TrackPoint{*utc, south ? -latitude : latitude, west ? -longitude : longitude};
}

// At most one point a second (the first of it), at most kMaxTrackPoints.
std::vector<TrackPoint> readTrack(std::string_view text) {
    std::vector<TrackPoint> track;
    forEachLine(text, [&](std::string_view line) {
        const std::optional<TrackPoint> point =
            track.size() < kMaxTrackPoints ? trackPoint(line) : std::nullopt;
        if (point && (track.empty() ||
                      point->utcMilliseconds / 1000 != track.back().utcMilliseconds / 1000)) {
            track.push_back(*point);
        }
    });
    return track;
}

// The estimate as the live hunt last made it: each vehicle's most recent kBearingsKept
// bearings in log order; their plots take its verdicts.
void estimateAgain(HuntView& hunt) {
    std::map<std::string, size_t> bearingsLeft;
    for (const MapPlot& plot : hunt.plots) {
        bearingsLeft[plot.vehicle] += plot.bearingDeg ? 1 : 0;
    }
    std::vector<estimate::Bearing> bearings;
    std::vector<MapPlot*> weighed;
    std::set<std::string> vehicles;
    for (MapPlot& plot : hunt.plots) {
        if (plot.bearingDeg && bearingsLeft[plot.vehicle]-- <= kBearingsKept && !plot.excluded) {
            bearings.push_back({plot.plotNumber, plot.latitudeDeg, plot.longitudeDeg,
                                double(*plot.bearingDeg), plot.quality, plot.taken});
            weighed.push_back(&plot);
            vehicles.insert(plot.vehicle);
        }
    }
    // The gates as they stand by default: the live hunt's [estimate] is not known here.
    estimate::GatedEstimate gated = estimate::estimateGated(bearings, estimate::Gates{});
    hunt.estimate = std::move(gated.estimate);
    for (size_t k = 0; k < weighed.size() && k < gated.verdicts.size(); ++k) {
        weighed[k]->used = gated.verdicts[k] == estimate::Verdict::Used;
        weighed[k]->leftOutAs = *weighed[k]->used
                                    ? std::string()
                                    : std::string(estimate::verdictText(gated.verdicts[k]));
    }
    const auto leftOut = std::count_if(hunt.plots.begin(), hunt.plots.end(),
                                       [](const MapPlot& plot) { return plot.excluded; });
    hunt.status = statusLine(hunt.estimate, std::nullopt, static_cast<int>(vehicles.size()),
                             static_cast<int>(leftOut));
}

// One team vehicle per vehicle name, in order of first appearance, at its last plot.
void addTeam(HuntView& hunt) {
    for (const MapPlot& plot : hunt.plots) {
        if (plot.vehicle.empty()) {
            continue;
        }
        auto found = std::find_if(hunt.team.begin(), hunt.team.end(),
                                  [&](const TeamVehicle& v) { return v.name == plot.vehicle; });
        if (found == hunt.team.end()) {
            const std::string colour(team::paletteColour(hunt.team.size()));
            hunt.team.push_back({plot.vehicle, cssColour(colour), std::nullopt});
            found = hunt.team.end() - 1;
        }
        found->position = TrackPoint{plot.utcMilliseconds, plot.latitudeDeg, plot.longitudeDeg};
    }
}

std::optional<HuntView> loadStamp(const std::string& folder, const std::string& stamp,
                                  std::string& error) {
    std::string text;
    const FileRead plotLog = readFile(folder + stamp + std::string(kPlotsEnd), text);
    if (plotLog != FileRead::Ok) {
        error = plotLog == FileRead::TooLarge ? "the plot log is too large"
                                              : "the plot log cannot be read";
        return std::nullopt;
    }
    PlotRows rows = readPlotRows(text);
    if (!rows.error.empty() || (rows.plots.empty() && rows.damaged > 0)) {
        error = !rows.error.empty() ? rows.error
                                    : "no row of the plot log could be read (" +
                                          std::to_string(rows.damaged) + " damaged)";
        return std::nullopt;
    }
    HuntView hunt;
    hunt.stamp = stamp;
    hunt.plots = std::move(rows.plots);
    hunt.vectorColour = kPastVectorColour;
    estimateAgain(hunt);
    addTeam(hunt);
    const FileRead inputLog = readFile(folder + stamp + std::string(kInputEnd), text);
    if (inputLog == FileRead::Ok) {
        hunt.track = readTrack(text);
    } else if (inputLog == FileRead::TooLarge) {
        error = "the input log is too large: no track";
    }
    return hunt;
}

// "MMDDYY_HHMMSS" as "YYMMDDHHMMSS", which sorts by time.
std::string dateKey(const std::string& stamp) {
    return stamp.substr(4, 2) + stamp.substr(0, 4) + stamp.substr(7);
}

}  // namespace

bool isHuntStamp(std::string_view stamp) {
    if (stamp.size() != 13) {
        return false;
    }
    for (size_t i = 0; i < stamp.size(); ++i) {
        const bool digit = stamp[i] >= '0' && stamp[i] <= '9';
        if (i == 6 ? stamp[i] != '_' : !digit) {
            return false;
        }
    }
    return true;
}

std::vector<PastHunt> listHunts(const std::string& folder) {
    try {
        std::vector<std::string> stamps;
        std::error_code ec;
        std::filesystem::directory_iterator it(folder.empty() ? "." : folder, ec);
        for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().string();
            const std::string stamp =
                name.substr(0, name.size() - std::min(name.size(), kPlotsEnd.size()));
            if (name.ends_with(kPlotsEnd) && isHuntStamp(stamp)) {
                stamps.push_back(stamp);
            }
        }
        std::sort(stamps.begin(), stamps.end(), [](const std::string& a, const std::string& b) {
            return dateKey(a) > dateKey(b);
        });
        stamps.resize(std::min(stamps.size(), kMaxListedHunts));
        std::vector<PastHunt> hunts;
        std::string text;
        for (const std::string& stamp : stamps) {
            PastHunt hunt;
            hunt.stamp = stamp;
            if (readFile(folder + stamp + std::string(kPlotsEnd), text) == FileRead::Ok) {
                const PlotRows rows = readPlotRows(text);
                hunt.plots = static_cast<int>(rows.plots.size());
                hunt.firstPlotUtcMilliseconds =
                    rows.plots.empty() ? 0 : rows.plots[0].utcMilliseconds;
            }
            hunts.push_back(std::move(hunt));
        }
        return hunts;
    } catch (const std::exception&) {
        return {};
    }
}

std::optional<HuntView> loadHunt(const std::string& folder, const std::string& stamp,
                                 std::string& error) {
    error.clear();
    if (!isHuntStamp(stamp)) {
        error = "not a hunt stamp (MMDDYY_HHMMSS)";
        return std::nullopt;
    }
    try {
        return loadStamp(folder, stamp, error);
    } catch (const std::exception&) {
        error = "the hunt cannot be read";
        return std::nullopt;
    }
}

}  // namespace kestrel::live_map
