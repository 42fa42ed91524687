#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "live_map/connection_limits.h"
#include "live_map/router.h"

namespace kestrel::live_map {
namespace {

using namespace std::string_literals;
using Headers = std::vector<std::pair<std::string, std::string>>;
using K = RouteKind;

Headers plus(Headers base, const Headers& more) {
    base.insert(base.end(), more.begin(), more.end());
    return base;
}

const Headers H{{"host", "127.0.0.1:8421"}};
const Headers WS_NO_ORIGIN = plus(H, {{"upgrade", "websocket"},
                                      {"connection", "Upgrade"},
                                      {"sec-websocket-version", "13"},
                                      {"sec-websocket-key", "dGhlIHNhbXBsZSBub25jZQ=="}});
const Headers WS = plus(WS_NO_ORIGIN, {{"origin", "http://127.0.0.1:8421"}});
const Headers REVIEW_NO_ORIGIN =
    plus(H, {{"x-kestrelmap-token", "0123abcd"}, {"content-type", "application/json"}});
const Headers REVIEW = plus(REVIEW_NO_ORIGIN, {{"origin", "http://127.0.0.1:8421"}});

struct RouteCase {
    RouteCase(std::string m, std::string t, Headers h, int s, K k = K::Page, std::string d = "")
        : method(std::move(m)),
          target(std::move(t)),
          headers(std::move(h)),
          status(s),
          kind(k),
          detail(std::move(d)) {}
    std::string method, target;
    Headers headers;
    int status;  // 200: a route of `kind`, whose name or stamp is `detail`
    K kind;
    std::string detail;
};

struct HeadCase {
    HeadCase(std::string b, HeadState s, size_t n = 0) : bytes(std::move(b)), state(s), length(n) {}
    std::string bytes;
    HeadState state;
    size_t length;
};

TEST(MapRouter, RoutesAndRefusals) {
    const RouteCase cases[] = {
        {"GET", "/", H, 200, K::Page},
        {"HEAD", "/", H, 200, K::Page},
        {"GET", "/map.js", H, 200, K::Script, "map.js"},
        {"GET", "/review.js", H, 200, K::Script, "review.js"},
        {"GET", "/map.css", H, 200, K::Style},
        {"GET", "/hunt.geojson", H, 200, K::HuntSnapshot},
        {"GET", "/hunts", H, 200, K::HuntList},
        {"GET", "/layers", H, 200, K::Layers},
        {"GET", "/leaflet/leaflet.js", H, 200, K::LeafletFile, "leaflet.js"},
        {"HEAD", "/leaflet/images/marker-icon-2x.png", H, 200, K::LeafletFile,
         "images/marker-icon-2x.png"},
        {"GET", "/hunts/123456_123456.gpx", H, 200, K::PastHuntGpx, "123456_123456"},
        {"GET", "/hunts/120826_142107.geojson", H, 200, K::PastHuntGeoJson, "120826_142107"},
        {"GET", "/tiles/osm-local/0/0/0", H, 200, K::Tile, "osm-local"},
        {"GET", "/tiles/" + std::string(64, 'a') + "/1/1/1", H, 200, K::Tile, std::string(64, 'a')},
        {"GET", "/tiles/a/24/16777215/16777215", H, 200, K::Tile, "a"},
        {"GET", "/map.js?v=3&x=%2e%2e/../..", H, 200, K::Script, "map.js"},  // query ignored
        {"GET", "/", {{"host", "LOCALHOST:8421"}}, 200, K::Page},
        {"GET", "/", {{"host", "[::1]:8421"}}, 200, K::Page},
        {"GET", "/", plus(H, {{"origin", "http://localhost:8421"}}), 200, K::Page},
        {"GET", "/", plus(H, {{"content-length", "0"}}), 200, K::Page},
        {"GET", "/live", WS, 200, K::LiveSocket},
        {"GET", "/live",
         plus(H, {{"upgrade", "WebSocket"},
                  {"connection", "keep-alive, Upgrade"},
                  {"sec-websocket-version", "13"},
                  {"sec-websocket-key", "AAAAAAAAAAAAAAAAAAAAAA=="},
                  {"origin", "http://[::1]:8421"}}),
         200, K::LiveSocket},
        // Host: exactly one, loopback, this port (DNS rebinding).
        {"GET", "/", {}, 403},
        {"GET", "/", plus(H, H), 403},
        {"GET", "/", {{"host", "127.0.0.1:8422"}}, 403},
        {"GET", "/", {{"host", "127.0.0.1"}}, 403},
        {"GET", "/", {{"host", "localhost:08421"}}, 403},
        {"GET", "/", {{"host", "evil.example:8421"}}, 403},
        {"GET", "/", {{"host", "127.0.0.1.evil.example:8421"}}, 403},
        {"GET", "/", {{"host", "localhost.:8421"}}, 403},
        {"GET", "/", {{"host", ""}}, 403},
        {"GET", "/", {{"host", "127.0.0.1:8421, evil.example:8421"}}, 403},
        // Origin, when present, this server's.
        {"GET", "/", plus(H, {{"origin", "http://evil.example"}}), 403},
        {"GET", "/", plus(H, {{"origin", "null"}}), 403},
        {"GET", "/map.js", plus(H, {{"origin", "http://localhost:8422"}}), 403},
        {"GET", "/", plus(H, {{"origin", "https://localhost:8421"}}), 403},
        {"GET", "/", plus(H, {{"origin", "http://localhost:8421/"}}), 403},
        {"GET", "/", plus(H, {{"origin", "http://localhost:8421"}, {"origin", "null"}}), 403},
        // Methods, bodies, the target's form.
        {"POST", "/", H, 405},
        {"PUT", "/hunts", H, 405},
        {"DELETE", "/hunts/123456_123456.gpx", H, 405},
        {"OPTIONS", "*", H, 405},
        {"TRACE", "/", H, 405},
        {"CONNECT", "127.0.0.1:8421", H, 405},
        {"get", "/", H, 405},
        {"GET", "/", plus(H, {{"content-length", "5"}}), 400},
        {"GET", "/", plus(H, {{"transfer-encoding", "chunked"}}), 400},
        {"GET", "/" + std::string(kMaxTargetBytes, 'a'), H, 414},
        {"GET", "/" + std::string(kMaxTargetBytes - 1, 'a'), H, 404},
        {"GET", "http://127.0.0.1:8421/", H, 400},
        {"GET", "*", H, 400},
        {"GET", "/?<script>", H, 400},
        {"GET", "/?a\x01", H, 400},
        // Traversal and encodings in every form of route: never decoded, never a route.
        {"GET", "/..", H, 404},
        {"GET", "//map.js", H, 404},
        {"GET", "/map.js/", H, 404},
        {"GET", "/MAP.JS", H, 404},
        {"GET", "/map.js\\", H, 404},
        {"GET", "/%2e%2e/map.js", H, 404},
        {"GET", "/leaflet/../../etc/passwd", H, 404},
        {"GET", "/leaflet/images/../leaflet.js", H, 404},
        {"GET", "/leaflet/%2e%2e/%2e%2e/etc/passwd", H, 404},
        {"GET", "/leaflet/%252e%252e/%252e%252e/etc/passwd", H, 404},
        {"GET", "/leaflet/leaflet.js%00", H, 404},
        {"GET", "/leaflet/leaflet.js\0"s, H, 400},
        {"GET", "/leaflet//leaflet.js", H, 404},
        {"GET", "/leaflet/images\\layers.png", H, 404},
        {"GET", "/leaflet/leaflet.min.js", H, 404},
        {"GET", "/leaflet/Leaflet.js", H, 404},
        {"GET", "/leaflet/", H, 404},
        {"GET", "/hunts/../x.gpx", H, 404},
        {"GET", "/hunts/%2e%2e/123456_123456.gpx", H, 404},
        {"GET", "/hunts/12345_123456.gpx", H, 404},
        {"GET", "/hunts/123456_12345a.gpx", H, 404},
        {"GET", "/hunts/123456_123456.kml", H, 404},
        {"GET", "/hunts/123456_123456.gpx.gpx", H, 404},
        {"GET", "/hunts/123456_123456.gpx%00", H, 404},
        {"GET", "/hunts/", H, 404},
        {"GET", "/tiles/../0/0/0", H, 404},
        {"GET", "/tiles/osm/%31/0/0", H, 404},
        {"GET", "/tiles/osm//0/0", H, 404},
        {"GET", "/tiles/osm/0/0", H, 404},
        {"GET", "/tiles/osm/0/0/0/", H, 404},
        {"GET", "/tiles/osm/0/0/0/0", H, 404},
        {"GET", "/tiles/OSM/0/0/0", H, 404},
        {"GET", "/tiles/" + std::string(65, 'a') + "/0/0/0", H, 404},
        {"GET", "/tiles/osm/25/0/0", H, 404},
        {"GET", "/tiles/osm/1/2/0", H, 404},
        {"GET", "/tiles/osm/1/1/2", H, 404},
        {"GET", "/tiles/osm/-1/0/0", H, 404},
        {"GET", "/tiles/osm/3/+1/0", H, 404},
        {"GET", "/tiles/osm/01/0/0", H, 404},
        {"GET", "/tiles/osm/3/00/0", H, 404},
        {"GET", "/tiles/osm/24/4294967297/0", H, 404},
        {"GET", "/tiles/osm/24/0/99999999999999999999", H, 404},
        {"GET", "/tiles/osm/3/1/1.png", H, 404},  // no extension: the page's URLs have none
        {"GET", "/tiles/osm/3/ 1/0", H, 400},
        {"GET", "/\xC3\xA9", H, 400},
        // A plot's review: POST from this server's own page, its token, a small JSON body.
        {"POST", "/plots/3", plus(REVIEW, {{"content-length", "17"}}), 200, K::PlotReview},
        {"POST", "/plots/3",
         plus(REVIEW_NO_ORIGIN, {{"origin", "http://localhost:8421"},
                                 {"content-type", "application/json; charset=utf-8"},
                                 {"content-length", "1024"}}),
         200, K::PlotReview},
        {"POST", "/plots/3", plus(REVIEW_NO_ORIGIN, {{"content-length", "17"}}), 403},
        {"POST", "/plots/3",
         plus(REVIEW_NO_ORIGIN, {{"origin", "http://evil.example"}, {"content-length", "17"}}),
         403},
        {"POST", "/plots/3",
         plus(H, {{"origin", "http://127.0.0.1:8421"},
                  {"content-type", "application/json"},
                  {"content-length", "17"}}),
         403},  // no token
        {"POST", "/plots/3",
         plus(H, {{"origin", "http://127.0.0.1:8421"},
                  {"x-kestrelmap-token", "0123abcd"},
                  {"content-type", "text/plain"},
                  {"content-length", "17"}}),
         415},  // what a form of another site could send
        {"POST", "/plots/3", REVIEW, 411},
        {"POST", "/plots/3", plus(REVIEW, {{"transfer-encoding", "chunked"}}), 411},
        {"POST", "/plots/3", plus(REVIEW, {{"content-length", "1025"}}), 413},
        {"POST", "/plots/3", plus(REVIEW, {{"content-length", "0"}}), 400},
        {"POST", "/plots/0", plus(REVIEW, {{"content-length", "17"}}), 404},
        {"POST", "/plots/03", plus(REVIEW, {{"content-length", "17"}}), 404},
        {"POST", "/plots/1000001", plus(REVIEW, {{"content-length", "17"}}), 404},
        {"POST", "/plots/3/", plus(REVIEW, {{"content-length", "17"}}), 404},
        {"POST", "/plots/../3", plus(REVIEW, {{"content-length", "17"}}), 404},
        {"GET", "/plots/3", H, 404},
        {"POST", "/hunt.geojson", plus(REVIEW, {{"content-length", "17"}}), 405},
        // The live socket: an upgrade, from this server's own page only.
        {"GET", "/live", H, 400},
        {"GET", "/live", plus(H, {{"origin", "http://127.0.0.1:8421"}}), 400},
        {"HEAD", "/live", WS, 400},
        {"GET", "/live", plus(WS_NO_ORIGIN, {{"origin", "http://evil.example:8421"}}), 403},
        {"GET", "/live", WS_NO_ORIGIN, 403},
        {"GET", "/live", plus(WS_NO_ORIGIN, {{"origin", "null"}}), 403},
        {"GET", "/live", {WS.begin(), WS.end() - 2}, 400},      // no key
        {"GET", "/live?x", {WS.begin(), WS.begin() + 3}, 400},  // no version
    };
    for (const auto& c : cases) {
        const RequestHead head{c.method, c.target, "HTTP/1.1", c.headers};
        const Routed routed = routeRequest(head, 8421);
        const std::string what = c.method + " " + c.target;
        if (c.status == 200) {
            const Route* r = std::get_if<Route>(&routed);
            ASSERT_NE(r, nullptr) << what << ": " << std::get<Refusal>(routed).reason;
            EXPECT_EQ(r->kind, c.kind) << what;
            EXPECT_EQ(r->name + r->stamp, c.detail) << what;
            EXPECT_EQ(r->headOnly, c.method == "HEAD") << what;
            if (r->kind == K::PlotReview) {
                EXPECT_EQ(r->row, 3) << what;
                EXPECT_EQ(r->token, "0123abcd") << what;
            }
        } else {
            const Refusal* refusal = std::get_if<Refusal>(&routed);
            ASSERT_NE(refusal, nullptr) << what;
            EXPECT_EQ(refusal->status, c.status) << what << ": " << refusal->reason;
            EXPECT_FALSE(refusal->reason.empty()) << what;
        }
    }
    const Route tile =
        std::get<Route>(routeRequest({"GET", "/tiles/t/5/31/7", "HTTP/1.0", H}, 8421));
    EXPECT_EQ(std::vector<int>({tile.z, tile.x, tile.y}), std::vector<int>({5, 31, 7}));
}

// Shared on the network: the machine's own names with the port, the scheme by TLS.
TEST(MapRouter, SharedHostsAndOrigins) {
    const HostRule plain{8421, {"169.254.7.1", "car", "car.local"}, false};
    const HostRule tls{8421, {"169.254.7.1", "[fe80::1]"}, true};
    const struct {
        const HostRule* rule;
        std::string host;
        std::string origin;  // "": none sent
        int status;          // 0: passes
    } cases[] = {
        {&plain, "169.254.7.1:8421", "", 0},
        {&plain, "CAR:8421", "http://car:8421", 0},
        {&plain, "car.local:8421", "http://car.local:8421", 0},
        {&plain, "169.254.7.1:8422", "", 403},
        {&plain, "169.254.7.1", "", 403},
        {&plain, "127.0.0.1:8421", "", 403},  // a network client never names loopback
        {&plain, "169.254.7.10:8421", "", 403},
        {&plain, "evil.example:8421", "", 403},  // a name that resolves here by rebinding
        {&plain, "169.254.7.1:8421", "https://169.254.7.1:8421", 403},
        {&plain, "169.254.7.1:8421", "http://evil.example:8421", 403},
        {&plain, "169.254.7.1:8421", "null", 403},
        {&tls, "[FE80::1]:8421", "https://[fe80::1]:8421", 0},
        {&tls, "169.254.7.1:8421", "https://169.254.7.1:8421", 0},
        {&tls, "169.254.7.1:8421", "http://169.254.7.1:8421", 403},
    };
    for (const auto& c : cases) {
        Headers headers{{"host", c.host}};
        if (!c.origin.empty()) {
            headers.emplace_back("origin", c.origin);
        }
        const RequestHead head{"GET", "/", "HTTP/1.1", headers};
        const auto refusal = checkHostAndOrigin(head, *c.rule);
        EXPECT_EQ(refusal ? refusal->status : 0, c.status) << c.host << " " << c.origin;
        EXPECT_EQ(std::holds_alternative<Route>(routeRequest(head, *c.rule)), c.status == 0)
            << c.host;
    }
}

TEST(MapRequestHead, Table) {
    const std::string start = "GET / HTTP/1.1\r\nX-Pad: ";
    const auto padded = [&](size_t total) {  // a complete head of `total` bytes
        return start + std::string(total - start.size() - 4, 'a') + "\r\n\r\n";
    };
    const HeadCase cases[] = {
        {"", HeadState::Incomplete},
        {"GET / HTTP/1.1\r\nHost: a\r\n", HeadState::Incomplete},
        {"GET / HTTP/1.1\r\nHost: a\r\n\r", HeadState::Incomplete},
        {"GET / HTTP/1.1\r\nHost: a\r\n\r\n", HeadState::Complete, 27},
        {"GET / HTTP/1.1\r\nHost: a\r\n\r\nGET / HTTP/1.1\r\n", HeadState::Complete, 27},
        {"GET / HTTP/1.0\nHost: a\n\n", HeadState::Complete, 24},
        {"GET / HTTP/1.1\r\nHost: a\n\r\n", HeadState::Complete, 26},
        {padded(kMaxHeadBytes), HeadState::Complete, kMaxHeadBytes},
        {padded(kMaxHeadBytes + 1), HeadState::TooLarge},
        {padded(kMaxHeadBytes + 2).substr(0, kMaxHeadBytes), HeadState::Incomplete},
        {padded(kMaxHeadBytes + 2).substr(0, kMaxHeadBytes + 1), HeadState::TooLarge},
        {"GET / HTTP/1.1\r\nHost: a\r\n folded\r\n\r\n", HeadState::Malformed},
        {"GET / HTTP/1.1\r\nHost: a\r\n\tfolded\r\n\r\n", HeadState::Malformed},
        {"GET / HTTP/1.1\r\nHost: a\0b\r\n\r\n"s, HeadState::Malformed},
        {"GET / HTTP/1.1\r\nHost: a\0"s, HeadState::Malformed},  // before the head is complete
        {"GET / HTTP/1.1\r\nHost: a\rb\r\n\r\n", HeadState::Malformed},
        {"GET / HTTP/1.1\r\nHost: a\r\r\n\r\n", HeadState::Malformed},
        {"GET / HTTP/1.2\r\n\r\n", HeadState::Malformed},
        {"GET / HTTP/2.0\r\n\r\n", HeadState::Malformed},
        {"GET / http/1.1\r\n\r\n", HeadState::Malformed},
        {"GET /\r\n\r\n", HeadState::Malformed},
        {"GET  / HTTP/1.1\r\n\r\n", HeadState::Malformed},
        {"GET / HTTP/1.1 \r\n\r\n", HeadState::Malformed},
        {"GET /\x7F HTTP/1.1\r\n\r\n", HeadState::Malformed},
        {"\r\nGET / HTTP/1.1\r\n\r\n", HeadState::Malformed},
        {"GET / HTTP/1.1\r\nHost a\r\n\r\n", HeadState::Malformed},
        {"GET / HTTP/1.1\r\nHost : a\r\n\r\n", HeadState::Malformed},
        {"GET / HTTP/1.1\r\nHo(st: a\r\n\r\n", HeadState::Malformed},
        {"GET / HTTP/1.1\r\n: a\r\n\r\n", HeadState::Malformed},
    };
    for (const auto& c : cases) {
        const HeadParse parse = parseRequestHead(c.bytes);
        EXPECT_EQ(parse.state, c.state) << c.bytes.substr(0, 60);
        EXPECT_EQ(parse.length, c.length) << c.bytes.substr(0, 60);
    }
    const HeadParse parse =
        parseRequestHead("get /x?y HTTP/1.0\r\nHOST:  a b \t\r\nX-Empty:\r\nhost: c\r\n\r\n");
    EXPECT_EQ(parse.head.method + parse.head.target + parse.head.version, "get/x?yHTTP/1.0");
    EXPECT_EQ(parse.head.headers, Headers({{"host", "a b"}, {"x-empty", ""}, {"host", "c"}}));
    EXPECT_EQ(parse.head.header("host"), "a b");
    EXPECT_EQ(parse.head.header("x-other"), std::nullopt);
}

TEST(MapAnswer, TextAndHeaders) {
    Answer answer;
    answer.contentType = "text/plain";
    answer.body = "hello";
    answer.extraHeaders = {{"Cache-Control", "no-store"},
                           {"X-Split", "a\r\nSet-Cookie: x=1"},
                           {"X-Lf", "a\nb"},
                           {"Bad Name", "x"}};
    const std::string head = answerText(answer, true, true, "");
    EXPECT_TRUE(head.starts_with("HTTP/1.1 200 OK\r\n"));
    EXPECT_NE(head.find("\r\nContent-Length: 5\r\n"), std::string::npos);
    EXPECT_NE(head.find("\r\nConnection: keep-alive\r\n"), std::string::npos);
    EXPECT_NE(head.find("\r\nCache-Control: no-store\r\n"), std::string::npos);
    EXPECT_NE(head.find("\r\nX-Content-Type-Options: nosniff\r\n"), std::string::npos);
    EXPECT_EQ(head.find("Set-Cookie"), std::string::npos);
    EXPECT_EQ(head.find("X-Lf"), std::string::npos);
    EXPECT_EQ(head.find("Bad Name"), std::string::npos);
    EXPECT_TRUE(head.ends_with("\r\n\r\n"));  // HEAD: no body
    const std::string whole = answerText(answer, false, false, "");
    EXPECT_NE(whole.find("\r\nConnection: close\r\n"), std::string::npos);
    EXPECT_TRUE(whole.ends_with("\r\nCache-Control: no-store\r\n\r\nhello"));
    const std::string refused =
        answerText(refusalAnswer({414, "target too long"}), false, false, "");
    EXPECT_TRUE(refused.starts_with("HTTP/1.1 414 URI Too Long\r\n"));
    EXPECT_TRUE(
        refused.ends_with("charset=utf-8\r\nContent-Length: 16\r\nConnection: close\r\n"
                          "\r\ntarget too long\n"));

    const auto csp = [](std::string_view origin) { return securityHeaders(origin).front().second; };
    EXPECT_NE(csp("https://*.tile.org").find("img-src 'self' data: https://*.tile.org;"),
              std::string::npos);
    EXPECT_NE(csp("").find("img-src 'self' data:;"), std::string::npos);
    EXPECT_NE(csp("https://a.org; script-src *").find("img-src 'self' data:;"), std::string::npos);
    const std::pair<const char*, const char*> origins[] = {
        {"https://{s}.tile.openstreetmap.org/{z}/{x}/{y}.png", "https://*.tile.openstreetmap.org"},
        {"https://tile.example.org:8443/{z}/{x}/{y}.png", "https://tile.example.org:8443"},
        {"HTTP://Tiles.Example.org?x={x}", "http://tiles.example.org"},
        {"http://[2001:db8::1]:8080/{z}", "http://[2001:db8::1]:8080"},
    };
    for (const auto& [url, origin] : origins) {
        EXPECT_EQ(templateOrigin(url), origin) << url;
    }
    for (const char* url :
         {"ftp://x.org/", "//x.org/{z}", "https://", "https://{s}/x", "https://a.{s}.org/",
          "https://{z}.org/", "https://u@x.org/", "https://x.org:/", "https://x.org:99999/",
          "https://x.org;y/", "https://x.org\"/", "https://x .org/", "https://x.org,y/",
          "https://x..org/", "https://x.org\r\n/"}) {
        EXPECT_EQ(templateOrigin(url), "") << url;
    }
}

TEST(MapConnection, Limits) {
    ConnectionLimits limits;
    for (size_t i = 0; i < kMaxConnectionsPerAddress; ++i) {
        EXPECT_TRUE(limits.admit("127.0.0.1"));
    }
    EXPECT_FALSE(limits.admit("127.0.0.1"));  // the 17th from one address
    EXPECT_TRUE(limits.admit("127.0.0.2"));
    while (limits.total() < kMaxConnections) {
        ASSERT_TRUE(limits.admit("127.0.0." + std::to_string(3 + limits.total() / 16)));
    }
    EXPECT_FALSE(limits.admit("127.0.0.200"));  // the 65th overall
    limits.release("127.0.0.99");               // never admitted: nothing
    EXPECT_EQ(limits.total(), kMaxConnections);
    limits.release("127.0.0.2");
    EXPECT_EQ(limits.from("127.0.0.2"), 0u);
    EXPECT_EQ(limits.total(), kMaxConnections - 1);
    limits.release("127.0.0.2");  // released once too often: no underflow
    EXPECT_EQ(limits.total(), kMaxConnections - 1);
    EXPECT_TRUE(limits.admit("127.0.0.200"));
    EXPECT_EQ(limits.from("127.0.0.1"), kMaxConnectionsPerAddress);
}

}  // namespace
}  // namespace kestrel::live_map
