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

bool isShareAddress(std::string_view text) {
    if (text.find(':') == std::string_view::npos) {
        int parts = 0;
        for (bool more = true; more; ++parts) {
            const size_t dot = text.find('.');
            const std::string_view part = text.substr(0, dot);
            const std::optional<int> value = parsePort(part);
            if (parts == 4 || !value || *value > 255 || part.size() > 3 ||
                (part.size() > 1 && part[0] == '0')) {
                return false;
            }
            more = dot != std::string_view::npos;
            text.remove_prefix(more ? dot + 1 : text.size());
        }
        return parts == 4;
    }
    const size_t gap = text.find("::");
    if (text.size() > 39 ||
        (gap != std::string_view::npos && text.find("::", gap + 1) != std::string_view::npos)) {
        return false;
    }
    int groups = 0;
    size_t run = 0;
    for (const char c : text) {
        if (c == ':') {
            run = 0;
            continue;
        }
        const bool digit =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!digit || ++run > 4) {
            return false;
        }
        groups += run == 1 ? 1 : 0;
    }
    return gap != std::string_view::npos ? groups < 8 : groups == 8;
}

std::string shareLink(std::string_view address, int port, std::string_view key, bool tls) {
    const bool v6 = address.find(':') != std::string_view::npos;
    return std::string(tls ? "https://" : "http://") + (v6 ? "[" : "") + std::string(address) +
           (v6 ? "]" : "") + ":" + std::to_string(port) + "/?key=" + std::string(key);
}

}  // namespace kestrel::live_map
