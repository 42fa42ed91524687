#pragma once
// What the map page shows of one hunt, as plain data: the live hunt's map model fills it from
// the panel and the estimate, a past hunt's reader from its plot log and input log. The GeoJSON
// and GPX writers read only this. Qt-free.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "estimate/estimator.h"

namespace kestrel::live_map {

// One row of the plot log: an own plot or another vehicle's.
struct MapPlot {
    int row = 0;  // the 1-based data row in the plot log: the plot's id on the map
    int plotNumber = 0;
    int64_t utcMilliseconds = 0;
    double latitudeDeg = 0;
    double longitudeDeg = 0;
    std::optional<int> bearingDeg;  // true bearing of the drawn line; none: no line
    std::optional<int> relativeDeg;
    std::optional<int> quality;
    double rangeMiles = 2;       // how long its line is drawn (the range setting when plotted)
    std::string positionSource;  // "GPS" or "MAN"
    std::string bearingSource;   // "DF" or "MAN"
    std::optional<bool> used;    // the estimator's verdict; none without a line
    std::string leftOutAs;       // when not used: "outlier", "turning", "low confidence"
    std::string vehicle;         // empty: this vehicle
    bool excluded = false;       // left out of the fix by hand
    std::string note;            // the hunter's note, plain text
    estimate::Taking taken;      // how its bearing was taken, as far as the log says
};

struct TrackPoint {
    int64_t utcMilliseconds = 0;
    double latitudeDeg = 0;
    double longitudeDeg = 0;
};

// The car as the panel shows it now.
struct VehicleNow {
    bool shown = false;  // false while the position digits show dashes
    double latitudeDeg = 0;
    double longitudeDeg = 0;
    std::optional<int> courseDeg;       // from the GPS while it is fresh
    std::optional<int> headingDeg;      // from a heading sentence while it is fresh
    std::optional<int> speedKnots;      // likewise
    std::optional<int> liveBearingDeg;  // the direction finder's true bearing while fresh
    double rangeMiles = 2;              // the range setting: how long the live ray is drawn
    bool operator==(const VehicleNow&) const = default;
};

// Another vehicle of the team.
struct TeamVehicle {
    std::string name;
    std::string colour;  // "#rrggbb", its team-map colour
    std::optional<TrackPoint> position;
};

struct HuntView {
    std::string stamp;  // MMDDYY_HHMMSS
    bool live = false;  // the hunt running now (else one read back from its files)
    VehicleNow vehicle;
    std::vector<TrackPoint> track;  // oldest first
    std::vector<MapPlot> plots;     // own and the team's, in plot-log order
    estimate::Estimate estimate;
    std::string status;        // the status line's words
    std::string vectorColour;  // "#rrggbb": this vehicle's lines
    std::vector<TeamVehicle> team;
    bool night = false;
};

// "#rrggbb" for a KML "aabbggrr" colour; "#ff0000" for a text that is not one.
std::string cssColour(const std::string& kmlColour);

}  // namespace kestrel::live_map
