#pragma once

// The estimate's map document: the fix as a point with its description and its 95 % ellipse
// as a polygon, or an empty folder and the reason when no estimate is shown. Pure text
// building with CR LF line ends; writing the file is the caller's business.

#include <string>
#include <string_view>

#include "estimate/estimator.h"

namespace kestrel::estimate {

// The plots the estimate did not weigh, each list as the caller names them ("plot 5 (barn),
// plot 9"); empty lists are not mentioned.
struct LeftOut {
    std::string byHand;         // left out by the hunter, with their notes
    std::string turning;        // held back by the turn gate
    std::string lowConfidence;  // held back by the confidence gate
};

// utcText is the time of the estimate as the caller shows it, e.g. "2026-12-08 09:14:05".
// `leftOut` joins the description as text: "; left out by hand: plot 5 (barn); left out while
// turning: plot 7; left out for low confidence: plot 8". The fit's own rejects (its outliers)
// are the description's "rejected".
std::string buildEstimateKml(const Estimate& estimate, std::string_view utcText,
                             const LeftOut& leftOut);
// The same with the plots left out by hand alone.
std::string buildEstimateKml(const Estimate& estimate, std::string_view utcText,
                             std::string_view leftOutByHand = {});

// The point's description in one line: "12 of 14 plots used; rejected: 3, 9; sigma 6.8 deg;
// 95% ellipse 420 x 180 m, major axis 037 deg; CEP50 150 m; 2026-12-08 09:14:05 UTC".
std::string describeEstimate(const Estimate& estimate, std::string_view utcText);

}  // namespace kestrel::estimate
