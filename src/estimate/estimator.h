#pragma once

// The transmitter fix: a robust maximum-likelihood crossing of the hunt's bearings, with its
// 95 % and 1-sigma ellipses and the reasons for not showing one. Pure computation: it owns no
// file and no state between calls, and knows nothing of the form or of Qt.

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace kestrel::estimate {

// How a bearing was taken, as far as it is known: what the gates in estimate/gates.h judge it
// by, and what the plot log keeps of it. The fix itself does not look at it.
struct Taking {
    std::optional<double> turnRateDegPerS;  // of the course or heading used; + turning right
    std::optional<double> spreadDeg;        // circular standard deviation of the DF's bearings
    std::optional<double> confidence;       // the direction finder's own, 0 to 99
    std::optional<double> powerDb;          // received power as the direction finder gave it
    std::optional<double> frequencyHz;
    bool operator==(const Taking&) const = default;
};

struct Bearing {
    int id = 0;              // plot number, or row number when there is none
    double latitudeDeg = 0;  // WGS-84, signed
    double longitudeDeg = 0;
    double bearingDeg = 0;       // true bearing, clockwise from north, any value
    std::optional<int> quality;  // the direction finder's quality digit 0..9, when known
    Taking taken = {};
};

struct Estimate {
    bool shown = false;
    std::string reason;  // when not shown, a few words: "3 plots; 5 needed", ...
    double latitudeDeg = 0, longitudeDeg = 0;
    double semiMajorM = 0, semiMinorM = 0;      // 95 % ellipse
    double majorAzimuthDeg = 0;                 // true, clockwise from north, 0..180
    double sigma1MajorM = 0, sigma1MinorM = 0;  // 1-sigma ellipse
    double cep50M = 0;
    double sigmaDeg = 0;           // pooled bearing sigma
    int plots = 0;                 // bearings given
    int used = 0;                  // inliers
    std::vector<int> rejectedIds;  // ids of rejected bearings, in input order
    std::vector<bool> usedFlags;   // per input bearing: the verdict (true = used)
    bool provisional = false;      // shown with fewer than 10 used
    std::vector<std::pair<double, double>> ellipse95;  // closed ring of 73 (lat, lon) vertices
    bool computed = false;  // a fix was found (shown or held back by a gate)
};

// Needs at least 5 usable bearings; a bearing with quality 0 or an impossible position is
// never used. 99 bearings take about a millisecond.
Estimate estimateFix(std::span<const Bearing> bearings);
// False for what the fix never uses: quality 0 or an impossible position or bearing.
bool usableBearing(const Bearing& bearing);

}  // namespace kestrel::estimate
