#pragma once

// The gates a bearing passes before the fix weighs it: a bearing taken while the car turned
// faster than the direction finder and the course can follow together, or one the direction
// finder itself gave little confidence, is left out with its reason. The bearings let through
// go to estimateFix, and every bearing comes back with its verdict. Pure computation.

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "estimate/estimator.h"

namespace kestrel::estimate {

// [estimate] max_turn_rate, degrees per second: on loop hunts with junction turns it lowers the
// median error by a fifth where the direction finder lags seconds behind a turn, and costs a few
// per cent where it keeps up (docs/PERFORMANCE.md, the estimate's gates).
inline constexpr double kDefaultMaxTurnRateDegPerS = 6;
// [estimate] min_confidence, on the direction finder's scale of 0 to 99: 0 leaves it open.
inline constexpr double kDefaultMinConfidence = 0;
inline constexpr double kMaxConfidence = 99;

struct Gates {
    double maxTurnRateDegPerS = kDefaultMaxTurnRateDegPerS;  // 0: no turn gate
    double minConfidence = kDefaultMinConfidence;            // 0: no confidence gate
    bool operator==(const Gates&) const = default;
};

// What became of a bearing.
enum class Verdict { Used, Outlier, Unusable, Turning, LowConfidence, Excluded };

// "used"; "outlier" (the fit found it wild), "unusable" (quality 0, an impossible position),
// "turning", "low confidence" (held back by a gate), "excluded" (left out by hand).
std::string_view verdictText(Verdict verdict);

// Turning when the turn rate's size is above the limit, else LowConfidence when the confidence
// is below the minimum, else Used. What is not known (no turn rate, no confidence) passes, and
// so does a value exactly at its limit.
Verdict gateVerdict(const Taking& taken, const Gates& gates);

// The fit of the bearings the gates let through. Its counts, verdicts and rejects are of every
// bearing given, as estimateFix's are: a bearing held back counts among the plots, not used.
struct GatedEstimate {
    Estimate estimate;
    std::vector<Verdict> verdicts;  // one per input bearing: Used, Outlier, Unusable, or a gate's
};
GatedEstimate estimateGated(std::span<const Bearing> bearings, const Gates& gates);

// A setting's value from its text: a decimal number with "." as its point, blanks around it
// allowed. None for anything else, or for a value out of range: a turn rate below 0, a
// confidence outside 0 to 99.
std::optional<double> maxTurnRateFromText(std::string_view text);
std::optional<double> minConfidenceFromText(std::string_view text);

}  // namespace kestrel::estimate
