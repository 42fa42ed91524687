#pragma once
// Reads the [team] group of <folder>Kestrelmap.conf (a QSettings INI file) and the team's
// password file. The checking is the core's (team/team_config.h); this only fetches the text.

#include <optional>
#include <string>

#include "team/team_config.h"

namespace kestrel::qt {

// The [team] keys of the INI file at `confPath`, as text; none when the group is absent.
team::TeamKeys readTeamKeys(const std::string& confPath);

// The checked configuration from <folder>Kestrelmap.conf with this run's overrides.
team::TeamConfigResult readTeamConfig(const std::string& folder,
                                      const team::TeamOverrides& overrides,
                                      int64_t utcMilliseconds);

// The password from the configuration's password file: empty when none is configured, none
// (and a reason in `error` that names the file, never its content) when it cannot be read.
std::optional<std::string> readTeamPassword(const team::TeamConfig& config, std::string& error);

}  // namespace kestrel::qt
