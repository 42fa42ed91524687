#pragma once

// The estimate's map document: the fix as a point with its description and its 95 % ellipse
// as a polygon, or an empty folder and the reason when no estimate is shown. Pure text
// building with CR LF line ends; writing the file is the caller's business.

#include <string>
#include <string_view>

#include "estimate/estimator.h"

namespace kestrel::estimate {

// utcText is the time of the estimate as the caller shows it, e.g. "2026-12-08 09:14:05".
// `leftOut` names the plots the hunter left out by hand, with their notes ("plot 5 (barn)");
// it joins the description as text.
std::string buildEstimateKml(const Estimate& estimate, std::string_view utcText,
                             std::string_view leftOut = {});

// The point's description in one line: "12 of 14 plots used; rejected: 3, 9; sigma 6.8 deg;
// 95% ellipse 420 x 180 m, major axis 037 deg; CEP50 150 m; 2026-12-08 09:14:05 UTC".
std::string describeEstimate(const Estimate& estimate, std::string_view utcText);

}  // namespace kestrel::estimate
