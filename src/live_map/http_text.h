#pragma once
// The character rules of HTTP text shared by the request parser, the router and the answers.
// ASCII only, whatever the locale; private to the map server's rules.

#include <optional>
#include <string>
#include <string_view>

namespace kestrel::live_map::http {

constexpr bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
constexpr bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
constexpr bool isLowerAlnum(char c) {
    return (c >= 'a' && c <= 'z') || isDigit(c);
}
constexpr char lowerChar(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool equalsIgnoreCase(std::string_view a, std::string_view b) {
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

// Spaces and tabs around the text taken off.
constexpr std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

inline std::string lowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = lowerChar(c);
    }
    return out;
}

// A token: a header name, a method.
constexpr bool isToken(std::string_view s) {
    if (s.empty()) {
        return false;
    }
    for (const char c : s) {
        if (!isAlpha(c) && !isDigit(c) &&
            std::string_view("!#$%&'*+-.^_`|~").find(c) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

// A field value may hold visible ASCII, space, tab and obs-text (bytes from 0x80 on); no other
// control character: a CR or LF would end the header (or the head).
constexpr bool isFieldValue(std::string_view s) {
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7F) {
            return false;
        }
    }
    return true;
}

// A plain decimal integer from 0 to `max`: no sign, no leading zero (but "0"), no overflow.
constexpr std::optional<int> decimal(std::string_view s, int max) {
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

}  // namespace kestrel::live_map::http
