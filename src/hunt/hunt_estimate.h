#pragma once
// What the hunt knows beyond the designed map: it keeps the plot log, runs the fix estimate
// after every plot on the bearing lines drawn (the most recent 99), writes the estimate map and
// keeps the status line under the panel up to date. It attaches to the main window as an
// observer and only ever writes Label_IDENT's caption there.

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "app/form_kestrelmap.h"
#include "estimate/estimator.h"
#include "hunt_log/plot_log.h"
#include "hunt_log/write_notice.h"

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

    const estimate::Estimate& estimate() const { return m_estimate; }
    const PlotLog& plotLog() const { return m_log; }

  private:
    void update(int64_t utcMilliseconds);
    void showStatus();

    static constexpr size_t kBearingsKept = 99;

    Form_Kestrelmap& m_form;
    PlotLog m_log;
    WriteNotice m_estimateNotice;
    std::vector<std::string> m_estimatePaths;
    std::deque<estimate::Bearing> m_bearings;  // oldest first
    estimate::Estimate m_estimate;
};

}  // namespace kestrel
