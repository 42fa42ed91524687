#include "hunt_log/plot_log.h"

#include <cmath>

#include "estimate/number_format.h"
#include "estimate/plot_log_reader.h"

namespace kestrel {

namespace {

constexpr std::string_view kEol = "\r\n";

void appendNumber(std::string& out, std::optional<int> value) {
    if (value) {
        out += std::to_string(*value);
    }
}

// ",12.3": a comma, then the value with `decimals` decimals when there is a finite one.
void appendField(std::string& out, std::optional<double> value, int decimals) {
    out += ',';
    if (value && std::isfinite(*value)) {
        out += estimate::fixedText(*value, decimals);
    }
}

}  // namespace

std::string plotLogHeader() {
    return std::string(estimate::kPlotLogHeader) + std::string(kEol);
}

// plot,utc,lat,lon,bearing,relative,course,speed_kn,quality,position_source,bearing_source,
// used,heading_from,vehicle,excluded,note,turn_rate,spread,confidence,power_db,frequency_hz
std::string plotLogRow(const PlotRecord& plot, std::optional<bool> used, std::string_view vehicle,
                       const PlotReview& review, const estimate::Taking& taken) {
    std::string row =
        std::to_string(plot.plotNumber) + ',' + isoUtcText(plot.utcMilliseconds) + ',';
    row += estimate::fixedText(plot.latitudeDegrees, 6) + ',';
    row += estimate::fixedText(plot.longitudeDegrees, 6) + ',';
    appendNumber(row, plot.bearingDegrees);
    row += ',';
    appendNumber(row, plot.relativeDegrees);
    row += ',';
    appendNumber(row, plot.courseDegrees);
    row += ',';
    appendNumber(row, plot.speedKnots);
    row += ',';
    appendNumber(row, plot.quality);
    row += plot.positionFromGps ? ",GPS" : ",MAN";
    row += plot.bearingFromDf ? ",DF," : ",MAN,";
    if (plot.bearingDegrees && used) {
        row += *used ? '1' : '0';
    }
    row += ',';
    if (plot.bearingDegrees && plot.bearingFromDf) {
        row += plot.headingFrom;
    }
    row += ',';
    // A vehicle name is the team's choice: a comma or a quote in it would break the columns.
    for (char c : vehicle) {
        row += (c == ',' || c == '"' || c == '\r' || c == '\n') ? '_' : c;
    }
    row += review.excluded ? ",1," : ",,";
    row += estimate::csvField(review.note);
    appendField(row, taken.turnRateDegPerS, 1);
    appendField(row, taken.spreadDeg, 1);
    appendField(row, taken.confidence, 1);
    appendField(row, taken.powerDb, 1);
    appendField(row, taken.frequencyHz, 0);
    row += kEol;
    return row;
}

PlotLog::PlotLog(TextFiles& files, MessageBox& messages)
    : m_files(files),
      m_notice(messages, "plot log",
               "The plots are kept in memory; the next plot writes the log again.") {}

void PlotLog::start(const std::string& folder, const std::string& stamp) {
    m_paths = {folder + stamp + "_plots.csv", folder + "Current_Plots.csv"};
    m_rows.clear();
    m_text = plotLogHeader();
    write(true);
}

void PlotLog::append(const PlotRecord& plot, std::optional<bool> used, std::string_view vehicle,
                     const estimate::Taking& taken) {
    m_rows.push_back({plot, used, std::string(vehicle), {}, taken});
    m_text += plotLogRow(plot, used, vehicle, {}, taken);
    write(false);
}

// Rare: the whole text is made again from the rows.
bool PlotLog::review(int row, const PlotReview& review) {
    if (row < 1 || static_cast<size_t>(row) > m_rows.size()) {
        return false;
    }
    m_rows[static_cast<size_t>(row) - 1].review = review;
    m_text = plotLogHeader();
    for (const Row& each : m_rows) {
        m_text += plotLogRow(each.plot, each.used, each.vehicle, each.review, each.taken);
    }
    write(false);
    return true;
}

void PlotLog::write(bool quietly) {
    writeAll(m_files, m_notice, m_paths, m_text, quietly);
}

}  // namespace kestrel
