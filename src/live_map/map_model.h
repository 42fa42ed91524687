#pragma once
// What the live map page shows of the hunt running now. It watches the main window as an
// observer (after the estimate companion, whose verdicts and status line it reads), keeps the
// hunt as plain data, and tells each change as one small JSON message; the snapshot document
// is built once per change, when it is first asked for, never per request. It only reads the
// window and the estimate, and never blocks.

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "app/form_kestrelmap.h"
#include "hunt/hunt_estimate.h"
#include "live_map/hunt_view.h"
#include "team/team_kml.h"

namespace kestrel::live_map {

// The track keeps at most one point a second and at most this many (a 5.5-hour hunt).
inline constexpr size_t kMaxLiveTrackPoints = 20000;

class MapModel : public HuntObserver {
  public:
    // `estimate` must have been made (and so have started watching `form`) before this.
    MapModel(Form_Kestrelmap& form, const HuntEstimate& estimate);
    ~MapModel() override;
    MapModel(const MapModel&) = delete;
    MapModel& operator=(const MapModel&) = delete;

    void huntStarted() override;
    void plotMade(const PlotRecord& plot) override;
    void eventHandled() override;
    // Another vehicle's plot, after the estimate companion has taken it.
    void teamPlotReceived(const PlotRecord& plot, const std::string& vehicle);
    // A plot was left out, taken back or given a note (through the estimate companion): the
    // plots whose verdict or note changed and the estimate are told.
    void plotReviewed();
    // The team's vehicles as the team link knows them (the own one first).
    void teamChanged(const std::vector<team::VehicleState>& vehicles);

    const HuntView& view() const { return m_view; }
    // Counts the changes: each message carries the count it makes, the snapshot the count it
    // shows, so that a page drops the messages its snapshot holds already.
    int64_t revision() const { return m_revision; }
    // The snapshot (/hunt.geojson) as text, rebuilt only after a change.
    const std::string& snapshotText();
    // The first message on a new connection.
    std::string helloMessage() const;
    // What a page must show to change a plot (the snapshot's "token"): new for every hunt,
    // so a page of an earlier run cannot change this one.
    const std::string& token() const { return m_token; }

    // Told each change message (JSON text) as it happens.
    std::function<void(const std::string&)> onMessage;

  private:
    VehicleNow vehicleNow() const;
    void addTrackPoint(int64_t nowMs);
    MapPlot mapPlot(const PlotRecord& plot, const std::string& vehicle) const;
    void plotAdded(const PlotRecord& plot, const std::string& vehicle);
    // The verdicts and the estimate after a plot: the features that changed.
    void estimateChanged(nlohmann::json& upsert, nlohmann::json& remove);
    void send(nlohmann::json message);

    Form_Kestrelmap& m_form;
    const HuntEstimate& m_estimate;
    HuntView m_view;
    int64_t m_revision = 0;
    int64_t m_snapshotRevision = -1;
    std::string m_snapshot;
    std::string m_token;
    int64_t m_lastTrackMs = 0;
};

}  // namespace kestrel::live_map
