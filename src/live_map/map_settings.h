#pragma once
// The live map's settings: the [map] group of Kestrelmap.conf and the command line's
// --map-port. Qt-free: the texts in, checked values or a complaint out.

#include <optional>
#include <string>
#include <string_view>

namespace kestrel::live_map {

inline constexpr int kDefaultPort = 8421;
inline constexpr std::string_view kDefaultOnlineTiles =
    "https://tile.openstreetmap.org/{z}/{x}/{y}.png";
inline constexpr std::string_view kDefaultOnlineAttribution = "\u00a9 OpenStreetMap contributors";

struct MapSettings {
    int port = kDefaultPort;  // 0: no map server
    // Fetched by the browser itself; empty: no online layer.
    std::string onlineTiles = std::string(kDefaultOnlineTiles);
    std::string onlineAttribution = std::string(kDefaultOnlineAttribution);
    // Shared: the machine's network addresses too (or only `address` besides loopback), with
    // the link's key; TLS for them when both files are given.
    bool share = false;
    std::string address;
    std::string certificate;
    std::string privateKey;
    bool operator==(const MapSettings&) const = default;
};

// "8421": a port 0 to 65535 in plain digits; nothing otherwise.
std::optional<int> parsePort(std::string_view text);

// An online tile template the page can use: http or https, with {z}, {x} and {y}, no quote,
// space or control character. Empty is allowed (no online layer).
bool isTileTemplate(std::string_view text);

// The map's address for a person: "http://127.0.0.1:8421/".
std::string mapAddress(int port);

// An IPv4 address in dotted decimal or an IPv6 address (hexadecimal groups and colons, at most
// one "::", no zone): what [map] address may hold.
bool isShareAddress(std::string_view text);

// The link for a phone: "http://169.254.1.2:8421/?key=..." ("https" under TLS, IPv6 in
// brackets).
std::string shareLink(std::string_view address, int port, std::string_view key, bool tls);

}  // namespace kestrel::live_map
