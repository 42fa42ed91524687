// The request head as it arrives: found by a scan for its empty line within the first
// kMaxHeadBytes, each line checked as soon as its end is there, so that a head that is already
// malformed is refused before it is complete. Nothing is kept between calls.

#include "live_map/http_text.h"
#include "live_map/router.h"

namespace kestrel::live_map {

namespace {

using http::isFieldValue;
using http::isToken;
using http::lowerAscii;
using http::trimmed;

// The request target: visible ASCII only.
bool isTarget(std::string_view s) {
    if (s.empty()) {
        return false;
    }
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F) {
            return false;
        }
    }
    return true;
}

bool parseRequestLine(std::string_view line, RequestHead& head) {
    const size_t first = line.find(' ');
    if (first == std::string_view::npos) {
        return false;
    }
    const size_t second = line.find(' ', first + 1);
    if (second == std::string_view::npos) {
        return false;
    }
    const std::string_view method = line.substr(0, first);
    const std::string_view target = line.substr(first + 1, second - first - 1);
    const std::string_view version = line.substr(second + 1);
    if (!isToken(method) || !isTarget(target) || (version != "HTTP/1.1" && version != "HTTP/1.0")) {
        return false;
    }
    head.method = method;
    head.target = target;
    head.version = version;
    return true;
}

bool parseHeaderLine(std::string_view line, RequestHead& head) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = line.substr(colon + 1);
    // A name that is not a token also covers obs-fold (a line starting with a space or tab)
    // and whitespace before the colon.
    if (!isToken(name) || !isFieldValue(value)) {
        return false;
    }
    head.headers.emplace_back(lowerAscii(name), std::string(trimmed(value)));
    return true;
}

}  // namespace

std::optional<std::string_view> RequestHead::header(std::string_view lowerName) const {
    for (const auto& [name, value] : headers) {
        if (name == lowerName) {
            return std::string_view(value);
        }
    }
    return std::nullopt;
}

HeadParse parseRequestHead(std::string_view received) {
    HeadParse parse;
    const std::string_view window = received.substr(0, kMaxHeadBytes);
    size_t start = 0;
    bool firstLine = true;
    while (start < window.size()) {
        const size_t end = window.find('\n', start);
        if (end == std::string_view::npos) {
            break;
        }
        std::string_view line = window.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        start = end + 1;
        if (line.empty() && !firstLine) {
            parse.state = HeadState::Complete;
            parse.length = start;
            return parse;
        }
        const bool ok =
            firstLine ? parseRequestLine(line, parse.head) : parseHeaderLine(line, parse.head);
        if (!ok) {
            return HeadParse{HeadState::Malformed, 0, {}};
        }
        firstLine = false;
    }
    // The line still arriving may already show a byte no head holds.
    const std::string_view rest = window.substr(start);
    const std::string_view restWithoutCr =
        (!rest.empty() && rest.back() == '\r') ? rest.substr(0, rest.size() - 1) : rest;
    if (!isFieldValue(restWithoutCr)) {
        return HeadParse{HeadState::Malformed, 0, {}};
    }
    return HeadParse{
        received.size() > kMaxHeadBytes ? HeadState::TooLarge : HeadState::Incomplete, 0, {}};
}

}  // namespace kestrel::live_map
