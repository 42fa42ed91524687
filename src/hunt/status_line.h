#pragma once
// The hunt's status line under the panel: where the estimate puts the transmitter, how sure it
// is, and which way and how far it lies from the position the panel shows; or why there is no
// estimate yet. Pure text, Qt-free.

#include <optional>
#include <string>

#include "estimate/estimator.h"

namespace kestrel {

struct Here {
    double latitudeDeg = 0;
    double longitudeDeg = 0;
};

// "FIX N 34 27.81 W 119 41.95  95% within 180 m  |  042° 2.30 mi from here  |  12 of 14 plots"
// ("provisional" is added below 10 plots used). `here` is none while the panel shows no position.
// `vehicles` above 1 says how many vehicles' bearings went into it; `leftOut` counts the
// bearings the hunter left out by hand ("  |  2 left out by hand").
std::string statusLine(const estimate::Estimate& fix, std::optional<Here> here, int vehicles = 1,
                       int leftOut = 0);

// A position in the panel's notation: "N 34 27.81 W 119 41.95".
std::string panelNotation(double latitudeDeg, double longitudeDeg);

}  // namespace kestrel
