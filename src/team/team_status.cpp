#include "team/team_status.h"

#include <algorithm>

namespace kestrel::team {

std::string ageText(int64_t thenMs, int64_t nowMs) {
    if (thenMs <= 0) {
        return "no message yet";
    }
    const int64_t seconds = std::max<int64_t>(0, (nowMs - thenMs) / 1000);
    if (seconds < 120) {
        return std::to_string(seconds) + " s ago";
    }
    if (seconds < int64_t{2} * 3600) {
        return std::to_string(seconds / 60) + " min ago";
    }
    return std::to_string(seconds / 3600) + " h ago";
}

std::string teamStatusText(const TeamHunt& hunt, std::string_view broker, int64_t nowMs) {
    const size_t waiting = hunt.queuedCount();
    std::string text = "broker " + std::string(broker) +
                       (hunt.linkIsUp() ? ": connected" : ": not connected") + ", " +
                       std::to_string(waiting) + (waiting == 1 ? " plot" : " plots") + " waiting";
    for (const VehicleState& vehicle : hunt.vehicles()) {
        if (vehicle.name == hunt.names().vehicle) {
            continue;
        }
        text += "\n" + vehicle.name + ": " + std::to_string(vehicle.plots.size()) +
                (vehicle.plots.size() == 1 ? " plot" : " plots") + ", last message " +
                ageText(vehicle.lastMessageMs, nowMs);
    }
    return text;
}

}  // namespace kestrel::team
