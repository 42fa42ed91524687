#include "team/team_config.h"

#include <algorithm>

#include "instruments/input_options.h"
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

}  // namespace

std::optional<BrokerAddress> parseBrokerAddress(std::string_view text) {
    const auto split = instruments::splitHostAndPort(text);
    if (!split || !instruments::isHostName(split->host)) {
        return std::nullopt;
    }
    BrokerAddress address{std::string(split->host), 0};
    if (split->port) {
        const std::optional<uint16_t> port = instruments::parseTcpPort(*split->port);
        if (!port) {
            return std::nullopt;
        }
        address.port = *port;
    }
    return address;
}

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
    const std::optional<BrokerAddress> address = parseBrokerAddress(broker);
    if (!address) {
        return failure("broker", "\"" + broker + "\" is not host or host:port");
    }
    config.brokerHost = address->host;
    config.brokerPort = address->port;
    const std::string tls = valueOf(keys, "tls");
    if (tls.empty()) {
        config.tls = !isLoopbackHost(config.brokerHost);
    } else if (const auto value = instruments::parseFlag(tls)) {
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

TeamKeys withOverrides(TeamKeys keys, const TeamOverrides& overrides) {
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
    return keys;
}

std::optional<std::string> passwordFromFileText(std::string_view text) {
    const std::string_view line = text.substr(0, text.find_first_of("\r\n"));
    if (line.empty()) {
        return std::nullopt;
    }
    return std::string(line);
}

}  // namespace kestrel::team
