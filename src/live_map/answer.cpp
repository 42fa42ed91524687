// The map server's answers as text: the status line, the security headers every answer
// carries, and nothing a header value could use to end its line early.

#include <array>
#include <string>

#include "live_map/http_text.h"
#include "live_map/router.h"

namespace kestrel::live_map {

namespace {

using http::decimal;
using http::equalsIgnoreCase;
using http::isAlpha;
using http::isDigit;
using http::isFieldValue;
using http::isLowerAlnum;
using http::isToken;
using http::lowerChar;

std::string_view reasonPhrase(int status) {
    static constexpr std::array<std::pair<int, std::string_view>, 27> kPhrases{{
        {101, "Switching Protocols"},
        {200, "OK"},
        {204, "No Content"},
        {206, "Partial Content"},
        {301, "Moved Permanently"},
        {302, "Found"},
        {303, "See Other"},
        {304, "Not Modified"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {408, "Request Timeout"},
        {411, "Length Required"},
        {413, "Content Too Large"},
        {414, "URI Too Long"},
        {415, "Unsupported Media Type"},
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

// A status outside 100-599 is written as 500.
int shownStatus(int status) {
    return status >= 100 && status <= 599 ? status : 500;
}

}  // namespace

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

std::string answerHead(const Answer& answer, bool keepAlive, std::string_view imageOrigin) {
    const int status = shownStatus(answer.status);
    const bool informational = status < 200;
    std::string text =
        "HTTP/1.1 " + std::to_string(status) + " " + std::string(reasonPhrase(status)) + "\r\n";
    const auto put = [&text](std::string_view name, std::string_view value) {
        if (isToken(name) && isFieldValue(value)) {
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
        put("Content-Length", std::to_string(answer.bodyText().size()));
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
    return text + "\r\n";
}

std::string answerText(const Answer& answer, bool headOnly, bool keepAlive,
                       std::string_view imageOrigin) {
    std::string text = answerHead(answer, keepAlive, imageOrigin);
    const int status = shownStatus(answer.status);
    if (!headOnly && status >= 200 && status != 204 && status != 304) {
        text += answer.bodyText();
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
