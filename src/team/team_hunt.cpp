#include "team/team_hunt.h"

#include <algorithm>
#include <set>

#include "app/form_kestrelmap.h"

namespace kestrel::team {

namespace {
constexpr int kQos = 1;
}

PositionSource panelPosition(const Form_Kestrelmap& form) {
    return [&form]() -> std::optional<std::pair<double, double>> {
        if (const auto at = form.shownPosition()) {
            return std::pair(at->latitude, at->longitude);
        }
        return std::nullopt;
    };
}

void writeTeamMap(const TeamHunt& hunt, Form_Kestrelmap& form, WriteNotice& notice) {
    const std::string paths[] = {form.folder() + form.stamp() + "_team.kml",
                                 form.folder() + "Current_Team.kml"};
    writeAll(form.platform().files, notice, paths, hunt.teamDocument(form.VECTOR_COLOR));
}

TeamHunt::TeamHunt(TeamNames names, std::string journalPath, TeamTransport& transport, Clock& clock,
                   MessageBox& messages, PositionSource position)
    : m_names(std::move(names)),
      m_journal(std::move(journalPath)),
      m_transport(transport),
      m_clock(clock),
      m_journalNotice(messages, "team journal",
                      "The plots are still sent while the program runs; the next one tries "
                      "the journal again."),
      m_positionSource(std::move(position)) {
    m_vehicles.push_back(VehicleState{m_names.vehicle, {}, {}, 0});
}

TeamHunt::~TeamHunt() {
    m_transport.setListener(nullptr);
}

void TeamHunt::start() {
    JournalContents journal = m_journal.load();
    m_counters.journalDamagedLines = journal.damagedLines;
    m_lastSeq = journal.lastSeq;
    for (JournalOwnPlot& entry : journal.own) {
        m_vehicles.front().plots[entry.plot.seq] = entry.plot;
        m_own[entry.plot.seq] = OwnMessage{std::move(entry.payload), entry.acknowledged};
    }
    for (TeamPlot& plot : journal.received) {
        if (plot.vehicle != m_names.vehicle && plot.hunt == m_names.hunt) {
            VehicleState& state = vehicle(plot.vehicle);
            state.plots.try_emplace(plot.seq, std::move(plot));
        }
    }
    restoreExclusions(journal);
    m_transport.setListener(this);
    if (m_transport.isUp()) {
        linkUp();
    }
}

void TeamHunt::plotMade(const PlotRecord& record) {
    const TeamPlot plot = teamPlotFrom(record, m_names, ++m_lastSeq);
    std::string payload = encodePlot(plot);
    // Journalled before it goes out: a crash between the two sends it again, never loses it.
    journalled(m_journal.appendOwn(plot, payload));
    m_vehicles.front().plots[plot.seq] = plot;
    m_own[plot.seq] = OwnMessage{std::move(payload), false};
    sendWaiting();
    changed();
}

size_t TeamHunt::queuedCount() const {
    return static_cast<size_t>(std::count_if(
        m_own.begin(), m_own.end(), [](const auto& own) { return !own.second.acknowledged; }));
}

// Every unacknowledged own message not already on its way: the plots in seq order, then the
// exclusions in rev order. The broker keeps the order of one client's QoS 1 messages, so an
// exclusion never overtakes the plot it names.
void TeamHunt::sendWaiting() {
    if (!m_transport.isUp()) {
        return;
    }
    const std::set<InFlight> onTheWay = [this]() {
        std::set<InFlight> out;
        for (const auto& [id, what] : m_inFlight) {
            out.insert(what);
        }
        return out;
    }();
    if (sendEach(m_own, false, plotTopic(m_names), onTheWay)) {
        sendEach(m_ownExclusions, true, exclusionTopic(m_names), onTheWay);
    }
}

// False when the link went: all of it goes again when it is back.
bool TeamHunt::sendEach(const std::map<int64_t, OwnMessage>& waiting, bool exclusion,
                        const std::string& topic, const std::set<InFlight>& onTheWay) {
    for (const auto& [key, own] : waiting) {
        if (own.acknowledged || onTheWay.contains(InFlight{exclusion, key})) {
            continue;
        }
        const std::optional<int> id = m_transport.publish(topic, own.payload, kQos, false);
        if (!id) {
            return false;
        }
        m_inFlight[*id] = InFlight{exclusion, key};
    }
    return true;
}

void TeamHunt::tick() {
    const int64_t now = m_clock.utcMilliseconds();
    if (m_transport.isUp() && (m_lastPositionMs == 0 ||
                               now - m_lastPositionMs >= kPositionIntervalMs - kPositionSlackMs ||
                               now < m_lastPositionMs)) {
        publishPosition(now);
    }
}

void TeamHunt::publishPosition(int64_t nowMs) {
    const auto at = m_positionSource ? m_positionSource() : std::nullopt;
    if (!at) {
        return;
    }
    TeamPosition position{m_names.vehicle, m_names.hunt, isoUtcText(nowMs), at->first, at->second};
    if (m_transport.publish(positionTopic(m_names), encodePosition(position), kQos, true)) {
        m_lastPositionMs = nowMs;
        m_vehicles.front().position = std::move(position);
    }
}

void TeamHunt::linkUp() {
    m_inFlight.clear();
    m_transport.subscribe(plotFilter(m_names), kQos);
    m_transport.subscribe(positionFilter(m_names), kQos);
    m_transport.subscribe(exclusionFilter(m_names), kQos);
    sendWaiting();
    m_lastPositionMs = 0;  // tell the team where we are at once
    publishPosition(m_clock.utcMilliseconds());
}

void TeamHunt::linkDown() {
    m_inFlight.clear();
}

void TeamHunt::published(int messageId) {
    const auto found = m_inFlight.find(messageId);
    if (found == m_inFlight.end()) {
        return;  // a position, or a message of an earlier connection
    }
    const InFlight what = found->second;
    m_inFlight.erase(found);
    auto& own = what.exclusion ? m_ownExclusions : m_own;
    const auto mine = own.find(what.key);
    if (mine != own.end() && !mine->second.acknowledged) {
        mine->second.acknowledged = true;
        journalled(what.exclusion ? m_journal.appendExclusionAcknowledged(what.key)
                                  : m_journal.appendAcknowledged(what.key));
    }
}

void TeamHunt::messageArrived(std::string_view topic, std::string_view payload) {
    Decoded decoded = decodeMessage(m_names, topic, payload);
    const int64_t now = m_clock.utcMilliseconds();
    if (const Rejection* rejection = std::get_if<Rejection>(&decoded)) {
        ++m_counters.rejected[static_cast<size_t>(*rejection)];
    } else if (TeamPlot* plot = std::get_if<TeamPlot>(&decoded)) {
        if (plot->vehicle == m_names.vehicle) {
            ownArrived(m_own, plot->seq, payload);
        } else {
            acceptPlot(std::move(*plot), now);
        }
    } else if (const TeamExclusion* exclusion = std::get_if<TeamExclusion>(&decoded)) {
        if (exclusion->vehicle == m_names.vehicle) {
            ownArrived(m_ownExclusions, exclusion->rev, payload);
        } else {
            acceptExclusion(*exclusion, now);
        }
    } else {
        acceptPosition(std::get<TeamPosition>(std::move(decoded)), now);
    }
}

// Our own plots and exclusions come back through our subscription, byte for byte; anything
// else under our name is another sender using it.
void TeamHunt::ownArrived(const std::map<int64_t, OwnMessage>& own, int64_t key,
                          std::string_view payload) {
    const auto mine = own.find(key);
    const bool echo = mine != own.end() && mine->second.payload == payload;
    ++(echo ? m_counters.echoes : m_counters.rejected[static_cast<size_t>(Rejection::OwnName)]);
}

void TeamHunt::acceptPlot(TeamPlot plot, int64_t nowMs) {
    VehicleState& state = vehicle(plot.vehicle);
    state.lastMessageMs = nowMs;
    if (state.plots.contains(plot.seq)) {
        ++m_counters.duplicates;
        return;
    }
    journalled(m_journal.appendReceived(plot));
    ++m_counters.received;
    const std::string name = plot.vehicle;
    const int64_t seq = plot.seq;
    const TeamPlot& kept = state.plots.emplace(seq, std::move(plot)).first->second;
    if (onPlotReceived) {
        onPlotReceived(kept);
    }
    tellPendingExclusion(name, seq);
    changed();
}

// Positions under our own name are our retained one coming back (this run's or an earlier
// run's): not shown, not counted as a fault.
void TeamHunt::acceptPosition(TeamPosition position, int64_t nowMs) {
    if (position.vehicle == m_names.vehicle) {
        ++m_counters.echoes;
        return;
    }
    VehicleState& state = vehicle(position.vehicle);
    state.lastMessageMs = nowMs;
    state.position = std::move(position);
    ++m_counters.positions;
    changed();
}

VehicleState& TeamHunt::vehicle(const std::string& name) {
    const auto found = std::find_if(m_vehicles.begin(), m_vehicles.end(),
                                    [&](const VehicleState& v) { return v.name == name; });
    if (found != m_vehicles.end()) {
        return *found;
    }
    m_vehicles.push_back(VehicleState{name, {}, {}, 0});
    return m_vehicles.back();
}

void TeamHunt::journalled(bool written) {
    m_journalNotice.report(written, m_journal.path(), m_journal.lastError());
}

void TeamHunt::changed() {
    if (onTeamChanged) {
        onTeamChanged();
    }
}

std::string TeamHunt::teamDocument(std::string_view vectorColour) const {
    return teamKmlDocument(m_vehicles, m_names.vehicle, vectorColour);
}

}  // namespace kestrel::team
