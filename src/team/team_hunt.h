#pragma once
// The team link's core: own plots in (as a hunt observer), numbered, journalled and published
// in order until the broker has each; the team's messages in, checked, de-duplicated by
// (vehicle, hunt, seq) and kept per vehicle. Own plots left out of the fix by hand (and taken
// back in) go the same way, after the plot they name; the team's such changes are applied once
// each, the latest (by rev) winning. It owns the journal and the per-vehicle state;
// it knows nothing of the network beyond the TeamTransport it is given and never blocks.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
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
    int64_t exclusions = 0;  // other vehicles' exclusion changes accepted, each once
    // Plots that came again (same vehicle, hunt and seq), and exclusions no newer (by rev) than
    // the last one seen for their plot.
    int64_t duplicates = 0;
    int64_t echoes = 0;  // our own messages coming back from the broker
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

    // Leaves own plot `seq` out of the fix of every car in the team (or takes it back in): the
    // change is journalled and sent until the broker has it, after the plot itself. False, and
    // nothing sent, when there is no own plot `seq` or it already is so.
    bool setOwnExclusion(int64_t seq, bool excluded);
    // Whether own plot `seq` is left out; nothing when there is no such plot.
    std::optional<bool> ownExclusion(int64_t seq) const;
    // Whether the plot `seq` of `vehicle` (this one or another) is known and left out.
    bool isExcluded(const std::string& vehicle, int64_t seq) const;
    // The seq of the latest own plot; 0 before the first.
    int64_t lastOwnSeq() const { return m_lastSeq; }

    // A plot of another vehicle arrived for the first time.
    std::function<void(const TeamPlot&)> onPlotReceived;
    // A plot of another vehicle was left out of the fix or taken back in by its vehicle; for a
    // plot that comes after its exclusion, told right after onPlotReceived.
    std::function<void(const std::string& vehicle, int64_t seq, bool excluded)> onExclusionReceived;
    // Anything on the team map changed (a plot either way, a position).
    std::function<void()> onTeamChanged;

    const TeamNames& names() const { return m_names; }
    // The own vehicle first, then the others in order of first appearance.
    const std::vector<VehicleState>& vehicles() const { return m_vehicles; }
    const TeamCounters& counters() const { return m_counters; }
    size_t queuedCount() const;           // own plots the broker has not acknowledged
    size_t queuedExclusionCount() const;  // own exclusion changes it has not acknowledged
    bool linkIsUp() const { return m_transport.isUp(); }

    std::string teamDocument(std::string_view vectorColour) const;

  private:
    struct OwnMessage {
        std::string payload;
        bool acknowledged = false;
    };
    // A message on its way on this connection: an own plot by seq, an exclusion by rev.
    struct InFlight {
        bool exclusion = false;
        int64_t key = 0;
        auto operator<=>(const InFlight&) const = default;
    };
    struct ExclusionState {
        bool excluded = false;
        int64_t rev = 0;  // 0: nothing heard
    };

    void linkUp() override;
    void linkDown() override;
    void published(int messageId) override;
    void messageArrived(std::string_view topic, std::string_view payload) override;

    void sendWaiting();
    bool sendEach(const std::map<int64_t, OwnMessage>& waiting, bool exclusion,
                  const std::string& topic, const std::set<InFlight>& onTheWay);
    void restoreExclusions(JournalContents& journal);
    void ownArrived(const std::map<int64_t, OwnMessage>& own, int64_t key,
                    std::string_view payload);
    void acceptExclusion(const TeamExclusion& exclusion, int64_t nowMs);
    bool applyTeamExclusion(const TeamExclusion& exclusion);
    void tellPendingExclusion(const std::string& vehicle, int64_t seq);
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
    std::map<int64_t, OwnMessage> m_own;            // plots by seq
    std::map<int64_t, OwnMessage> m_ownExclusions;  // exclusion changes by rev
    std::map<int64_t, bool> m_ownExcluded;          // by seq: left out of the fix
    // Other vehicles' plots, by vehicle and seq: the latest change heard, also for plots that
    // have not arrived yet.
    std::map<std::string, std::map<int64_t, ExclusionState>> m_teamExclusions;
    std::map<int, InFlight> m_inFlight;  // message id -> what it is, this connection only
    int64_t m_lastSeq = 0;
    int64_t m_lastRev = 0;
    int64_t m_lastPositionMs = 0;
    TeamCounters m_counters;
};

// Writes the team map to <folder><stamp>_team.kml and <folder>Current_Team.kml, the hunt's own
// vehicle in the window's vectors colour.
void writeTeamMap(const TeamHunt& hunt, Form_Kestrelmap& form, WriteNotice& notice);

}  // namespace kestrel::team
