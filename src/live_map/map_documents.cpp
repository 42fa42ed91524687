// The geometry and the text of the map documents: geodesic lines, paths and rings as RFC 7946
// wants them (longitudes -180..180, cut at the antimeridian, rings counter-clockwise), and
// text made safe for JSON and XML. Pure functions; they keep nothing between calls.

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/GeodesicLine.hpp>
#include <algorithm>
#include <cmath>

#include "live_map/map_documents.h"

namespace kestrel::live_map {

namespace {

constexpr double kMetresPerMile = 1609.344;
constexpr int kLineSegments = 32;
constexpr double kLongestLineMiles = 12000;  // about half way round the earth

using Position = std::pair<double, double>;  // (lon, lat)
using Path = std::vector<Position>;

double rounded(double value) {
    return std::round(value * 1e6) / 1e6;
}

nlohmann::json positionJson(const Position& p) {
    return nlohmann::json::array({rounded(p.first), rounded(p.second)});
}

nlohmann::json pathJson(const Path& path) {
    nlohmann::json out = nlohmann::json::array();
    for (const Position& p : path) {
        out.push_back(positionJson(p));
    }
    return out;
}

// (lon, lat) for a (lat, lon) pair: latitude clamped to -90..90, longitude to -180..180.
// Nothing for a value that is not finite.
std::optional<Position> usable(double latitudeDeg, double longitudeDeg) {
    if (!std::isfinite(latitudeDeg) || !std::isfinite(longitudeDeg)) {
        return std::nullopt;
    }
    return Position{std::remainder(longitudeDeg, 360.0), std::clamp(latitudeDeg, -90.0, 90.0)};
}

Path usablePath(const std::vector<std::pair<double, double>>& latLon) {
    Path path;
    for (const auto& [lat, lon] : latLon) {
        if (const auto p = usable(lat, lon)) {
            path.push_back(*p);
        }
    }
    return path;
}

bool crossesAntimeridian(const Position& a, const Position& b) {
    return std::abs(b.first - a.first) > 180;
}

// Where the segment a-b (the short way round, across the antimeridian) meets it: the edge on
// a's side (+180 or -180) and the latitude there.
Position antimeridianCrossing(const Position& a, const Position& b) {
    const double edge = a.first > 0 ? 180.0 : -180.0;
    const double bUnwrapped = b.first + (a.first > 0 ? 360.0 : -360.0);
    const double t = (edge - a.first) / (bUnwrapped - a.first);
    return {edge, a.second + t * (b.second - a.second)};
}

// The path in pieces that each stay on one side of the antimeridian, every cut ending at
// +180/-180 and the next piece starting at the other edge. Pieces below 2 points are dropped.
std::vector<Path> cutPath(const Path& path) {
    std::vector<Path> pieces(1);
    for (size_t i = 0; i < path.size(); ++i) {
        bool justCut = false;
        if (i > 0 && crossesAntimeridian(path[i - 1], path[i])) {
            const Position cut = antimeridianCrossing(path[i - 1], path[i]);
            if (pieces.back().back() != cut) {
                pieces.back().push_back(cut);
            }
            pieces.push_back({{-cut.first, cut.second}});
            justCut = true;
        }
        if (!justCut || pieces.back().back() != path[i]) {
            pieces.back().push_back(path[i]);
        }
    }
    std::erase_if(pieces, [](const Path& piece) { return piece.size() < 2; });
    return pieces;
}

nlohmann::json lineGeometry(const Path& path) {
    const std::vector<Path> pieces = cutPath(path);
    if (pieces.empty()) {
        return nullptr;
    }
    if (pieces.size() == 1) {
        return {{"type", "LineString"}, {"coordinates", pathJson(pieces[0])}};
    }
    nlohmann::json lines = nlohmann::json::array();
    for (const Path& piece : pieces) {
        lines.push_back(pathJson(piece));
    }
    return {{"type", "MultiLineString"}, {"coordinates", lines}};
}

double signedArea(const Path& ring) {
    double twiceArea = 0;
    for (size_t i = 0; i + 1 < ring.size(); ++i) {
        twiceArea += ring[i].first * ring[i + 1].second - ring[i + 1].first * ring[i].second;
    }
    return twiceArea / 2;
}

// The ring closed, counter-clockwise, as JSON; null below 3 distinct vertices.
nlohmann::json ringJson(Path ring) {
    ring.erase(std::unique(ring.begin(), ring.end()), ring.end());
    if (!ring.empty() && ring.front() != ring.back()) {
        ring.push_back(ring.front());
    }
    if (ring.size() < 4) {
        return nullptr;
    }
    if (signedArea(ring) < 0) {
        std::reverse(ring.begin(), ring.end());
    }
    return nlohmann::json::array({pathJson(ring)});
}

// The part of an (unwrapped) ring on one side of the meridian `edge` (Sutherland-Hodgman).
Path clipRing(const Path& ring, double edge, bool keepWest) {
    Path out;
    auto inside = [&](const Position& p) { return keepWest ? p.first <= edge : p.first >= edge; };
    for (size_t i = 0; i < ring.size(); ++i) {
        const Position& a = ring[i];
        const Position& b = ring[(i + 1) % ring.size()];
        if (inside(a)) {
            out.push_back(a);
        }
        if (inside(a) != inside(b)) {
            const double t = (edge - a.first) / (b.first - a.first);
            out.push_back({edge, a.second + t * (b.second - a.second)});
        }
    }
    return out;
}

// A ring around a pole: its vertices from just east of the antimeridian round to just west of
// it, then along the edges to the pole and back, so that it covers the cap.
Path poleRing(const Path& ring, double poleLatitude) {
    size_t start = 0;
    for (size_t i = 0; i < ring.size(); ++i) {
        if (crossesAntimeridian(ring[(i + ring.size() - 1) % ring.size()], ring[i])) {
            start = i;
        }
    }
    const Position& last = ring[(start + ring.size() - 1) % ring.size()];
    const Position cut = antimeridianCrossing(last, ring[start]);
    Path out{{-cut.first, cut.second}};
    for (size_t k = 0; k < ring.size(); ++k) {
        out.push_back(ring[(start + k) % ring.size()]);
    }
    out.insert(out.end(), {cut, {cut.first, poleLatitude}, {-cut.first, poleLatitude}});
    return out;
}

// An unwrapped ring that reaches past `edge` (+180 or -180): one polygon on each side of the
// antimeridian, the part beyond it moved back by 360 degrees.
nlohmann::json straddlingGeometry(const Path& unwrapped, double edge) {
    Path beyond = clipRing(unwrapped, edge, edge < 0);
    for (Position& p : beyond) {
        p.first -= std::copysign(360.0, edge);
    }
    nlohmann::json polygons = nlohmann::json::array();
    for (const nlohmann::json& part :
         {ringJson(clipRing(unwrapped, edge, edge > 0)), ringJson(beyond)}) {
        if (!part.is_null()) {
            polygons.push_back(part);
        }
    }
    if (polygons.empty()) {
        return nullptr;
    }
    if (polygons.size() == 1) {
        return {{"type", "Polygon"}, {"coordinates", polygons[0]}};
    }
    return {{"type", "MultiPolygon"}, {"coordinates", polygons}};
}

// How long the UTF-8 sequence a lead byte starts is; 0 for a byte that cannot lead.
size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead < 0xC2 || lead > 0xF4) {
        return 0;
    }
    return lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

}  // namespace

nlohmann::json pathGeometry(const std::vector<std::pair<double, double>>& latLon) {
    return lineGeometry(usablePath(latLon));
}

nlohmann::json geodesicLineGeometry(double latitudeDeg, double longitudeDeg, double bearingDeg,
                                    double rangeMiles) {
    const auto start = usable(latitudeDeg, longitudeDeg);
    if (!start || !std::isfinite(bearingDeg)) {
        return nullptr;
    }
    const double miles =
        std::isfinite(rangeMiles) ? std::clamp(rangeMiles, 0.0, kLongestLineMiles) : 0.0;
    const GeographicLib::GeodesicLine line = GeographicLib::Geodesic::WGS84().DirectLine(
        start->second, start->first, bearingDeg, miles * kMetresPerMile);
    std::vector<std::pair<double, double>> latLon;
    for (int i = 0; i <= kLineSegments; ++i) {
        double lat = 0, lon = 0;
        line.Position(line.Distance() * i / kLineSegments, lat, lon);
        latLon.emplace_back(lat, lon);
    }
    return pathGeometry(latLon);
}

nlohmann::json ringGeometry(const std::vector<std::pair<double, double>>& latLon) {
    Path ring = usablePath(latLon);
    if (ring.size() > 1 && ring.front() == ring.back()) {
        ring.pop_back();
    }
    if (ring.size() < 3) {
        return nullptr;
    }
    Path unwrapped{ring[0]};
    double meanLatitude = ring[0].second;
    for (size_t i = 1; i < ring.size(); ++i) {
        const double step = std::remainder(ring[i].first - ring[i - 1].first, 360.0);
        unwrapped.push_back({unwrapped.back().first + step, ring[i].second});
        meanLatitude += ring[i].second;
    }
    const double winding = unwrapped.back().first +
                           std::remainder(ring[0].first - ring.back().first, 360.0) - ring[0].first;
    if (std::abs(winding) > 180) {
        const nlohmann::json cap = ringJson(poleRing(ring, meanLatitude > 0 ? 90.0 : -90.0));
        return cap.is_null() ? cap : nlohmann::json{{"type", "Polygon"}, {"coordinates", cap}};
    }
    const auto [west, east] =
        std::minmax_element(unwrapped.begin(), unwrapped.end(),
                            [](const Position& a, const Position& b) { return a.first < b.first; });
    if (east->first > 180 || west->first < -180) {
        return straddlingGeometry(unwrapped, east->first > 180 ? 180.0 : -180.0);
    }
    const nlohmann::json rings = ringJson(ring);
    return rings.is_null() ? rings : nlohmann::json{{"type", "Polygon"}, {"coordinates", rings}};
}

namespace {

// The length of the well-formed UTF-8 sequence at `i` (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0.
size_t validSequenceAt(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) {
        return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
    };
    const unsigned char lead = byte(0);
    const size_t length = sequenceLength(lead);
    const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    bool valid = length > 0 && (length == 1 || (byte(1) >= low && byte(1) <= high));
    for (size_t k = 2; valid && k < length; ++k) {
        valid = byte(k) >= 0x80 && byte(k) <= 0xBF;
    }
    return valid ? length : 0;
}

// Control characters (but tab and newline) and the two that XML forbids are dropped.
bool isDropped(std::string_view sequence) {
    const auto lead = static_cast<unsigned char>(sequence[0]);
    return (sequence.size() == 1 && lead < 0x20 && lead != '\t' && lead != '\n') || lead == 0x7F ||
           sequence == "\xEF\xBF\xBE" || sequence == "\xEF\xBF\xBF";
}

}  // namespace

std::string cleanText(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const size_t length = validSequenceAt(text, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        const std::string_view sequence = text.substr(i, length);
        i += length;
        if (!isDropped(sequence)) {
            out += sequence;
        }
    }
    return out;
}

}  // namespace kestrel::live_map
