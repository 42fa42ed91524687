#include "team/team_config.h"

#include <algorithm>
#include <charconv>

#include "team/flat_json.h"

namespace kestrel::team {

namespace {

constexpr std::string_view kKnownKeys[] = {"name", "vehicle", "hunt",    "broker",
                                           "user", "tls",     "ca_file", "password_file"};
constexpr int kPlainPort = 1883;
constexpr int kTlsPort = 8883;

TeamConfigResult failure(std::string_view key, std::string_view reason) {
    return {std::nullopt,
            "Kestrelmap.conf [team] " + std::string(key) + ": " + std::string(reason)};
}

std::string valueOf(const TeamKeys& keys, std::string_view key) {
    const auto found = keys.find(key);
    return found == keys.end() ? std::string() : found->second;
}

bool isAbsolute(std::string_view path) {
    return path.starts_with('/') || path.starts_with('\\') ||
           (path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/'));
}

std::string fullPath(std::string_view folder, const std::string& path) {
    return path.empty() || isAbsolute(path) ? path : std::string(folder) + path;
}

// The port of a broker address: 0 when none is given, false when the text is not a TCP port.
bool parseBrokerPort(std::string_view text, int& port) {
    port = 0;
    if (text.empty()) {
        return true;
    }
    const auto result = std::from_chars(text.data(), text.data() + text.size(), port);
    return result.ec == std::errc() && result.ptr == text.data() + text.size() && port >= 1 &&
           port <= 65535;
}

// host, host:port, [v6 address] or [v6 address]:port. The port is 0 when not given.
bool splitBroker(std::string_view text, std::string& host, int& port) {
    std::string_view portText;
    if (text.starts_with('[')) {
        const size_t close = text.find(']');
        if (close == std::string_view::npos) {
            return false;
        }
        host = text.substr(1, close - 1);
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty() && (!rest.starts_with(':') || rest.size() == 1)) {
            return false;
        }
        portText = rest.empty() ? rest : rest.substr(1);
    } else {
        const size_t colon = text.find(':');
        if (colon != std::string_view::npos &&
            text.find(':', colon + 1) != std::string_view::npos) {
            host = text;  // a bare IPv6 address
        } else {
            host = text.substr(0, colon);
            portText =
                colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
            if (colon != std::string_view::npos && portText.empty()) {
                return false;
            }
        }
    }
    if (host.empty() || std::any_of(host.begin(), host.end(), [](char c) {
            return static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '@';
        })) {
        return false;
    }
    return parseBrokerPort(portText, port);
}

std::optional<bool> booleanOf(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    if (text == "true") {
        return true;
    }
    if (text == "false") {
        return false;
    }
    return std::nullopt;
}

}  // namespace

bool isLoopbackHost(std::string_view host) {
    return host == "localhost" || host == "::1" || host.starts_with("127.");
}

TeamConfigResult parseTeamConfig(const TeamKeys& keys, std::string_view folder,
                                 int64_t utcMilliseconds) {
    for (const auto& [key, value] : keys) {
        if (std::find(std::begin(kKnownKeys), std::end(kKnownKeys), key) == std::end(kKnownKeys)) {
            return failure(key, "unknown key");
        }
    }
    TeamConfig config;
    config.keys = keys;
    config.names.team = valueOf(keys, "name");
    if (config.names.team.empty()) {
        return {config, {}};  // no team: the link stays off
    }
    config.enabled = true;
    config.names.vehicle = valueOf(keys, "vehicle");
    config.names.hunt = valueOf(keys, "hunt");
    if (config.names.hunt.empty()) {
        config.names.hunt = isoUtcText(utcMilliseconds).substr(0, 10);
    }
    constexpr std::string_view kNameRule =
        "must be 1 to 64 characters without \"+\", \"#\", \"/\" or control characters";
    for (const auto& [key, name] :
         {std::pair<std::string_view, const std::string*>{"name", &config.names.team},
          {"vehicle", &config.names.vehicle},
          {"hunt", &config.names.hunt}}) {
        if (name->empty()) {
            return failure(key, "is missing");
        }
        if (!isSafeName(*name)) {
            return failure(key, kNameRule);
        }
    }
    const std::string broker = valueOf(keys, "broker");
    if (broker.empty()) {
        return failure("broker", "is missing (host or host:port)");
    }
    if (!splitBroker(broker, config.brokerHost, config.brokerPort)) {
        return failure("broker", "\"" + broker + "\" is not host or host:port");
    }
    const std::string tls = valueOf(keys, "tls");
    if (tls.empty()) {
        config.tls = !isLoopbackHost(config.brokerHost);
    } else if (const auto value = booleanOf(tls)) {
        config.tls = *value;
    } else {
        return failure("tls", "must be true or false");
    }
    if (config.brokerPort == 0) {
        config.brokerPort = config.tls ? kTlsPort : kPlainPort;
    }
    config.user = valueOf(keys, "user");
    if (config.user.empty()) {
        config.user = config.names.vehicle;
    }
    if (!isValidUtf8(config.user)) {
        return failure("user", "is not UTF-8 text");
    }
    config.passwordFile = fullPath(folder, valueOf(keys, "password_file"));
    config.caFile = fullPath(folder, valueOf(keys, "ca_file"));
    return {config, {}};
}

TeamConfigResult applyTeamOverrides(const TeamConfig& config, const TeamOverrides& overrides,
                                    std::string_view folder, int64_t utcMilliseconds) {
    TeamKeys keys = config.keys;
    const std::pair<const char*, const std::optional<std::string>*> given[] = {
        {"name", &overrides.team},
        {"vehicle", &overrides.vehicle},
        {"hunt", &overrides.hunt},
        {"broker", &overrides.broker}};
    for (const auto& [key, value] : given) {
        if (*value) {
            keys[key] = **value;
        }
    }
    return parseTeamConfig(keys, folder, utcMilliseconds);
}

std::optional<std::string> passwordFromFileText(std::string_view text) {
    const std::string_view line = text.substr(0, text.find_first_of("\r\n"));
    if (line.empty()) {
        return std::nullopt;
    }
    return std::string(line);
}

}  // namespace kestrel::team
