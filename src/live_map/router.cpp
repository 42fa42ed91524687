// The map server's routes: the Host and Origin a request must carry, then its target matched
// byte for byte against a fixed table (never decoded), and the answers' text.

#include <array>
#include <cstdint>
#include <string>

#include "live_map/router.h"

namespace kestrel::live_map {

namespace {

constexpr std::array<LeafletFile, 7> kLeafletFiles{{
    {"leaflet.js", "text/javascript; charset=utf-8"},
    {"leaflet.css", "text/css; charset=utf-8"},
    {"images/layers.png", "image/png"},
    {"images/layers-2x.png", "image/png"},
    {"images/marker-icon.png", "image/png"},
    {"images/marker-icon-2x.png", "image/png"},
    {"images/marker-shadow.png", "image/png"},
}};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLowerAlnum(char c) {
    return (c >= 'a' && c <= 'z') || isDigit(c);
}
bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char lowerChar(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (lowerChar(a[i]) != lowerChar(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

size_t headerCount(const RequestHead& head, std::string_view lowerName) {
    size_t n = 0;
    for (const auto& header : head.headers) {
        n += header.first == lowerName ? 1 : 0;
    }
    return n;
}

constexpr std::array<std::string_view, 3> kOwnHostNames{"127.0.0.1", "localhost", "[::1]"};

// "<name>:<port>" with one of the loopback names (any case) and exactly this port.
bool isOwnHost(std::string_view host, uint16_t port) {
    const std::string suffix = ":" + std::to_string(port);
    if (host.size() <= suffix.size() || !host.ends_with(suffix)) {
        return false;
    }
    const std::string_view name = host.substr(0, host.size() - suffix.size());
    for (const std::string_view own : kOwnHostNames) {
        if (equalsIgnoreCase(name, own)) {
            return true;
        }
    }
    return false;
}

// "http://<name>:<port>" exactly, as a browser writes this server's origin.
bool isOwnOrigin(std::string_view origin, uint16_t port) {
    for (const std::string_view own : kOwnHostNames) {
        if (origin == "http://" + std::string(own) + ":" + std::to_string(port)) {
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

// A plain decimal integer from 0 to `max`: no sign, no leading zero (but "0"), no overflow.
std::optional<int> decimal(std::string_view s, int max) {
    if (s.empty() || s.size() > 9 || (s.size() > 1 && s[0] == '0')) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : s) {
        if (!isDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value > max) {
        return std::nullopt;
    }
    return value;
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
// when there is one, GET or HEAD, no body.
std::optional<Refusal> checkRequest(const RequestHead& head, uint16_t port) {
    const auto host = head.header("host");
    if (headerCount(head, "host") != 1 || !isOwnHost(*host, port)) {
        return refuse(403, "not this server's host");
    }
    const auto origin = head.header("origin");
    if (headerCount(head, "origin") > 1 || (origin && !isOwnOrigin(*origin, port))) {
        return refuse(403, "not this server's origin");
    }
    if (head.method != "GET" && head.method != "HEAD") {
        return refuse(405, "only GET and HEAD");
    }
    const auto length = head.header("content-length");
    if (headerCount(head, "content-length") > 1 || (length && *length != "0") ||
        head.header("transfer-encoding")) {
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

Routed routePath(const RequestHead& head, std::string_view path, bool headOnly) {
    static constexpr std::array<std::pair<std::string_view, RouteKind>, 6> kFixed{{
        {"/", RouteKind::Page},
        {"/map.js", RouteKind::Script},
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

std::string_view reasonPhrase(int status) {
    static constexpr std::array<std::pair<int, std::string_view>, 23> kPhrases{{
        {101, "Switching Protocols"},
        {200, "OK"},
        {204, "No Content"},
        {206, "Partial Content"},
        {301, "Moved Permanently"},
        {302, "Found"},
        {304, "Not Modified"},
        {400, "Bad Request"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {408, "Request Timeout"},
        {413, "Content Too Large"},
        {414, "URI Too Long"},
        {416, "Range Not Satisfiable"},
        {429, "Too Many Requests"},
        {431, "Request Header Fields Too Large"},
        {500, "Internal Server Error"},
        {501, "Not Implemented"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway Timeout"},
        {505, "HTTP Version Not Supported"},
    }};
    for (const auto& [code, phrase] : kPhrases) {
        if (code == status) {
            return phrase;
        }
    }
    return "";
}

bool isHeaderName(std::string_view name) {
    if (name.empty()) {
        return false;
    }
    for (const char c : name) {
        if (!isAlpha(c) && !isDigit(c) &&
            std::string_view("!#$%&'*+-.^_`|~").find(c) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

// No control character but tab in a value: a CR or LF would end the header (or the head).
bool isHeaderValue(std::string_view value) {
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7F) {
            return false;
        }
    }
    return true;
}

// What a CSP source may hold of an origin: scheme, host (IPv6 in brackets), '*.', port.
bool isSafeOrigin(std::string_view origin) {
    for (const char c : origin) {
        if (!isAlpha(c) && !isDigit(c) &&
            std::string_view(".:/*-[]").find(c) == std::string_view::npos) {
            return false;
        }
    }
    return !origin.empty();
}

bool isHostLabels(std::string_view host) {
    if (host.empty() || host.size() > 253) {
        return false;
    }
    size_t label = 0;
    for (const char c : host) {
        if (c == '.') {
            if (label == 0) {
                return false;
            }
            label = 0;
        } else if (isLowerAlnum(c) || c == '-') {
            ++label;
        } else {
            return false;
        }
    }
    return label > 0;
}

bool isBracketHost(std::string_view host) {
    if (host.size() < 4 || host.size() > 47 || host.front() != '[' || host.back() != ']') {
        return false;
    }
    for (const char c : host.substr(1, host.size() - 2)) {
        if (!isDigit(c) && !(c >= 'a' && c <= 'f') && c != ':' && c != '.') {
            return false;
        }
    }
    return true;
}

bool isPort(std::string_view port) {
    const auto value = decimal(port, 65535);
    return value && *value > 0;
}

}  // namespace

Routed routeRequest(const RequestHead& head, uint16_t port) {
    if (auto refusal = checkRequest(head, port)) {
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

std::vector<std::pair<std::string, std::string>> securityHeaders(std::string_view imageOrigin) {
    std::string images = "img-src 'self' data:";
    if (isSafeOrigin(imageOrigin)) {
        images += " " + std::string(imageOrigin);
    }
    return {
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; " + images +
             "; connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        {"Cross-Origin-Resource-Policy", "same-origin"},
    };
}

std::string templateOrigin(std::string_view urlTemplate) {
    const size_t schemeEnd = urlTemplate.find("://");
    if (schemeEnd == std::string_view::npos) {
        return "";
    }
    std::string scheme(urlTemplate.substr(0, schemeEnd));
    for (char& c : scheme) {
        c = lowerChar(c);
    }
    if (scheme != "http" && scheme != "https") {
        return "";
    }
    const std::string_view rest = urlTemplate.substr(schemeEnd + 3);
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    const size_t colon =
        authority.starts_with('[') ? authority.find(':', authority.find(']')) : authority.find(':');
    std::string host(authority.substr(0, colon));
    for (char& c : host) {
        c = lowerChar(c);
    }
    std::string wildcard;
    if (host.starts_with("{s}.")) {
        wildcard = "*.";
        host.erase(0, 4);
    }
    const bool hostOk = isHostLabels(host) || (wildcard.empty() && isBracketHost(host));
    const std::string_view port =
        colon == std::string_view::npos ? std::string_view() : authority.substr(colon + 1);
    if (!hostOk || (colon != std::string_view::npos && !isPort(port))) {
        return "";
    }
    std::string origin = scheme + "://" + wildcard + host;
    if (colon != std::string_view::npos) {
        origin += ":" + std::string(port);
    }
    return origin;
}

std::string answerText(const Answer& answer, bool headOnly, bool keepAlive,
                       std::string_view imageOrigin) {
    const int status = answer.status >= 100 && answer.status <= 599 ? answer.status : 500;
    const bool informational = status < 200;
    const bool bodyless = informational || status == 204 || status == 304;
    std::string text =
        "HTTP/1.1 " + std::to_string(status) + " " + std::string(reasonPhrase(status)) + "\r\n";
    const auto put = [&text](std::string_view name, std::string_view value) {
        if (isHeaderName(name) && isHeaderValue(value)) {
            text.append(name).append(": ").append(value).append("\r\n");
        }
    };
    for (const auto& [name, value] : securityHeaders(imageOrigin)) {
        put(name, value);
    }
    if (!answer.contentType.empty()) {
        put("Content-Type", answer.contentType);
    }
    if (!informational && status != 204) {
        put("Content-Length", std::to_string(answer.body.size()));
    }
    bool ownConnection = false;
    for (const auto& [name, value] : answer.extraHeaders) {
        ownConnection = ownConnection || equalsIgnoreCase(name, "connection");
    }
    if (!ownConnection) {
        put("Connection", keepAlive ? "keep-alive" : "close");
    }
    for (const auto& [name, value] : answer.extraHeaders) {
        if (!equalsIgnoreCase(name, "content-length") &&
            !equalsIgnoreCase(name, "transfer-encoding")) {
            put(name, value);
        }
    }
    text += "\r\n";
    if (!headOnly && !bodyless) {
        text += answer.body;
    }
    return text;
}

Answer refusalAnswer(const Refusal& refusal) {
    Answer answer;
    answer.status = refusal.status;
    answer.contentType = "text/plain; charset=utf-8";
    answer.body = refusal.reason + "\n";
    return answer;
}

}  // namespace kestrel::live_map
