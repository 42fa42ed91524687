// The fix estimate under attack. The first byte chooses the way in: even, the rest is a plot
// log as kestrel-estimate reads it from disk; odd, the rest is raw bearings (position,
// bearing and quality straight from the bytes, NaN, infinities and the poles included), as
// a damaged plot table or a team member could hand them over. The reader must answer (the
// bearings or the line at fault) and the estimate must answer (a fix inside its ranges, or a
// reason), never crash and never hang.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "estimate/estimator.h"
#include "estimate/plot_log_reader.h"

using namespace kestrel::estimate;

namespace {

[[noreturn]] void fault(const char* what) {
    std::fprintf(stderr, "\nINVARIANT: %s\n", what);
    std::abort();
}

void checkEstimate(const std::vector<Bearing>& bearings) {
    const Estimate e = estimateFix(bearings);
    if (e.usedFlags.size() != bearings.size() || e.plots != static_cast<int>(bearings.size())) {
        fault("a verdict per bearing");
    }
    if (e.rejectedIds.size() > bearings.size() || e.used < 0 ||
        e.used > static_cast<int>(bearings.size())) {
        fault("counts out of range");
    }
    if (!e.shown) {
        if (e.reason.empty()) {
            fault("no estimate and no reason");
        }
        return;
    }
    if (!e.reason.empty() || !std::isfinite(e.latitudeDeg) || !std::isfinite(e.longitudeDeg) ||
        std::fabs(e.latitudeDeg) > 90) {
        fault("a shown fix off the earth");
    }
    if (!std::isfinite(e.semiMajorM) || !(e.semiMinorM > 0) || e.semiMinorM > e.semiMajorM ||
        !std::isfinite(e.cep50M) || !std::isfinite(e.sigmaDeg) || e.majorAzimuthDeg < 0 ||
        e.majorAzimuthDeg > 180) {
        fault("a shown ellipse out of range");
    }
    if (e.ellipse95.size() != 73 || e.ellipse95.front() != e.ellipse95.back()) {
        fault("the 95 % ring is not closed");
    }
    for (const auto& [lat, lon] : e.ellipse95) {
        if (!std::isfinite(lat) || !std::isfinite(lon) || std::fabs(lat) > 90) {
            fault("a ring vertex off the earth");
        }
    }
}

double takeDouble(const uint8_t*& at, const uint8_t* end) {
    double value = 0;
    if (end - at >= 8) {
        std::memcpy(&value, at, sizeof value);
        at += 8;
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const uint8_t* at = data + 1;
    const uint8_t* end = data + size;
    if ((data[0] & 1) == 0) {
        const PlotLog log =
            readPlotLog(std::string_view(reinterpret_cast<const char*>(at), size - 1));
        if (log.ok != log.error.empty() || (!log.ok && log.errorLine < 1)) {
            fault("a refused log names no line and fault");
        }
        for (const Bearing& b : log.bearings) {
            if (!std::isfinite(b.latitudeDeg) || std::fabs(b.latitudeDeg) > 90 ||
                !std::isfinite(b.longitudeDeg) || !std::isfinite(b.bearingDeg)) {
                fault("the reader let an impossible value through");
            }
        }
        if (log.ok) {
            checkEstimate(log.bearings);
        }
        return 0;
    }
    // Raw bearings: near-real positions most of the time (a small offset from a base point
    // chosen by the input), the bytes themselves otherwise.
    std::vector<Bearing> bearings;
    const double baseLat = takeDouble(at, end), baseLon = takeDouble(at, end);
    while (end - at >= 2) {
        const uint8_t how = *at++;
        Bearing b;
        b.id = static_cast<int>(bearings.size()) + 1;
        if ((how & 1) != 0) {
            b.latitudeDeg = takeDouble(at, end);
            b.longitudeDeg = takeDouble(at, end);
            b.bearingDeg = takeDouble(at, end);
        } else {
            const auto small = [&]() {
                const int8_t v = end > at ? static_cast<int8_t>(*at++) : int8_t{0};
                return static_cast<double>(v);
            };
            b.latitudeDeg = std::fmod(baseLat, 90.0) + small() * 0.001;
            b.longitudeDeg = baseLon + small() * 0.001;
            b.bearingDeg = small() * 3;
        }
        if ((how & 6) != 0) {
            b.quality = (how >> 3) % 10;
        }
        bearings.push_back(b);
    }
    checkEstimate(bearings);
    return 0;
}
