#pragma once
// A hunt of hand-entered plots around a transmitter, every bearing exact to the whole degree
// (or a given number of degrees off it), with the estimate companion watching: shared by the
// estimate's and the live map's tests.

#include <GeographicLib/Geodesic.hpp>

#include <cmath>
#include <cstdio>
#include <optional>

#include "hunt/hunt_estimate.h"
#include "input_test_support.h"
#include "plot_rig.h"

namespace kestrel::test {

struct EstimateHunt {
    InputRig rig;
    std::optional<HuntEstimate> companion;
    static constexpr double kTxLat = 39.80;
    static constexpr double kTxLon = -104.95;

    // `load`: start-up runs at once; else the caller runs Form_Load after adding its observers.
    explicit EstimateHunt(bool withEstimate = true, bool load = true) {
        if (withEstimate) {
            companion.emplace(rig.main());
        }
        if (load) {
            rig.main().Form_Load();
        }
    }
    const estimate::Estimate& fix() const { return companion->estimate(); }

    // A plot from (lat, lon) towards the transmitter, `offsetDeg` off the true bearing; the
    // shell's announcement after the event follows.
    void plotFrom(double lat, double lon, int offsetDeg = 0) {
        Form_Kestrelmap& f = rig.main();
        readyToPlot(f);
        f.FILENAME_STRING = "/hunt/" + f.stamp() + ".kml";
        showDegrees(f, lat, lon);
        const Form_Kestrelmap::Degrees at = f.displayedPosition();
        double distance = 0, azimuth = 0, back = 0;
        GeographicLib::Geodesic::WGS84().Inverse(at.latitude, at.longitude, kTxLat, kTxLon,
                                                 distance, azimuth, back);
        char bearing[8];
        std::snprintf(bearing, sizeof bearing, "%03ld",
                      (std::lround(azimuth) + 720 + offsetDeg) % 360);
        showBearing(f, bearing);
        f.NEXT_PLOT_NUMBER = static_cast<int16_t>(plots + 1);
        f.NUMBER_OF_PLOTS = static_cast<int16_t>(plots);
        f.CmdButton_ADD_PLOT_Click();
        f.afterEvent();
        ++plots;
    }
    // Plots on a circle of about 4 km around the transmitter; the one at `wildAt` 70 degrees
    // off.
    void plotAround(int count, int wildAt = -1) {
        for (int i = 0; i < count; ++i) {
            const double angle = i * 0.7;
            plotFrom(kTxLat + 0.036 * std::cos(angle), kTxLon + 0.047 * std::sin(angle),
                     i == wildAt ? 70 : 0);
        }
    }
    int plots = 0;
};

}  // namespace kestrel::test
