#pragma once
// What the hunt knows beyond the designed map: it keeps the plot log, runs the fix estimate
// after every plot on the bearing lines drawn (the most recent 99), writes the estimate map and
// keeps the status line under the panel up to date. With a team, other vehicles' bearings join
// the estimate (each vehicle's most recent 99). Each own bearing is judged by how it was taken
// (hunt/bearing_quality.h), and the gates (estimate/gates.h) hold back one taken in a turn or
// with too little confidence. It attaches to the main window as an observer and only ever
// writes Label_IDENT's caption there.

#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/form_kestrelmap.h"
#include "app/write_notice.h"
#include "estimate/estimate_kml.h"
#include "estimate/estimator.h"
#include "estimate/gates.h"
#include "hunt/bearing_quality.h"
#include "hunt_log/plot_log.h"

namespace kestrel {

class HuntEstimate : public HuntObserver {
  public:
    explicit HuntEstimate(Form_Kestrelmap& form);
    ~HuntEstimate() override;
    HuntEstimate(const HuntEstimate&) = delete;
    HuntEstimate& operator=(const HuntEstimate&) = delete;

    void huntStarted() override;
    void plotMade(const PlotRecord& plot) override;
    void eventHandled() override;

    // A team: own rows of the plot log carry this vehicle name (empty without a team).
    void setVehicleName(std::string name) { m_vehicle = std::move(name); }
    // The gates ([estimate] in Kestrelmap.conf): the next estimate weighs the bearings by them.
    void setGates(const estimate::Gates& gates) { m_gates = gates; }
    // The direction finder's word on the bearing it has just given (see
    // BearingQuality::qualityGiven): a plot within the bearing's freshness keeps it in its row,
    // and the confidence gate judges the bearing by it.
    void bearingQuality(double confidence, double powerDb, double frequencyHz, int64_t utcMs) {
        m_quality.qualityGiven(confidence, powerDb, frequencyHz, utcMs);
    }
    // A plot another vehicle of the team made: into the log with its name, and its bearing into
    // the estimate beside the own ones.
    void teamPlotReceived(const PlotRecord& plot, const std::string& vehicle);

    const estimate::Estimate& estimate() const { return m_estimate; }
    // The estimator's verdict on each bearing it weighs now, by the plot log's 1-based data
    // row (plots beyond a vehicle's most recent 99 are weighed no longer and are not listed).
    struct RowVerdict {
        int row = 0;
        bool used = false;
        bool excluded = false;                                // left out by hand (then not used)
        estimate::Verdict verdict = estimate::Verdict::Used;  // and why, when not used
    };
    std::vector<RowVerdict> verdicts() const;
    // Rows written to the plot log in this hunt.
    int rows() const { return m_rows; }

    // The hunter's word on a row of the plot log: left out of the fix, or used again; a note.
    // The estimate is made again at once (status line, estimate map) and the log rewritten.
    enum class Review { Changed, Unchanged, NoSuchRow, NoBearing };
    Review setExcluded(int row, bool excluded, int64_t utcMilliseconds);
    Review setNote(int row, std::string note);
    // The row's review; null for a row that does not exist.
    const PlotReview* review(int row) const;
    // Told the estimate's verdict in a line after every update (for the diagnostics).
    std::function<void(const std::string&)> onVerdict;

  private:
    // Adds a bearing line to the estimate and returns its verdict; none without a line.
    std::optional<bool> addBearing(const PlotRecord& plot, const std::string& vehicle,
                                   const estimate::Taking& taken);
    void update(int64_t utcMilliseconds);
    void showStatus();

    static constexpr size_t kBearingsKept = 99;  // a vehicle's most recent bearing lines

    Form_Kestrelmap& m_form;
    BearingQuality m_quality;
    estimate::Gates m_gates;
    PlotLog m_log;
    WriteNotice m_estimateNotice;
    std::vector<std::string> m_estimatePaths;
    struct TeamBearing {
        estimate::Bearing bearing;
        std::string vehicle;  // empty: this vehicle
        int row = 0;          // its row in the plot log
    };
    std::deque<TeamBearing> m_bearings;         // oldest first
    std::vector<estimate::Verdict> m_verdicts;  // by m_bearings' order, after each estimate
    std::string m_vehicle;
    estimate::Estimate m_estimate;
    int m_vehiclesContributing = 0;     // vehicles whose bearings the estimate weighs
    int m_rows = 0;                     // data rows of the plot log
    std::vector<PlotReview> m_reviews;  // by row - 1
    std::vector<bool> m_hasBearing;     // by row - 1
    int excludedCount() const;
    estimate::LeftOut leftOut() const;
};

}  // namespace kestrel
