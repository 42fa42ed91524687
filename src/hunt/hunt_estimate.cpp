#include "hunt/hunt_estimate.h"

#include <algorithm>

#include "hunt/status_line.h"

namespace kestrel {

HuntEstimate::HuntEstimate(Form_Kestrelmap& form)
    : m_form(form),
      m_quality(form),
      m_log(form.platform().files, form.platform().messages),
      m_estimateNotice(form.platform().messages, "estimate file",
                       "The plots are kept; the next plot writes the estimate again.") {
    m_form.addObserver(*this);
}

HuntEstimate::~HuntEstimate() {
    m_form.removeObserver(*this);
}

void HuntEstimate::huntStarted() {
    const std::string& folder = m_form.folder();
    m_log.start(folder, m_form.stamp());
    m_estimatePaths = {folder + m_form.stamp() + "_estimate.kml", folder + "Current_Estimate.kml"};
    m_bearings.clear();
    m_verdicts.clear();
    m_estimate = estimate::estimateFix({});
    m_vehiclesContributing = 0;
    m_rows = 0;
    m_reviews.clear();
    m_hasBearing.clear();
    writeAll(m_form.platform().files, m_estimateNotice, m_estimatePaths,
             estimate::buildEstimateKml(m_estimate,
                                        isoUtcText(m_form.platform().clock.utcMilliseconds())),
             true);
    showStatus();
}

void HuntEstimate::plotMade(const PlotRecord& plot) {
    ++m_rows;
    m_reviews.emplace_back();
    m_hasBearing.push_back(plot.bearingDegrees.has_value());
    const estimate::Taking taken = m_quality.judge(plot);
    m_log.append(plot, addBearing(plot, {}, taken), m_vehicle, taken);
    showStatus();
}

void HuntEstimate::teamPlotReceived(const PlotRecord& plot, const std::string& vehicle) {
    ++m_rows;
    m_reviews.emplace_back();
    m_hasBearing.push_back(plot.bearingDegrees.has_value());
    m_log.append(plot, addBearing(plot, vehicle, {}), vehicle);
    showStatus();
}

std::vector<HuntEstimate::RowVerdict> HuntEstimate::verdicts() const {
    std::vector<RowVerdict> out;
    for (size_t i = 0; i < m_bearings.size() && i < m_verdicts.size(); ++i) {
        const estimate::Verdict verdict = m_verdicts[i];
        out.push_back({m_bearings[i].row, verdict == estimate::Verdict::Used,
                       verdict == estimate::Verdict::Excluded, verdict});
    }
    return out;
}

const PlotReview* HuntEstimate::review(int row) const {
    if (row < 1 || static_cast<size_t>(row) > m_reviews.size()) {
        return nullptr;
    }
    return &m_reviews[static_cast<size_t>(row) - 1];
}

// The plots the estimate does not weigh, by why: "plot 5 (beside the barn), plot 9" left out
// by hand, each with its note; "plot 7, blue 3" held back by a gate.
estimate::LeftOut HuntEstimate::leftOut() const {
    estimate::LeftOut out;
    for (size_t i = 0; i < m_bearings.size() && i < m_verdicts.size(); ++i) {
        const TeamBearing& entry = m_bearings[i];
        const PlotReview& kept = *review(entry.row);
        std::string* list = m_verdicts[i] == estimate::Verdict::Excluded        ? &out.byHand
                            : m_verdicts[i] == estimate::Verdict::Turning       ? &out.turning
                            : m_verdicts[i] == estimate::Verdict::LowConfidence ? &out.lowConfidence
                                                                                : nullptr;
        if (list) {
            *list += (list->empty() ? "" : ", ") +
                     (entry.vehicle.empty() ? std::string("plot ") : entry.vehicle + " ") +
                     std::to_string(entry.bearing.id) +
                     (list == &out.byHand && !kept.note.empty() ? " (" + kept.note + ")" : "");
        }
    }
    return out;
}

int HuntEstimate::excludedCount() const {
    return static_cast<int>(
        std::count_if(m_bearings.begin(), m_bearings.end(),
                      [this](const TeamBearing& entry) { return review(entry.row)->excluded; }));
}

HuntEstimate::Review HuntEstimate::setExcluded(int row, bool excluded, int64_t utcMilliseconds) {
    if (!review(row)) {
        return Review::NoSuchRow;
    }
    if (!m_hasBearing[static_cast<size_t>(row) - 1]) {
        return Review::NoBearing;
    }
    PlotReview& kept = m_reviews[static_cast<size_t>(row) - 1];
    if (kept.excluded == excluded) {
        return Review::Unchanged;
    }
    kept.excluded = excluded;
    m_log.review(row, kept);
    update(utcMilliseconds);
    showStatus();
    return Review::Changed;
}

HuntEstimate::Review HuntEstimate::setNote(int row, std::string note) {
    if (!review(row)) {
        return Review::NoSuchRow;
    }
    PlotReview& kept = m_reviews[static_cast<size_t>(row) - 1];
    if (kept.note == note) {
        return Review::Unchanged;
    }
    kept.note = std::move(note);
    m_log.review(row, kept);
    if (kept.excluded) {  // the estimate map names the plot with its note
        writeAll(m_form.platform().files, m_estimateNotice, m_estimatePaths,
                 estimate::buildEstimateKml(
                     m_estimate, isoUtcText(m_form.platform().clock.utcMilliseconds()), leftOut()));
    }
    return Review::Changed;
}

std::optional<bool> HuntEstimate::addBearing(const PlotRecord& plot, const std::string& vehicle,
                                             const estimate::Taking& taken) {
    if (!plot.bearingDegrees) {
        return std::nullopt;
    }
    m_bearings.push_back({{plot.plotNumber, plot.latitudeDegrees, plot.longitudeDegrees,
                           double(*plot.bearingDegrees), plot.quality, taken},
                          vehicle,
                          m_rows});
    // Each vehicle's most recent 99 bearings count: the oldest of this vehicle's goes.
    if (std::count_if(m_bearings.begin(), m_bearings.end(), [&](const TeamBearing& entry) {
            return entry.vehicle == vehicle;
        }) > static_cast<std::ptrdiff_t>(kBearingsKept)) {
        m_bearings.erase(
            std::find_if(m_bearings.begin(), m_bearings.end(),
                         [&](const TeamBearing& entry) { return entry.vehicle == vehicle; }));
    }
    update(plot.utcMilliseconds);
    return m_verdicts.back() == estimate::Verdict::Used;  // the verdict on the bearing just added
}

void HuntEstimate::eventHandled() {
    showStatus();
}

// The bearings not left out by hand go through the gates to the fit; each gets its verdict.
void HuntEstimate::update(int64_t utcMilliseconds) {
    std::vector<estimate::Bearing> bearings;
    std::vector<size_t> weighed;  // their places in m_bearings
    for (size_t i = 0; i < m_bearings.size(); ++i) {
        if (!review(m_bearings[i].row)->excluded) {
            bearings.push_back(m_bearings[i].bearing);
            weighed.push_back(i);
        }
    }
    estimate::GatedEstimate gated = estimate::estimateGated(bearings, m_gates);
    m_estimate = std::move(gated.estimate);
    m_verdicts.assign(m_bearings.size(), estimate::Verdict::Excluded);
    std::set<std::string> vehicles;
    for (size_t k = 0; k < weighed.size(); ++k) {
        m_verdicts[weighed[k]] = gated.verdicts[k];
        if (gated.verdicts[k] != estimate::Verdict::Turning &&
            gated.verdicts[k] != estimate::Verdict::LowConfidence) {
            vehicles.insert(m_bearings[weighed[k]].vehicle);
        }
    }
    m_vehiclesContributing = static_cast<int>(vehicles.size());
    const std::string utc = isoUtcText(utcMilliseconds);
    writeAll(m_form.platform().files, m_estimateNotice, m_estimatePaths,
             estimate::buildEstimateKml(m_estimate, utc, leftOut()));
    if (onVerdict) {
        onVerdict(m_estimate.shown ? estimate::describeEstimate(m_estimate, utc)
                                   : "no estimate: " + m_estimate.reason);
    }
}

// The caption is set only when its text changes: the shell re-syncs after every event.
void HuntEstimate::showStatus() {
    std::optional<Here> here;
    if (const auto shown = m_form.shownPosition()) {
        here = Here{shown->latitude, shown->longitude};
    }
    std::string text = statusLine(m_estimate, here, m_vehiclesContributing, excludedCount());
    if (text != m_form.Label_IDENT.Caption) {
        m_form.Label_IDENT.Caption = std::move(text);
    }
}

}  // namespace kestrel
