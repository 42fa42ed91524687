#pragma once
// The hunts of earlier runs, read back from their files for the map page: the list of plot
// logs in the hunt folder and one hunt rebuilt as a HuntView from its plot log and input log.
// It only reads: it opens no file whose name is not built from a well-formed stamp, reads at
// most kMaxFileBytes of each, and never throws.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "live_map/hunt_view.h"

namespace kestrel::live_map {

inline constexpr size_t kMaxFileBytes = 16u << 20;  // a bigger file is "too large"
inline constexpr size_t kMaxListedHunts = 200;
inline constexpr size_t kMaxTrackPoints = 20000;  // the track keeps its first points
inline constexpr double kPastRangeMiles = 2;      // the log does not keep the range setting

struct PastHunt {
    std::string stamp;                     // MMDDYY_HHMMSS
    int plots = 0;                         // rows that could be read
    int64_t firstPlotUtcMilliseconds = 0;  // 0: no plot, or its time not known
};

// "MMDDYY_HHMMSS": six digits, an underscore, six digits.
bool isHuntStamp(std::string_view stamp);

// Every <folder><stamp>_plots.csv, newest first by the date in its stamp (year, month, day,
// time), at most kMaxListedHunts. `folder` ends with its separator (empty: the current folder).
std::vector<PastHunt> listHunts(const std::string& folder);

// The hunt of <folder><stamp>_plots.csv and, for its track, <folder><stamp>_input.log (missing:
// no track). Plots are numbered by their data row; a damaged row is skipped. The estimate is
// made again from each vehicle's most recent 99 bearings. None, with `error` saying why, for a
// stamp not of the form above, a plot log that cannot be read or is too large, or one of which
// no row could be read. An input log that is too large leaves the hunt without a track and
// says so in `error`.
std::optional<HuntView> loadHunt(const std::string& folder, const std::string& stamp,
                                 std::string& error);

}  // namespace kestrel::live_map
