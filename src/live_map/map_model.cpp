#include "live_map/map_model.h"

#include <map>
#include <optional>

#include "app/text_number.h"
#include "estimate/gates.h"
#include "live_map/map_documents.h"
#include "live_map/plot_review.h"

namespace kestrel::live_map {

namespace {

using nlohmann::json;

// Names from the network are checked UTF-8 already; a stray byte still never stops a dump.
std::string dumped(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// The ids of `before` that `after` no longer draws, for a message's "remove".
void addGone(json& remove, const std::vector<json>& before, const std::vector<json>& after) {
    for (const json& old : before) {
        const std::string id = old.value("id", std::string());
        bool drawn = false;
        for (const json& feature : after) {
            drawn = drawn || feature.value("id", std::string()) == id;
        }
        if (!drawn) {
            remove.push_back(id);
        }
    }
}

void append(json& upsert, const std::vector<json>& features) {
    for (const json& feature : features) {
        upsert.push_back(feature);
    }
}

}  // namespace

MapModel::MapModel(Form_Kestrelmap& form, const HuntEstimate& estimate)
    : m_form(form), m_estimate(estimate) {
    m_form.addObserver(*this);
}

MapModel::~MapModel() {
    m_form.removeObserver(*this);
}

void MapModel::huntStarted() {
    m_view = HuntView{};
    m_view.stamp = m_form.stamp();
    m_view.live = true;
    m_view.vectorColour = cssColour(m_form.VECTOR_COLOR);
    m_view.night = m_form.OptionsForm.nightPanel();
    m_view.vehicle = vehicleNow();
    m_view.estimate = m_estimate.estimate();
    m_view.status = m_form.Label_IDENT.Caption;
    m_token = newToken();
    m_lastTrackMs = 0;
    send({{"type", "hunt"}, {"stamp", m_view.stamp}});
}

// What the panel shows now: the course and speed only while the GPS is the source and fresh,
// the bearing only while the direction finder is the source and fresh.
VehicleNow MapModel::vehicleNow() const {
    VehicleNow now;
    if (const auto shown = m_form.shownPosition()) {
        now.shown = true;
        now.latitudeDeg = shown->latitude;
        now.longitudeDeg = shown->longitude;
    }
    if (m_form.CmdButton_POSIT_SOURCE.Tag != "MAN" && m_form.GPS_TIMEOUT > 0 && now.shown) {
        now.courseDeg = m_form.COURSE;
        now.speedKnots = m_form.SPEED;
    }
    if (const auto heading = m_form.freshHeading()) {
        now.headingDeg = heading->trueDegrees;
    }
    if (m_form.CmdButton_DF_SOURCE.Tag != "MAN" && now.shown) {
        now.liveBearingDeg = m_form.drawableBearing();
    }
    now.rangeMiles = leadingNumber(m_form.CmdButton_RANGE.Tag);
    return now;
}

void MapModel::eventHandled() {
    json upsert = json::array();
    json remove = json::array();
    json message = {{"type", "features"}};
    const VehicleNow now = vehicleNow();
    if (!(now == m_view.vehicle)) {
        const std::vector<json> before = vehicleFeatures(m_view);
        m_view.vehicle = now;
        const std::vector<json> features = vehicleFeatures(m_view);
        append(upsert, features);
        addGone(remove, before, features);
    }
    const std::string colour = cssColour(m_form.VECTOR_COLOR);
    if (colour != m_view.vectorColour) {
        m_view.vectorColour = colour;
        for (const MapPlot& plot : m_view.plots) {
            if (plot.vehicle.empty()) {
                append(upsert, plotFeatures(m_view, plot));
            }
        }
    }
    if (m_form.Label_IDENT.Caption != m_view.status) {
        // The words change as the car moves ("from here"): the estimate's point carries them,
        // its ellipse stays as it is.
        m_view.status = m_form.Label_IDENT.Caption;
        message["status"] = m_view.status;
        for (json& feature : estimateFeatures(m_view)) {
            if (feature.value("id", std::string()) == "estimate") {
                upsert.push_back(std::move(feature));
            }
        }
    }
    if (m_form.OptionsForm.nightPanel() != m_view.night) {
        m_view.night = m_form.OptionsForm.nightPanel();
        message["night"] = m_view.night;
    }
    if (!upsert.empty() || !remove.empty() || message.size() > 1) {
        message["upsert"] = std::move(upsert);
        message["remove"] = std::move(remove);
        send(std::move(message));
    }
    addTrackPoint(m_form.platform().clock.utcMilliseconds());
}

// The track takes the GPS positions the panel shows, one a second at most.
void MapModel::addTrackPoint(int64_t nowMs) {
    const VehicleNow& now = m_view.vehicle;
    if (!now.shown || m_form.CmdButton_POSIT_SOURCE.Tag == "MAN" || m_form.GPS_TIMEOUT <= 0 ||
        (m_lastTrackMs != 0 && nowMs - m_lastTrackMs < 1000)) {
        return;
    }
    std::vector<TrackPoint>& track = m_view.track;
    if (!track.empty() && track.back().latitudeDeg == now.latitudeDeg &&
        track.back().longitudeDeg == now.longitudeDeg) {
        return;
    }
    m_lastTrackMs = nowMs;
    if (track.size() >= kMaxLiveTrackPoints) {
        track.erase(track.begin(), track.begin() + kMaxLiveTrackPoints / 10);
    }
    track.push_back({nowMs, now.latitudeDeg, now.longitudeDeg});
    send({{"type", "track"},
          {"append", json::array({json::array({now.longitudeDeg, now.latitudeDeg})})}});
}

MapPlot MapModel::mapPlot(const PlotRecord& plot, const std::string& vehicle) const {
    MapPlot out;
    out.row = m_estimate.rows();
    out.plotNumber = plot.plotNumber;
    out.utcMilliseconds = plot.utcMilliseconds;
    out.latitudeDeg = plot.latitudeDegrees;
    out.longitudeDeg = plot.longitudeDegrees;
    out.bearingDeg = plot.bearingDegrees;
    out.relativeDeg = plot.relativeDegrees;
    out.quality = plot.quality;
    out.rangeMiles =
        vehicle.empty() ? leadingNumber(m_form.CmdButton_RANGE.Tag) : team::kTeamLineMiles;
    out.positionSource = plot.positionFromGps ? "GPS" : "MAN";
    out.bearingSource = plot.bearingFromDf ? "DF" : "MAN";
    out.vehicle = vehicle;
    return out;
}

void MapModel::plotMade(const PlotRecord& plot) {
    plotAdded(plot, {});
}

void MapModel::teamPlotReceived(const PlotRecord& plot, const std::string& vehicle) {
    plotAdded(plot, vehicle);
}

void MapModel::plotAdded(const PlotRecord& plot, const std::string& vehicle) {
    m_view.plots.push_back(mapPlot(plot, vehicle));
    json upsert = json::array();
    json remove = json::array();
    estimateChanged(upsert, remove);
    append(upsert, plotFeatures(m_view, m_view.plots.back()));
    send({{"type", "features"},
          {"upsert", std::move(upsert)},
          {"remove", std::move(remove)},
          {"status", m_view.status}});
}

// Every earlier plot whose verdict the new estimate changed is drawn again, then the estimate.
void MapModel::estimateChanged(json& upsert, json& remove) {
    std::map<int, HuntEstimate::RowVerdict> verdicts;
    for (const HuntEstimate::RowVerdict& verdict : m_estimate.verdicts()) {
        verdicts[verdict.row] = verdict;
    }
    for (MapPlot& plot : m_view.plots) {
        std::optional<bool> used;
        bool excluded = false;
        std::string leftOutAs;
        if (const auto found = verdicts.find(plot.row); found != verdicts.end()) {
            used = found->second.used;
            excluded = found->second.excluded;
            if (!used.value_or(true) && !excluded) {
                leftOutAs = estimate::verdictText(found->second.verdict);
            }
        }
        const PlotReview* review = m_estimate.review(plot.row);
        const std::string note = review ? review->note : std::string();
        if (used != plot.used || excluded != plot.excluded || note != plot.note ||
            leftOutAs != plot.leftOutAs) {
            plot.used = used;
            plot.excluded = excluded;
            plot.leftOutAs = leftOutAs;
            plot.note = note;
            if (&plot != &m_view.plots.back()) {  // the new plot is drawn by the caller
                append(upsert, plotFeatures(m_view, plot));
            }
        }
    }
    const std::vector<json> before = estimateFeatures(m_view);
    m_view.estimate = m_estimate.estimate();
    m_view.status = m_form.Label_IDENT.Caption;
    const std::vector<json> features = estimateFeatures(m_view);
    append(upsert, features);
    addGone(remove, before, features);
}

void MapModel::plotReviewed() {
    json upsert = json::array();
    json remove = json::array();
    estimateChanged(upsert, remove);
    // the last plot is not drawn by estimateChanged: it may be the one reviewed
    if (!m_view.plots.empty()) {
        append(upsert, plotFeatures(m_view, m_view.plots.back()));
    }
    send({{"type", "features"},
          {"upsert", std::move(upsert)},
          {"remove", std::move(remove)},
          {"status", m_view.status}});
}

void MapModel::teamChanged(const std::vector<team::VehicleState>& vehicles) {
    std::vector<TeamVehicle> team;
    for (size_t i = 1; i < vehicles.size(); ++i) {
        TeamVehicle vehicle;
        vehicle.name = vehicles[i].name;
        vehicle.colour = cssColour(std::string(team::paletteColour(i - 1)));
        if (const auto& position = vehicles[i].position) {
            vehicle.position = TrackPoint{utcMillisecondsFromIso(position->utc).value_or(0),
                                          position->latitudeDegrees, position->longitudeDegrees};
        }
        team.push_back(std::move(vehicle));
    }
    const bool newVehicles = team.size() != m_view.team.size();
    m_view.team = std::move(team);
    json upsert = json::array();
    append(upsert, teamFeatures(m_view));
    if (newVehicles) {
        // plots that came before their vehicle was known are drawn again in its colour
        for (const MapPlot& plot : m_view.plots) {
            if (!plot.vehicle.empty()) {
                append(upsert, plotFeatures(m_view, plot));
            }
        }
    }
    send({{"type", "features"}, {"upsert", std::move(upsert)}, {"remove", json::array()}});
}

void MapModel::send(json message) {
    message["revision"] = ++m_revision;
    if (onMessage) {
        onMessage(dumped(message));
    }
}

const std::string& MapModel::snapshotText() {
    if (m_snapshotRevision != m_revision) {
        json document = huntGeoJson(m_view);
        document["revision"] = m_revision;
        document["token"] = m_token;
        m_snapshot = dumped(document);
        m_snapshotRevision = m_revision;
    }
    return m_snapshot;
}

std::string MapModel::helloMessage() const {
    return dumped({{"type", "hello"}, {"stamp", m_view.stamp}, {"revision", m_revision}});
}

}  // namespace kestrel::live_map
