#pragma once
// Kestrelmap.conf: the INI file beside the settings file that holds what the twenty-line
// Kestrelmap.ini has no place for. [instruments] holds where each instrument's data comes from
// (the keys of instruments/input_options.h), [display] the night flag, [map] the live map's
// port and online tiles, [estimate] the gates the fix estimate holds bearings back at
// (max_turn_rate, min_confidence). Reading never fails: a
// missing file gives the defaults, a damaged one the defaults for what is damaged and one
// complaint. Writing sets only these keys; other groups and keys in the file stay.

#include <string>

#include "estimate/gates.h"
#include "instruments/input_config.h"
#include "live_map/map_settings.h"

namespace kestrel::qt {

struct ConfSettings {
    instruments::InputConfig instruments;
    bool night = false;         // the night panel
    live_map::MapSettings map;  // [map]: read only; the program never writes it
    estimate::Gates estimate;   // [estimate]: read only, likewise
    bool operator==(const ConfSettings&) const = default;
};

struct ConfRead {
    ConfSettings settings;
    // Empty when the file was fine or missing; else one message naming the file and what was
    // wrong with it, for the operator.
    std::string problem;
};

// "<folder>Kestrelmap.conf".
std::string confPath(const std::string& folder);

ConfRead readConfFile(const std::string& path);

// False with a reason when the file cannot be written. A missing folder is not made: nothing
// is written then.
bool writeConfFile(const std::string& path, const ConfSettings& settings, std::string& error);

}  // namespace kestrel::qt
