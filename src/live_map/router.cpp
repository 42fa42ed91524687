// The map server's routes: the Host and Origin a request must carry, then its target matched
// byte for byte against a fixed table (never decoded).

#include <array>
#include <cstdint>
#include <string>

#include "live_map/http_text.h"
#include "live_map/router.h"

namespace kestrel::live_map {

namespace {

using http::decimal;
using http::equalsIgnoreCase;
using http::isAlpha;
using http::isDigit;
using http::isLowerAlnum;
using http::trimmed;

constexpr std::array<LeafletFile, 7> kLeafletFiles{{
    {"leaflet.js", "text/javascript; charset=utf-8"},
    {"leaflet.css", "text/css; charset=utf-8"},
    {"images/layers.png", "image/png"},
    {"images/layers-2x.png", "image/png"},
    {"images/marker-icon.png", "image/png"},
    {"images/marker-icon-2x.png", "image/png"},
    {"images/marker-shadow.png", "image/png"},
}};

size_t headerCount(const RequestHead& head, std::string_view lowerName) {
    size_t n = 0;
    for (const auto& header : head.headers) {
        n += header.first == lowerName ? 1 : 0;
    }
    return n;
}

// "<name>:<port>" with one of the rule's names (any case) and exactly its port.
bool isOwnHost(std::string_view host, const HostRule& rule) {
    const std::string suffix = ":" + std::to_string(rule.port);
    if (host.size() <= suffix.size() || !host.ends_with(suffix)) {
        return false;
    }
    const std::string_view name = host.substr(0, host.size() - suffix.size());
    for (const std::string& own : rule.names) {
        if (equalsIgnoreCase(name, own)) {
            return true;
        }
    }
    return false;
}

// "<scheme>://<name>:<port>" exactly, as a browser writes this server's origin.
bool isOwnOrigin(std::string_view origin, const HostRule& rule) {
    const std::string scheme = rule.tls ? "https://" : "http://";
    const std::string suffix = ":" + std::to_string(rule.port);
    for (const std::string& own : rule.names) {
        if (origin == scheme + own + suffix) {
            return true;
        }
    }
    return false;
}

// A query may hold what a URL carries unescaped (unreserved, sub-delims, ":@/?") and '%'.
bool isQuery(std::string_view query) {
    for (const char c : query) {
        if (!isAlpha(c) && !isDigit(c) &&
            std::string_view("-._~!$&'()*+,;=:@/?%").find(c) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

bool isPrintablePath(std::string_view path) {
    for (const char c : path) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F) {
            return false;
        }
    }
    return true;
}

bool isLayerId(std::string_view id) {
    if (id.empty() || id.size() > 64) {
        return false;
    }
    for (const char c : id) {
        if (!isLowerAlnum(c) && c != '-') {
            return false;
        }
    }
    return true;
}

bool isStamp(std::string_view s) {
    if (s.size() != 13 || s[6] != '_') {
        return false;
    }
    for (size_t i = 0; i < s.size(); ++i) {
        if (i != 6 && !isDigit(s[i])) {
            return false;
        }
    }
    return true;
}

// A Sec-WebSocket-Key is 16 bytes in base64: 22 characters and "==".
bool isWebSocketKey(std::string_view key) {
    if (key.size() != 24 || !key.ends_with("==")) {
        return false;
    }
    for (const char c : key.substr(0, 22)) {
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '/') {
            return false;
        }
    }
    return true;
}

bool hasToken(std::string_view list, std::string_view token) {
    while (!list.empty()) {
        const size_t comma = list.find(',');
        if (equalsIgnoreCase(trimmed(list.substr(0, comma)), token)) {
            return true;
        }
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    return false;
}

Refusal refuse(int status, std::string reason) {
    return Refusal{status, std::move(reason)};
}

Route route(RouteKind kind, bool headOnly) {
    Route r;
    r.kind = kind;
    r.headOnly = headOnly;
    return r;
}

// What every request must carry, whatever its target: this server's Host once, its Origin
// when there is one, GET or HEAD without a body, or POST (whose rules are the review's).
std::optional<Refusal> checkRequest(const RequestHead& head, const HostRule& rule) {
    if (auto refusal = checkHostAndOrigin(head, rule)) {
        return refusal;
    }
    if (head.method != "GET" && head.method != "HEAD" && head.method != "POST") {
        return refuse(405, "only GET and HEAD");
    }
    const auto length = head.header("content-length");
    if (head.method != "POST" && (headerCount(head, "content-length") > 1 ||
                                  (length && *length != "0") || head.header("transfer-encoding"))) {
        return refuse(400, "no request body is accepted");
    }
    if (head.target.size() > kMaxTargetBytes) {
        return refuse(414, "target too long");
    }
    if (head.target.empty() || head.target.front() != '/') {
        return refuse(400, "not an origin-form target");
    }
    return std::nullopt;
}

Routed routeLive(const RequestHead& head, bool headOnly) {
    const auto upgrade = head.header("upgrade");
    const auto connection = head.header("connection");
    const auto version = head.header("sec-websocket-version");
    const auto key = head.header("sec-websocket-key");
    if (headOnly || !upgrade || !equalsIgnoreCase(*upgrade, "websocket") || !connection ||
        !hasToken(*connection, "upgrade") || version != "13" || !key || !isWebSocketKey(*key)) {
        return refuse(400, "not a WebSocket upgrade");
    }
    if (!head.header("origin")) {
        return refuse(403, "a WebSocket upgrade without an origin");
    }
    return route(RouteKind::LiveSocket, false);
}

Routed routeHunt(std::string_view rest, bool headOnly) {
    const size_t dot = rest.find('.');
    const std::string_view stamp = rest.substr(0, dot);
    const std::string_view ext = dot == std::string_view::npos ? "" : rest.substr(dot);
    if (!isStamp(stamp) || (ext != ".geojson" && ext != ".gpx")) {
        return refuse(404, "no such hunt");
    }
    Route r = route(ext == ".gpx" ? RouteKind::PastHuntGpx : RouteKind::PastHuntGeoJson, headOnly);
    r.stamp = stamp;
    return r;
}

Routed routeTile(std::string_view rest, bool headOnly) {
    std::array<std::string_view, 4> parts;
    for (size_t i = 0; i < parts.size(); ++i) {
        const size_t slash = rest.find('/');
        if ((slash == std::string_view::npos) != (i == parts.size() - 1)) {
            return refuse(404, "no such tile");
        }
        parts[i] = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    }
    const auto z = decimal(parts[1], kMaxZoom);
    if (!isLayerId(parts[0]) || !z) {
        return refuse(404, "no such tile");
    }
    const int last = static_cast<int>((int64_t{1} << *z) - 1);
    const auto x = decimal(parts[2], last);
    const auto y = decimal(parts[3], last);
    if (!x || !y) {
        return refuse(404, "no such tile");
    }
    Route r = route(RouteKind::Tile, headOnly);
    r.name = parts[0];
    r.z = *z;
    r.x = *x;
    r.y = *y;
    return r;
}

// POST /plots/<row>: only from the own page (its Origin, the token the snapshot gave it) with
// a small JSON body of a stated length; the server compares the token and reads the body.
Routed routeReview(const RequestHead& head, std::string_view rest) {
    const auto row = decimal(rest, kMaxPlotRow);
    if (!row || *row < 1) {
        return refuse(404, "no such plot");
    }
    const auto token = head.header("x-kestrelmap-token");
    if (!head.header("origin") || headerCount(head, "x-kestrelmap-token") != 1 || token->empty()) {
        return refuse(403, "a change needs this server's page and its token");
    }
    const auto type = head.header("content-type");
    if (!type || !(equalsIgnoreCase(*type, "application/json") ||
                   equalsIgnoreCase(type->substr(0, 17), "application/json;"))) {
        return refuse(415, "the body must be JSON");
    }
    const auto length = head.header("content-length");
    if (head.header("transfer-encoding") || headerCount(head, "content-length") != 1) {
        return refuse(411, "the body needs one Content-Length");
    }
    const auto bytes = decimal(*length, 999999999);
    if (!bytes || *bytes < 1) {
        return refuse(400, "no body");
    }
    if (static_cast<size_t>(*bytes) > kMaxActionBytes) {
        return refuse(413, "the body is too large");
    }
    Route r = route(RouteKind::PlotReview, false);
    r.row = *row;
    r.token = *token;
    r.bodyLength = static_cast<size_t>(*bytes);
    return r;
}

Routed routePath(const RequestHead& head, std::string_view path, bool headOnly) {
    if (head.method == "POST") {
        return path.starts_with("/plots/") ? routeReview(head, path.substr(7))
                                           : refuse(405, "only GET and HEAD");
    }
    if (path == "/map.js" || path == "/review.js") {
        Route r = route(RouteKind::Script, headOnly);
        r.name = path.substr(1);
        return r;
    }
    static constexpr std::array<std::pair<std::string_view, RouteKind>, 5> kFixed{{
        {"/", RouteKind::Page},
        {"/map.css", RouteKind::Style},
        {"/hunt.geojson", RouteKind::HuntSnapshot},
        {"/hunts", RouteKind::HuntList},
        {"/layers", RouteKind::Layers},
    }};
    for (const auto& [fixed, kind] : kFixed) {
        if (path == fixed) {
            return route(kind, headOnly);
        }
    }
    if (path == "/live") {
        return routeLive(head, headOnly);
    }
    if (path.starts_with("/leaflet/")) {
        const std::string_view name = path.substr(9);
        for (const LeafletFile& file : kLeafletFiles) {
            if (name == file.name) {
                Route r = route(RouteKind::LeafletFile, headOnly);
                r.name = file.name;
                return r;
            }
        }
    } else if (path.starts_with("/hunts/")) {
        return routeHunt(path.substr(7), headOnly);
    } else if (path.starts_with("/tiles/")) {
        return routeTile(path.substr(7), headOnly);
    }
    return refuse(404, "no such path");
}

}  // namespace

HostRule loopbackHosts(uint16_t port) {
    return HostRule{port, {"127.0.0.1", "localhost", "[::1]"}, false};
}

std::optional<Refusal> checkHostAndOrigin(const RequestHead& head, const HostRule& rule) {
    const auto host = head.header("host");
    if (headerCount(head, "host") != 1 || !isOwnHost(*host, rule)) {
        return refuse(403, "not this server's host");
    }
    const auto origin = head.header("origin");
    if (headerCount(head, "origin") > 1 || (origin && !isOwnOrigin(*origin, rule))) {
        return refuse(403, "not this server's origin");
    }
    return std::nullopt;
}

Routed routeRequest(const RequestHead& head, uint16_t port) {
    return routeRequest(head, loopbackHosts(port));
}

Routed routeRequest(const RequestHead& head, const HostRule& rule) {
    if (auto refusal = checkRequest(head, rule)) {
        return *std::move(refusal);
    }
    const bool headOnly = head.method == "HEAD";
    const std::string_view target = head.target;
    const size_t question = target.find('?');
    const std::string_view path = target.substr(0, question);
    if (question != std::string_view::npos && !isQuery(target.substr(question + 1))) {
        return refuse(400, "a query with a byte a URL does not hold");
    }
    if (!isPrintablePath(path)) {
        return refuse(400, "a path with a byte outside printable ASCII");
    }
    if (path.find_first_of("%\\") != std::string_view::npos ||
        path.find("..") != std::string_view::npos || path.find("//") != std::string_view::npos) {
        return refuse(404, "no such path");
    }
    return routePath(head, path, headOnly);
}

std::span<const LeafletFile> leafletFiles() {
    return kLeafletFiles;
}

}  // namespace kestrel::live_map
