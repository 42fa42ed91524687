#pragma once
// The plot log: every plot of the hunt as one CSV row, in <folder><stamp>_plots.csv and in
// <folder>Current_Plots.csv. Unlike the map, which holds the 99 plots of the plot table, the log
// keeps every plot of the hunt. Both files are rewritten whole from the rows in memory (readers
// never see half a row); a failed write loses nothing, the next plot writes everything again.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/hunt_events.h"
#include "app/write_notice.h"
#include "estimate/estimator.h"
#include "platform/platform.h"

namespace kestrel {

// What the hunter said of a plot afterwards: left out of the fix by hand, and a note (plain
// text, written in double quotes when it holds a comma or a quote).
struct PlotReview {
    bool excluded = false;
    std::string note;
    bool operator==(const PlotReview&) const = default;
};

// One row, CR LF ended: "." decimal point whatever the locale, empty fields for absent values.
// `used` is the estimator's verdict on this row's bearing when it was plotted (none when the
// row has no bearing); `taken` says how the bearing was taken: turn rate, spread, confidence
// and power to one decimal, the frequency in whole hertz, each rounded to the nearest.
std::string plotLogRow(const PlotRecord& plot, std::optional<bool> used, std::string_view vehicle,
                       const PlotReview& review = {}, const estimate::Taking& taken = {});
std::string plotLogHeader();

class PlotLog {
  public:
    PlotLog(TextFiles& files, MessageBox& messages);

    // A new hunt: both files get the header line. A failure here is left to start-up's message.
    void start(const std::string& folder, const std::string& stamp);
    void append(const PlotRecord& plot, std::optional<bool> used, std::string_view vehicle = {},
                const estimate::Taking& taken = {});
    // Data row `row` (from 1) reviewed again: both files are written anew. False when there is
    // no such row.
    bool review(int row, const PlotReview& review);
    const std::string& text() const { return m_text; }

  private:
    struct Row {
        PlotRecord plot;
        std::optional<bool> used;
        std::string vehicle;
        PlotReview review;
        estimate::Taking taken;
    };
    void write(bool quietly);

    TextFiles& m_files;
    WriteNotice m_notice;
    std::array<std::string, 2> m_paths;
    std::vector<Row> m_rows;
    std::string m_text;
};

}  // namespace kestrel
