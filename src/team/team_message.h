#pragma once
// The messages vehicles exchange through the broker, and their topics:
//   kestrelmap/<team>/<hunt>/<vehicle>/plot      one per plot, QoS 1
//   kestrelmap/<team>/<hunt>/<vehicle>/position  every 10 s, retained
//   kestrelmap/<team>/<hunt>/<vehicle>/exclusion one per change, QoS 1: an own plot left out
//                                                of the fix, or taken back in
// Each payload is one flat JSON object with "v": 1. Decoding refuses anything it does not fully
// understand and says why; it never throws.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "app/hunt_events.h"

namespace kestrel::team {

constexpr size_t kMaxPayloadBytes = 4096;
constexpr size_t kMaxNameBytes = 64;
constexpr int kMessageVersion = 1;

// A name used as a topic level and in file names: 1 to 64 bytes of UTF-8, no control
// character, none of "+", "#", "/".
bool isSafeName(std::string_view name);

// Who we are on the broker.
struct TeamNames {
    std::string team;
    std::string hunt;
    std::string vehicle;
};

// One plot of one vehicle, as sent.
struct TeamPlot {
    std::string vehicle;
    std::string hunt;
    int64_t seq = 0;             // the vehicle's plots in this hunt, from 1
    int plotNumber = 0;          // the row of the vehicle's own plot table, 1 to 99
    std::string utc;             // "2026-12-08T14:21:07Z"
    double latitudeDegrees = 0;  // signed, 6 decimals on the wire
    double longitudeDegrees = 0;
    std::optional<int> bearingDegrees;  // true bearing 0 to 359; none: no line was drawn
    std::optional<int> quality;         // 0 to 9
    bool positionFromGps = false;
    bool bearingFromDf = false;
    bool operator==(const TeamPlot&) const = default;
};

// Where a vehicle was at a moment.
struct TeamPosition {
    std::string vehicle;
    std::string hunt;
    std::string utc;
    double latitudeDegrees = 0;
    double longitudeDegrees = 0;
    bool operator==(const TeamPosition&) const = default;
};

// One of a vehicle's own plots left out of the fix by hand (a bearing taken beside a metal
// barn), or used again. `rev` counts the vehicle's exclusion changes in the hunt from 1, so
// the latest change to a plot wins whatever order the messages come in.
struct TeamExclusion {
    std::string vehicle;
    std::string hunt;
    int64_t seq = 0;  // the plot's seq
    bool excluded = false;
    int64_t rev = 0;
    std::string utc;  // when the change was made
    bool operator==(const TeamExclusion&) const = default;
};

enum class Rejection {
    Oversize,        // payload over kMaxPayloadBytes
    Malformed,       // not a flat JSON object, or a field missing or out of range
    UnknownVersion,  // "v" is a number other than 1
    WrongTopic,      // topic not ours, or its names differ from the payload's
    OwnName,         // another sender using this vehicle's name (decided by TeamHunt)
};
constexpr int kRejectionKinds = 5;
const char* rejectionName(Rejection kind);

using Decoded = std::variant<TeamPlot, TeamPosition, TeamExclusion, Rejection>;

// kestrelmap/<team>/<hunt>/<vehicle>: fixed for the vehicle in its hunt, so the broker keeps
// its session between connections.
std::string clientId(const TeamNames& names);
std::string plotTopic(const TeamNames& names);
std::string positionTopic(const TeamNames& names);
std::string exclusionTopic(const TeamNames& names);
std::string plotFilter(const TeamNames& names);       // .../+/plot
std::string positionFilter(const TeamNames& names);   // .../+/position
std::string exclusionFilter(const TeamNames& names);  // .../+/exclusion

TeamPlot teamPlotFrom(const PlotRecord& record, const TeamNames& names, int64_t seq);
// A received plot as the plot log and the estimate take it (what the wire does not carry is
// left out; a time that cannot be read is 0).
PlotRecord plotRecordFrom(const TeamPlot& plot);

std::string encodePlot(const TeamPlot& plot);
std::string encodePosition(const TeamPosition& position);
std::string encodeExclusion(const TeamExclusion& exclusion);

// A message that arrived on `topic`, for the team and hunt in `own`.
Decoded decodeMessage(const TeamNames& own, std::string_view topic, std::string_view payload);
// The payload alone (as kept in the journal): a plot or a rejection.
Decoded decodePlotPayload(std::string_view payload);
// An exclusion payload alone: an exclusion or a rejection.
Decoded decodeExclusionPayload(std::string_view payload);

}  // namespace kestrel::team
