#pragma once
// The map server's rules for a request, without a socket: the request head as it arrives
// (refused past 8 KiB), then a fixed table of routes. Nothing of the URL ever becomes a file
// path: layers are names looked up later in the list of layers, hunts stamps of a fixed form,
// tiles three integers in range, Leaflet's files entries of a fixed table. It refuses rather
// than guesses, and owns no state.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace kestrel::live_map {

inline constexpr size_t kMaxHeadBytes = 8192;    // request line and headers together
inline constexpr size_t kMaxTargetBytes = 2048;  // the request target alone
inline constexpr int kHeadTimeoutMs = 10000;     // a head must be complete within this
inline constexpr int kIdleTimeoutMs = 30000;     // an idle keep-alive connection closes
inline constexpr int kMaxZoom = 24;
inline constexpr size_t kMaxActionBytes = 1024;  // the body of a plot's review
inline constexpr int kMaxPlotRow = 1000000;

struct RequestHead {
    std::string method;                                        // as sent, case kept
    std::string target;                                        // as sent
    std::string version;                                       // "HTTP/1.1" or "HTTP/1.0"
    std::vector<std::pair<std::string, std::string>> headers;  // names lower case, values trimmed
    // The value of the first header of that (lower-case) name.
    std::optional<std::string_view> header(std::string_view lowerName) const;
};

enum class HeadState { Incomplete, Complete, TooLarge, Malformed };
struct HeadParse {
    HeadState state = HeadState::Incomplete;
    size_t length = 0;  // Complete: bytes of the head, through its empty line
    RequestHead head;
};
// `received` holds the bytes of one connection from the start of a request on.
// Lines end in CRLF or a lone LF. Only the first kMaxHeadBytes are looked at: a head not
// complete within them is TooLarge once more bytes arrived. A line is checked as soon as its
// end is there (and the line still arriving for control bytes), so Malformed may come before
// the head is complete. Bytes after the head (a next request) are not looked at.
HeadParse parseRequestHead(std::string_view received);

enum class RouteKind {
    Page,             // "/"
    Script,           // "/map.js", "/review.js"
    Style,            // "/map.css"
    LeafletFile,      // "/leaflet/<fixed name>"
    HuntSnapshot,     // "/hunt.geojson"
    HuntList,         // "/hunts"
    PastHuntGeoJson,  // "/hunts/<stamp>.geojson"
    PastHuntGpx,      // "/hunts/<stamp>.gpx"
    Layers,           // "/layers"
    Tile,             // "/tiles/<layer>/<z>/<x>/<y>"
    LiveSocket,       // "/live", a WebSocket upgrade from this server's own origin
    PlotReview,       // POST "/plots/<row>" from this server's own page: leave out, a note
};

struct Route {
    RouteKind kind = RouteKind::Page;
    bool headOnly = false;  // HEAD: the answer without its body
    std::string name;       // Script and LeafletFile: the file's name; Tile: the layer's id
    std::string stamp;      // PastHunt*: MMDDYY_HHMMSS
    int z = 0, x = 0, y = 0;
    int row = 0;            // PlotReview: the plot log's data row, from 1
    std::string token;      // PlotReview: X-Kestrelmap-Token, for the server to compare
    size_t bodyLength = 0;  // PlotReview: Content-Length, at most kMaxActionBytes
};

struct Refusal {
    int status = 400;
    std::string reason;  // a few words for the body and the log
};

using Routed = std::variant<Route, Refusal>;

// The names a request may give in its Host (and Origin) with the server's port: the loopback
// names, and where the map is shared the machine's own host name and addresses (lower case,
// IPv6 in brackets). `tls`: the origin's scheme is https.
struct HostRule {
    uint16_t port = 0;
    std::vector<std::string> names;
    bool tls = false;
};
// 127.0.0.1, localhost and [::1] with `port`, plain http.
HostRule loopbackHosts(uint16_t port);

// Exactly one Host, "<name>:<port>" with one of the rule's names (any case), else 403; an
// Origin, when sent (once), "<scheme>://<name>:<port>" exactly (lower case, as browsers write
// it; "null" refused), else 403.
std::optional<Refusal> checkHostAndOrigin(const RequestHead& head, const HostRule& rule);

// In this order: the Host and Origin as checkHostAndOrigin; GET or HEAD (case kept), else 405; a
// Content-Length other than one "0", or any Transfer-Encoding, 400; a target over
// kMaxTargetBytes 414; not origin-form 400; a query (after the first '?', ignored) with a byte
// outside unreserved, sub-delims, ":@/?%" 400; a path byte outside 0x21-0x7E 400; '%', "..",
// "//" or '\' in the path 404; then the table, else 404. Tiles take no extension
// ("/tiles/osm/3/1/2.png" is 404: the layer list's URLs have none). "/live" needs GET with
// Upgrade: websocket, a Connection token "upgrade", Sec-WebSocket-Version 13 and a
// Sec-WebSocket-Key of 24 base64 characters ending "==" (else 400, HEAD included), then an
// Origin (else 403). Refusals are 400, 403, 404, 405 or 414; 431 (a head past kMaxHeadBytes) is
// the shell's, which closes a head not complete in time without an answer.
Routed routeRequest(const RequestHead& head, const HostRule& rule);
// The same for loopback only.
Routed routeRequest(const RequestHead& head, uint16_t port);

// Leaflet's files as Debian installs them, the only ones served from its folder.
struct LeafletFile {
    std::string_view name;         // as in the route, "leaflet.js", "images/layers.png", ...
    std::string_view contentType;  // "text/javascript; charset=utf-8", "image/png", ...
};
std::span<const LeafletFile> leafletFiles();
inline constexpr std::string_view kLeafletFolder = "/usr/share/javascript/leaflet/";

// The headers every answer carries: the content security policy (scripts, styles and
// connections from this server only, images also from `imageOrigin` when not empty),
// nosniff, no framing, no referrer.
std::vector<std::pair<std::string, std::string>> securityHeaders(std::string_view imageOrigin);

// The origin of an URL template ("https://{s}.tile.example.org/{z}/{x}/{y}.png" gives
// "https://*.tile.example.org"); empty when it is not an http or https URL.
std::string templateOrigin(std::string_view urlTemplate);

// One whole HTTP/1.1 answer: status line, the security headers, Content-Type, Content-Length,
// Connection, the extra headers, and the body unless `headOnly`.
// A header whose name is not a token or whose value holds a control character other than tab
// (CR, LF, NUL) is left out. An extra Connection header replaces the one from `keepAlive`
// (e.g. "Upgrade" on a 101); extra Content-Length and Transfer-Encoding headers are left out
// (the length is the body's). 1xx and 204 carry no Content-Length; 1xx, 204 and 304 no body. A
// status outside 100-599 is written as 500; one without a standard phrase has an empty one.
// `imageOrigin` goes into the policy only when it holds nothing but letters, digits and
// ".:/*-[]" (templateOrigin's results do).
struct Answer {
    int status = 200;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> extraHeaders;  // e.g. Cache-Control
    // Instead of `body`: a prepared document the responder keeps until the answer is written
    // (a big one is then copied once, into the socket).
    std::string_view sharedBody;
    std::string_view bodyText() const { return sharedBody.data() ? sharedBody : body; }
};
std::string answerText(const Answer& answer, bool headOnly, bool keepAlive,
                       std::string_view imageOrigin);
// The same without the body: everything up to and with the empty line.
std::string answerHead(const Answer& answer, bool keepAlive, std::string_view imageOrigin);

// The answer to a refusal: its status and reason as plain text.
Answer refusalAnswer(const Refusal& refusal);

}  // namespace kestrel::live_map
