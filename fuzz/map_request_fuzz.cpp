// The map server's request rules under attack: arbitrary bytes as what a connection sent. The
// head parser must answer and stay the same on the bytes of the head alone, a head that
// becomes complete must not have looked complete before, and the 8 KiB limit must hold at its
// edge (a pad header brings each complete head to exactly kMaxHeadBytes and one byte more).
// A complete head is routed: a route never carries a name or stamp that could walk a folder,
// its tile is in range, and it came with this server's Host (and Origin, when one was sent);
// a refusal has one of the router's statuses. The answer's text keeps every header on one
// line whatever value it is handed (the input itself as a header value, its target as a tile
// URL template for the image origin). The shared map's key and session rules see every
// complete head as from the network.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

#include "live_map/map_access.h"
#include "live_map/plot_review.h"
#include "live_map/router.h"

using namespace kestrel::live_map;
using namespace std::string_view_literals;

namespace {

constexpr uint16_t kPort = 8421;

[[noreturn]] void fault(const char* what, std::string_view text) {
    std::fprintf(stderr, "\nINVARIANT: %s: %.*s\n", what, static_cast<int>(text.size()),
                 text.data());
    std::abort();
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

bool isOwn(std::string_view value, std::string_view prefix) {
    for (const char* host : {"127.0.0.1:8421", "localhost:8421", "[::1]:8421"}) {
        if (value == std::string(prefix) + host) {
            return true;
        }
    }
    return false;
}

void checkParse(std::string_view received, const HeadParse& parse) {
    if (parse.state != HeadState::Complete) {
        if (parse.length != 0 || !parse.head.method.empty() || !parse.head.headers.empty()) {
            fault("a head that is not complete carries its parts", received);
        }
        if ((parse.state == HeadState::TooLarge) !=
            (received.size() > kMaxHeadBytes && parse.state != HeadState::Malformed)) {
            fault("too large is not past the limit", received);
        }
        return;
    }
    const std::string_view bytes = received.substr(0, parse.length);
    if (parse.length == 0 || parse.length > kMaxHeadBytes || bytes.back() != '\n') {
        fault("a complete head's length is wrong", received);
    }
    const HeadParse alone = parseRequestHead(bytes);
    if (alone.state != HeadState::Complete || alone.length != parse.length ||
        alone.head.headers != parse.head.headers || alone.head.target != parse.head.target) {
        fault("the head alone parses otherwise", received);
    }
    if (parseRequestHead(bytes.substr(0, bytes.size() - 1)).state != HeadState::Incomplete) {
        fault("a head was complete or refused one byte early", received);
    }
    if (parse.head.version != "HTTP/1.1" && parse.head.version != "HTTP/1.0") {
        fault("a version other than 1.0 and 1.1", received);
    }
    for (const auto& [name, value] : parse.head.headers) {
        if (name.empty() || name != lower(name) ||
            name.find_first_of(" \t:\r\n") != std::string_view::npos ||
            value.find_first_of("\r\n\0"sv) != std::string_view::npos ||
            (!value.empty() && (value.front() == ' ' || value.back() == ' ' ||
                                value.front() == '\t' || value.back() == '\t'))) {
            fault("a header name or value not as promised", received);
        }
    }
}

// The limit at its edge: the same head padded to exactly kMaxHeadBytes, and one byte more.
void checkLimit(std::string_view head) {
    const size_t lineEnd = head.find('\n') + 1;
    const std::string_view pad = "x-pad: \r\n";
    if (head.size() + pad.size() > kMaxHeadBytes) {
        return;
    }
    for (const size_t total : {kMaxHeadBytes, kMaxHeadBytes + 1}) {
        const std::string padded = std::string(head.substr(0, lineEnd)) +
                                   "x-pad: " + std::string(total - head.size() - pad.size(), 'a') +
                                   "\r\n" + std::string(head.substr(lineEnd));
        const HeadState state = parseRequestHead(padded).state;
        if (state != (total == kMaxHeadBytes ? HeadState::Complete : HeadState::TooLarge)) {
            fault("the 8 KiB limit does not hold at its edge", head);
        }
    }
}

bool hasAny(std::string_view s, std::string_view bytes) {
    return s.find_first_of(bytes) != std::string_view::npos;
}

void checkRoute(const RequestHead& head, const Route& r) {
    const auto host = head.header("host");
    const auto origin = head.header("origin");
    if (!host || !isOwn(lower(*host), "") || (origin && !isOwn(*origin, "http://"))) {
        fault("routed with a foreign Host or Origin", head.target);
    }
    const bool review = r.kind == RouteKind::PlotReview;
    if (r.headOnly != (head.method == "HEAD") ||
        (head.method != "GET" && !r.headOnly && !(review && head.method == "POST"))) {
        fault("routed a method other than GET and HEAD, or POST but for a review", head.method);
    }
    if (review && (!origin || r.token.empty() || r.row < 1 || r.row > kMaxPlotRow ||
                   r.bodyLength < 1 || r.bodyLength > kMaxActionBytes)) {
        fault("a review without its origin, token, row or a body of its size", head.target);
    }
    const std::string_view unsafe = "/%\0\\"sv;
    if (r.kind == RouteKind::LeafletFile) {
        bool known = false;
        for (const LeafletFile& file : leafletFiles()) {
            known = known || r.name == file.name;
        }
        if (!known) {
            fault("a Leaflet file outside the table", r.name);
        }
    } else if (r.name.find("..") != std::string_view::npos || hasAny(r.name, unsafe) ||
               r.stamp.find("..") != std::string_view::npos || hasAny(r.stamp, unsafe)) {
        fault("a name or stamp that could walk a folder", r.name + " " + r.stamp);
    }
    if (r.kind == RouteKind::Tile &&
        (r.z < 0 || r.z > kMaxZoom || r.x < 0 || r.y < 0 || r.x >= (int64_t{1} << r.z) ||
         r.y >= (int64_t{1} << r.z) || r.name.empty() || r.name.size() > 64)) {
        fault("a tile out of range", head.target);
    }
    if ((r.kind == RouteKind::PastHuntGpx || r.kind == RouteKind::PastHuntGeoJson) &&
        (r.stamp.size() != 13 || r.stamp[6] != '_')) {
        fault("a stamp not of its form", r.stamp);
    }
    if (r.kind == RouteKind::LiveSocket && (!origin || head.method != "GET")) {
        fault("a WebSocket without this server's origin", head.target);
    }
}

// The answer's head: every line "Name: value" ended by CRLF, no CR or LF elsewhere; the body
// after it exactly the one given.
void checkAnswer(const std::string& text, const std::string& body, std::string_view input) {
    const size_t headEnd = text.find("\r\n\r\n");
    if (headEnd == std::string_view::npos || text.substr(headEnd + 4) != body) {
        fault("an answer's head ends early or its body is not the one given", input);
    }
    const std::string_view head = std::string_view(text).substr(0, headEnd + 2);
    size_t start = head.find("\r\n") + 2;
    while (start < head.size()) {
        const size_t end = head.find("\r\n", start);
        const std::string_view line = head.substr(start, end - start);
        const size_t colon = line.find(": ");
        if (colon == 0 || colon == std::string_view::npos || hasAny(line, "\r\n") ||
            hasAny(line.substr(0, colon), " \t")) {
            fault("an answer header split or without its name", input);
        }
        start = end + 2;
    }
}

void checkOrigin(std::string_view urlTemplate) {
    const std::string origin = templateOrigin(urlTemplate);
    if (origin.empty()) {
        return;
    }
    if ((!origin.starts_with("http://") && !origin.starts_with("https://")) ||
        hasAny(origin, ";,\"' \t\r\n\0{}()@\\"sv)) {
        fault("a template origin unfit for a header", urlTemplate);
    }
}

// A review's action: exactly one member, a note of plain text of at most 200 characters.
void checkAction(std::string_view body) {
    const auto parsed = parseReviewAction(body);
    const auto* action = std::get_if<ReviewAction>(&parsed);
    if (!action) {
        const int s = std::get<Refusal>(parsed).status;
        if (s != 400 && s != 413) {
            fault("an action refused with a status of its own", body);
        }
        return;
    }
    if (action->excluded.has_value() == action->note.has_value()) {
        fault("an action with both or neither of excluded and note", body);
    }
    if (action->note) {
        size_t characters = 0;
        for (const char c : *action->note) {
            const auto u = static_cast<unsigned char>(c);
            characters += (u & 0xC0) != 0x80 ? 1 : 0;
            if (u < 0x20 || u == 0x7F) {
                fault("a note with a control character", body);
            }
        }
        if (characters > kMaxNoteCharacters) {
            fault("a note over 200 characters", body);
        }
    }
}

// A visitor from the network: only the right key on "/" gets a session, and only a session
// signed with this key passes; every other answer is 401 (or 429 once the address is refused).
void checkAccess(const RequestHead& head, std::string_view input) {
    static const std::string kKey = "00112233445566778899aabbccddeeff";
    static MapAccess access(kKey, false);
    static int64_t now = 0;
    now += 7;  // the refusals of earlier inputs run out as the run goes on
    const std::optional<Answer> answer = access.check(head, "169.254.1.2", now);
    const auto key = queryValue(head.target, "key");
    const bool rightKey = key == kKey && head.target.substr(0, head.target.find('?')) == "/";
    if (!answer) {
        bool signedSession = false;
        for (const auto& [name, value] : head.headers) {
            const auto session =
                name == "cookie" ? cookieValue(value, kSessionCookie) : std::nullopt;
            signedSession = signedSession || (session && access.isSession(*session));
        }
        if (!signedSession) {
            fault("let through without a session", input);
        }
        return;
    }
    const int s = answer->status;
    if ((s == 303) != rightKey && s != 429) {
        fault("a session for a wrong key, or none for the right one", input);
    }
    if (s != 303 && s != 401 && s != 429) {
        fault("an access answer of another status", input);
    }
    checkAnswer(answerText(*answer, false, false, ""), answer->body, input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view received(reinterpret_cast<const char*>(data), size);
    const HeadParse parse = parseRequestHead(received);
    checkParse(received, parse);
    const std::string_view firstLine = received.substr(0, received.find('\n'));
    checkOrigin(firstLine);
    checkAction(received);
    Answer echo;
    echo.contentType = "text/plain";
    echo.body = "body";
    echo.extraHeaders = {{"X-Echo", std::string(received.substr(0, 512))}};
    checkAnswer(answerText(echo, false, true, templateOrigin(firstLine)), "body", received);
    if (parse.state != HeadState::Complete) {
        return 0;
    }
    checkLimit(received.substr(0, parse.length));
    checkOrigin(parse.head.target);
    checkAccess(parse.head, received);
    const Routed routed = routeRequest(parse.head, kPort);
    if (const Route* route = std::get_if<Route>(&routed)) {
        checkRoute(parse.head, *route);
        if (route->kind == RouteKind::PlotReview) {
            checkAction(received.substr(parse.length, route->bodyLength));
        }
        return 0;
    }
    const Refusal& refusal = std::get<Refusal>(routed);
    const int s = refusal.status;
    const bool known = s == 400 || s == 403 || s == 404 || s == 405 || s == 411 || s == 413 ||
                       s == 414 || s == 415;
    if (!known || refusal.reason.empty()) {
        fault("a refusal with a status the router does not give", refusal.reason);
    }
    const bool headOnly = parse.head.method == "HEAD";
    const Answer answer = refusalAnswer(refusal);
    checkAnswer(answerText(answer, headOnly, false, templateOrigin(parse.head.target)),
                headOnly ? "" : refusal.reason + "\n", received);
    return 0;
}
