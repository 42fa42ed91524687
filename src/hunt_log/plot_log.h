#pragma once
// The plot log: every plot of the hunt as one CSV row, in <folder><stamp>_plots.csv and in
// <folder>Current_Plots.csv. Unlike the map, which holds the 99 plots of the plot table, the log
// keeps every plot of the hunt. Both files are rewritten whole from the rows in memory (readers
// never see half a row); a failed write loses nothing, the next plot writes everything again.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "app/hunt_events.h"
#include "app/write_notice.h"
#include "platform/platform.h"

namespace kestrel {

// One row, CR LF ended: "." decimal point whatever the locale, empty fields for absent values.
// `used` is the estimator's verdict on this row's bearing (none when the row has no bearing).
std::string plotLogRow(const PlotRecord& plot, std::optional<bool> used, std::string_view vehicle);
std::string plotLogHeader();

class PlotLog {
  public:
    PlotLog(TextFiles& files, MessageBox& messages);

    // A new hunt: both files get the header line. A failure here is left to start-up's message.
    void start(const std::string& folder, const std::string& stamp);
    void append(const PlotRecord& plot, std::optional<bool> used, std::string_view vehicle = {});
    const std::string& text() const { return m_text; }

  private:
    void write(bool quietly);

    TextFiles& m_files;
    WriteNotice m_notice;
    std::array<std::string, 2> m_paths;
    std::string m_text;
};

}  // namespace kestrel
