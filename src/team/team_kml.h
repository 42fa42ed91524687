#pragma once
// The team map (Current_Team.kml and <stamp>_team.kml): one Folder per vehicle, named after it,
// holding a bearing line for each of its plots and a mark at its last known position. The own
// vehicle is drawn in the vectors colour, the others in a fixed palette in order of first
// appearance. Names come from the network and are escaped.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "team/team_message.h"

namespace kestrel::team {

// Plots do not travel with their drawn range, so every team line is drawn this long, on the
// WGS84 ellipsoid.
constexpr double kTeamLineMiles = 2.0;

// One vehicle as the team link knows it.
struct VehicleState {
    std::string name;
    std::map<int64_t, TeamPlot> plots;     // by seq
    std::optional<TeamPosition> position;  // last position message (own: last one sent)
    int64_t lastMessageMs = 0;             // local UTC time of its last accepted message; 0: none
};

// "ff0000ff"-style aabbggrr colours of the other vehicles: the n-th vehicle after the own one
// (from 0) gets entry n modulo the palette's size.
std::string_view paletteColour(size_t index);

// `vehicles` in order of first appearance; the one named `ownVehicle` gets `vectorColour`.
std::string teamKmlDocument(const std::vector<VehicleState>& vehicles, std::string_view ownVehicle,
                            std::string_view vectorColour);

}  // namespace kestrel::team
