#include "estimate/gates.h"

#include <charconv>
#include <cmath>

namespace kestrel::estimate {

namespace {

std::optional<double> decimal(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
    double value = 0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::string_view verdictText(Verdict verdict) {
    switch (verdict) {
        case Verdict::Used:
            return "used";
        case Verdict::Outlier:
            return "outlier";
        case Verdict::Unusable:
            return "unusable";
        case Verdict::Turning:
            return "turning";
        case Verdict::LowConfidence:
            return "low confidence";
        case Verdict::Excluded:
            return "excluded";
    }
    return "used";
}

Verdict gateVerdict(const Taking& taken, const Gates& gates) {
    if (gates.maxTurnRateDegPerS > 0 && taken.turnRateDegPerS &&
        std::abs(*taken.turnRateDegPerS) > gates.maxTurnRateDegPerS) {
        return Verdict::Turning;
    }
    if (taken.confidence && *taken.confidence < gates.minConfidence) {
        return Verdict::LowConfidence;
    }
    return Verdict::Used;
}

// The fit weighs the bearings let through; the estimate then speaks of every bearing given, a
// gated one counted among the plots and not used.
GatedEstimate estimateGated(std::span<const Bearing> bearings, const Gates& gates) {
    GatedEstimate out;
    std::vector<Bearing> through;
    std::vector<size_t> inputIndex;
    for (size_t i = 0; i < bearings.size(); ++i) {
        out.verdicts.push_back(gateVerdict(bearings[i].taken, gates));
        if (out.verdicts.back() == Verdict::Used) {
            through.push_back(bearings[i]);
            inputIndex.push_back(i);
        }
    }
    out.estimate = estimateFix(through);
    for (size_t k = 0; k < through.size(); ++k) {
        if (!out.estimate.usedFlags[k]) {
            out.verdicts[inputIndex[k]] =
                usableBearing(through[k]) ? Verdict::Outlier : Verdict::Unusable;
        }
    }
    Estimate& e = out.estimate;
    e.plots = static_cast<int>(bearings.size());
    e.usedFlags.assign(bearings.size(), false);
    e.rejectedIds.clear();
    for (size_t i = 0; i < bearings.size(); ++i) {
        e.usedFlags[i] = out.verdicts[i] == Verdict::Used;
        if (!e.usedFlags[i]) {
            e.rejectedIds.push_back(bearings[i].id);
        }
    }
    return out;
}

std::optional<double> maxTurnRateFromText(std::string_view text) {
    const std::optional<double> value = decimal(text);
    return value && *value >= 0 ? value : std::nullopt;
}

std::optional<double> minConfidenceFromText(std::string_view text) {
    const std::optional<double> value = decimal(text);
    return value && *value >= 0 && *value <= kMaxConfidence ? value : std::nullopt;
}

}  // namespace kestrel::estimate
