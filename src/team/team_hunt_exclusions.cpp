// TeamHunt's plots left out of the fix by hand: the own ones, numbered by rev, journalled and
// sent like own plots; the team's, applied once each, the latest rev for a plot winning.

#include <algorithm>

#include "team/team_hunt.h"

namespace kestrel::team {

bool TeamHunt::setOwnExclusion(int64_t seq, bool excluded) {
    if (ownExclusion(seq) != std::optional(!excluded)) {
        return false;  // no such plot, or it already is so
    }
    const TeamExclusion exclusion{
        m_names.vehicle, m_names.hunt, seq,
        excluded,        ++m_lastRev,  isoUtcText(m_clock.utcMilliseconds())};
    std::string payload = encodeExclusion(exclusion);
    // Journalled before it goes out, as an own plot is.
    journalled(m_journal.appendOwnExclusion(exclusion, payload));
    m_ownExclusions[exclusion.rev] = OwnMessage{std::move(payload), false};
    m_ownExcluded[seq] = excluded;
    sendWaiting();
    return true;
}

std::optional<bool> TeamHunt::ownExclusion(int64_t seq) const {
    if (!m_own.contains(seq)) {
        return std::nullopt;
    }
    const auto found = m_ownExcluded.find(seq);
    return found != m_ownExcluded.end() && found->second;
}

bool TeamHunt::isExcluded(const std::string& vehicle, int64_t seq) const {
    if (vehicle == m_names.vehicle) {
        return ownExclusion(seq).value_or(false);
    }
    const auto heard = m_teamExclusions.find(vehicle);
    if (heard == m_teamExclusions.end()) {
        return false;
    }
    const auto state = heard->second.find(seq);
    const auto known = std::find_if(m_vehicles.begin(), m_vehicles.end(),
                                    [&](const VehicleState& v) { return v.name == vehicle; });
    return state != heard->second.end() && state->second.excluded && known != m_vehicles.end() &&
           known->plots.contains(seq);
}

size_t TeamHunt::queuedExclusionCount() const {
    return static_cast<size_t>(
        std::count_if(m_ownExclusions.begin(), m_ownExclusions.end(),
                      [](const auto& own) { return !own.second.acknowledged; }));
}

// The own changes in rev order (the latest for a plot is its state), the team's by their rule.
void TeamHunt::restoreExclusions(JournalContents& journal) {
    m_lastRev = journal.lastRev;
    for (JournalOwnExclusion& entry : journal.ownExclusions) {
        m_ownExcluded[entry.exclusion.seq] = entry.exclusion.excluded;
        m_ownExclusions[entry.exclusion.rev] =
            OwnMessage{std::move(entry.payload), entry.acknowledged};
    }
    for (const TeamExclusion& exclusion : journal.receivedExclusions) {
        if (exclusion.vehicle != m_names.vehicle && exclusion.hunt == m_names.hunt) {
            applyTeamExclusion(exclusion);
        }
    }
}

void TeamHunt::acceptExclusion(const TeamExclusion& exclusion, int64_t nowMs) {
    VehicleState& state = vehicle(exclusion.vehicle);
    state.lastMessageMs = nowMs;
    const bool wasExcluded = isExcluded(exclusion.vehicle, exclusion.seq);
    if (!applyTeamExclusion(exclusion)) {
        ++m_counters.duplicates;  // the same again, or older than what we have
        return;
    }
    journalled(m_journal.appendReceivedExclusion(exclusion));
    ++m_counters.exclusions;
    if (wasExcluded != isExcluded(exclusion.vehicle, exclusion.seq) && onExclusionReceived) {
        onExclusionReceived(exclusion.vehicle, exclusion.seq, exclusion.excluded);
    }
}

// False when a change as new (by rev) is already known for the plot.
bool TeamHunt::applyTeamExclusion(const TeamExclusion& exclusion) {
    ExclusionState& known = m_teamExclusions[exclusion.vehicle][exclusion.seq];
    if (exclusion.rev <= known.rev) {
        return false;
    }
    known = ExclusionState{exclusion.excluded, exclusion.rev};
    return true;
}

// A plot that arrives after its vehicle left it out.
void TeamHunt::tellPendingExclusion(const std::string& vehicle, int64_t seq) {
    if (onExclusionReceived && isExcluded(vehicle, seq)) {
        onExclusionReceived(vehicle, seq, true);
    }
}

}  // namespace kestrel::team
