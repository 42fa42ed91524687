#include "live_map/map_settings.h"

#include <algorithm>
#include <charconv>

#include "live_map/router.h"

namespace kestrel::live_map {

std::optional<int> parsePort(std::string_view text) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    int port = 0;
    std::from_chars(text.data(), text.data() + text.size(), port);
    if (port > 65535) {
        return std::nullopt;
    }
    return port;
}

bool isTileTemplate(std::string_view text) {
    if (text.empty()) {
        return true;
    }
    const bool plain = std::none_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= 0x20 || u >= 0x7f || c == '"' || c == '\'' || c == '<' || c == '>' || c == '\\';
    });
    return plain && !templateOrigin(text).empty() && text.find("{z}") != std::string_view::npos &&
           text.find("{x}") != std::string_view::npos && text.find("{y}") != std::string_view::npos;
}

std::string mapAddress(int port) {
    return "http://127.0.0.1:" + std::to_string(port) + "/";
}

}  // namespace kestrel::live_map
