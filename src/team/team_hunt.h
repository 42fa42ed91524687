#pragma once
// The team link's core: own plots in (as a hunt observer), numbered, journalled and published
// in order until the broker has each; the team's messages in, checked, de-duplicated by
// (vehicle, hunt, seq) and kept per vehicle. It owns the journal and the per-vehicle state;
// it knows nothing of the network beyond the TeamTransport it is given and never blocks.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/hunt_events.h"
#include "app/write_notice.h"
#include "platform/platform.h"
#include "team/team_journal.h"
#include "team/team_kml.h"
#include "team/team_transport.h"

namespace kestrel {
class Form_Kestrelmap;
}

namespace kestrel::team {

constexpr int64_t kPositionIntervalMs = 10000;
// A 10-s timer may fire a little early; a tick this close to the interval counts as on time.
constexpr int64_t kPositionSlackMs = 500;

struct TeamCounters {
    int64_t received = 0;    // other vehicles' plots accepted, each once
    int64_t positions = 0;   // other vehicles' position messages accepted
    int64_t duplicates = 0;  // plots that came again (same vehicle, hunt and seq)
    int64_t echoes = 0;      // our own messages coming back from the broker
    std::array<int64_t, kRejectionKinds> rejected{};  // indexed by Rejection
    int64_t journalDamagedLines = 0;
};

// Where the vehicle is now (latitude, longitude), or nothing.
using PositionSource = std::function<std::optional<std::pair<double, double>>()>;
// The place the panel's digits show; nothing while they show dashes.
PositionSource panelPosition(const Form_Kestrelmap& form);

// The transport, the clock and the message box must outlive it; it lets go of the transport
// when destroyed. A failing journal is told once per run of failures through `messages`.
class TeamHunt : public HuntObserver, private TeamTransportListener {
  public:
    TeamHunt(TeamNames names, std::string journalPath, TeamTransport& transport, Clock& clock,
             MessageBox& messages, PositionSource position);
    ~TeamHunt() override;
    TeamHunt(const TeamHunt&) = delete;
    TeamHunt& operator=(const TeamHunt&) = delete;

    // Reads the journal (seq goes on from it, unacknowledged plots wait to be sent again) and
    // starts sending when the link is up. Call once.
    void start();

    void plotMade(const PlotRecord& record) override;

    // Call every 10 s (or more often): publishes the position every 10 s while the link is up,
    // when the position source has one.
    void tick();

    // A plot of another vehicle arrived for the first time.
    std::function<void(const TeamPlot&)> onPlotReceived;
    // Anything on the team map changed (a plot either way, a position).
    std::function<void()> onTeamChanged;

    const TeamNames& names() const { return m_names; }
    // The own vehicle first, then the others in order of first appearance.
    const std::vector<VehicleState>& vehicles() const { return m_vehicles; }
    const TeamCounters& counters() const { return m_counters; }
    size_t queuedCount() const;  // own plots the broker has not acknowledged
    bool linkIsUp() const { return m_transport.isUp(); }

    std::string teamDocument(std::string_view vectorColour) const;

  private:
    struct OwnPlot {
        std::string payload;
        bool acknowledged = false;
    };

    void linkUp() override;
    void linkDown() override;
    void published(int messageId) override;
    void messageArrived(std::string_view topic, std::string_view payload) override;

    void sendWaiting();
    void publishPosition(int64_t nowMs);
    void acceptPlot(TeamPlot plot, int64_t nowMs);
    void acceptPosition(TeamPosition position, int64_t nowMs);
    VehicleState& vehicle(const std::string& name);
    void changed();
    void journalled(bool written);

    TeamNames m_names;
    TeamJournal m_journal;
    TeamTransport& m_transport;
    Clock& m_clock;
    WriteNotice m_journalNotice;
    PositionSource m_positionSource;
    std::vector<VehicleState> m_vehicles;
    std::map<int64_t, OwnPlot> m_own;   // by seq
    std::map<int, int64_t> m_inFlight;  // message id -> seq, this connection only
    int64_t m_lastSeq = 0;
    int64_t m_lastPositionMs = 0;
    TeamCounters m_counters;
};

// Writes the team map to <folder><stamp>_team.kml and <folder>Current_Team.kml, the hunt's own
// vehicle in the window's vectors colour.
void writeTeamMap(const TeamHunt& hunt, Form_Kestrelmap& form, WriteNotice& notice);

}  // namespace kestrel::team
