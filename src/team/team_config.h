#pragma once
// The team link's settings: the [team] group of Kestrelmap.conf as key/value text, checked and
// completed with its defaults. Without a team name the link is off and nothing changes. The
// password itself is never held here, only the file it is read from.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "team/team_message.h"

namespace kestrel::team {

// The [team] keys as written: name, vehicle, hunt, broker, user, password_file, tls, ca_file.
using TeamKeys = std::map<std::string, std::string, std::less<>>;

struct TeamConfig {
    bool enabled = false;  // false: no [team] name, the link stays off
    TeamNames names;       // hunt defaults to the UTC date, "2026-12-08"
    std::string brokerHost;
    int brokerPort = 0;        // 1883, or 8883 with TLS, unless the broker names one
    bool tls = true;           // default: on unless the broker is a loopback address
    std::string user;          // default: the vehicle name
    std::string passwordFile;  // full path, or empty: no password
    std::string caFile;        // full path, or empty: the system's certificate authorities
};

// Exactly one of the two is set; the error names the key at fault.
struct TeamConfigResult {
    std::optional<TeamConfig> config;
    std::string error;
};

// `folder` is the Kestrelmap folder with its trailing separator (relative file names are
// taken from there); `utcMilliseconds` gives the default hunt name.
TeamConfigResult parseTeamConfig(const TeamKeys& keys, std::string_view folder,
                                 int64_t utcMilliseconds);

// --team, --vehicle, --hunt, --broker for one run: each given one replaces its key before the
// keys are checked, so the defaults that follow from it (port, TLS) are worked out from it.
struct TeamOverrides {
    std::optional<std::string> team;
    std::optional<std::string> vehicle;
    std::optional<std::string> hunt;
    std::optional<std::string> broker;
};
TeamKeys withOverrides(TeamKeys keys, const TeamOverrides& overrides);

// The password in a password file: its first line without the line end; none when empty.
std::optional<std::string> passwordFromFileText(std::string_view text);

// host, host:port, [v6 address] or [v6 address]:port, written as the gpsd address is; the port
// is 0 when not given. Nothing when the text is none of these.
struct BrokerAddress {
    std::string host;
    int port = 0;
};
std::optional<BrokerAddress> parseBrokerAddress(std::string_view text);

// True for "localhost", 127.0.0.0/8 and ::1.
bool isLoopbackHost(std::string_view host);

}  // namespace kestrel::team
