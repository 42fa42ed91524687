#pragma once

// Reading a hunt's plot log (CSV) back into bearings for the fix estimate. The column names
// here are the ones the plot log is written with; only lat, lon and bearing are required,
// columns are found by their header name and unknown ones are ignored (a log written before
// the last five columns existed reads as one whose bearings were taken in no known way).

#include <string>
#include <string_view>
#include <vector>

#include "estimate/estimator.h"

namespace kestrel::estimate {

// The columns the reader looks for (the plot log has more; see kPlotLogHeader).
namespace column {
inline constexpr std::string_view kPlot = "plot";
inline constexpr std::string_view kLat = "lat";
inline constexpr std::string_view kLon = "lon";
inline constexpr std::string_view kBearing = "bearing";
inline constexpr std::string_view kQuality = "quality";
inline constexpr std::string_view kExcluded = "excluded";
inline constexpr std::string_view kTurnRate = "turn_rate";
inline constexpr std::string_view kSpread = "spread";
inline constexpr std::string_view kConfidence = "confidence";
inline constexpr std::string_view kPowerDb = "power_db";
inline constexpr std::string_view kFrequencyHz = "frequency_hz";
}  // namespace column

// The plot log's header line in its column order (without a line end).
inline constexpr std::string_view kPlotLogHeader =
    "plot,utc,lat,lon,bearing,relative,course,speed_kn,quality,position_source,bearing_source,"
    "used,heading_from,vehicle,excluded,note,turn_rate,spread,confidence,power_db,frequency_hz";

struct PlotLog {
    std::vector<Bearing> bearings;  // rows with a bearing, in file order, but those left out
    int excludedRows = 0;           // rows with a bearing left out by hand ("excluded" 1)
    struct ExcludedRow {
        int id = 0;
        size_t bearingsBefore = 0;  // how many of `bearings` stand before it in the file
    };
    std::vector<ExcludedRow> excluded;  // those rows, in file order
    bool hasPlotColumn = false;         // ids are plot numbers; otherwise data row numbers (1 on)
    bool ok = false;
    int errorLine = 0;  // the file's line number (1 = header) of the first fault
    std::string error;  // what is wrong there, e.g. "lat 91.5 is out of range"
};

// Reads the whole text; the first malformed line stops the reading with its line and fault.
PlotLog readPlotLog(std::string_view text);

// The fields of one CSV line: separated by commas, a field in double quotes may hold commas
// and doubled quotes (a note). Blanks around an unquoted field are dropped.
std::vector<std::string> csvFields(std::string_view line);
// A field as csvFields reads it back: quoted only when it holds a comma or a quote.
std::string csvField(std::string_view text);

}  // namespace kestrel::estimate
