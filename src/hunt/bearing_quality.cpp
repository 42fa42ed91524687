#include "hunt/bearing_quality.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "estimate/gates.h"
#include "input/heading_reading.h"
#include "input/nmea_text.h"
#include "input/rmc_reading.h"

namespace kestrel {

namespace {

constexpr double kRadPerDeg = std::numbers::pi / 180;
// Below this speed the GPS course is noise, and the panel makes no bearing from it.
constexpr int kMinimumCourseKnots = 3;
// sqrt(-2 ln R) grows without bound as R goes to 0: bearings that cancel out read as this R.
constexpr double kLeastResultant = 1e-6;
// A flood of lines keeps no more than this of a series (far beyond the windows' need).
constexpr size_t kMostSamples = 4096;

// The samples from `atMs` - windowMs to `atMs`, oldest first.
std::span<const TimedDegrees> inWindow(std::span<const TimedDegrees> samples, int64_t atMs,
                                       int64_t windowMs) {
    size_t first = 0;
    while (first < samples.size() && samples[first].utcMs < atMs - windowMs) {
        ++first;
    }
    size_t end = first;
    while (end < samples.size() && samples[end].utcMs <= atMs) {
        ++end;
    }
    return samples.subspan(first, end - first);
}

// Samples older than the longest window go; so does the oldest beyond kMostSamples.
void keep(std::vector<TimedDegrees>& series, int64_t utcMs, double degrees) {
    if (!std::isfinite(degrees)) {
        return;
    }
    if (!series.empty() && utcMs < series.back().utcMs) {
        series.clear();
    }
    series.push_back({utcMs, degrees});
    auto kept = std::find_if(series.begin(), series.end(), [&](const TimedDegrees& sample) {
        return sample.utcMs >= utcMs - kSpreadWindowMs;
    });
    kept = std::max(
        kept, series.end() - static_cast<std::ptrdiff_t>(std::min(series.size(), kMostSamples)));
    series.erase(series.begin(), kept);
}

std::optional<double> inRange(double value, double low, double high) {
    return std::isfinite(value) && value >= low && value <= high ? std::optional(value)
                                                                 : std::nullopt;
}

}  // namespace

std::optional<double> turnRate(std::span<const TimedDegrees> samples, int64_t atMs) {
    const std::span<const TimedDegrees> window = inWindow(samples, atMs, kTurnWindowMs);
    if (window.size() < 2 || window.back().utcMs == window.front().utcMs) {
        return std::nullopt;
    }
    double turned = 0;
    for (size_t i = 1; i < window.size(); ++i) {
        turned += std::remainder(window[i].degrees - window[i - 1].degrees, 360.0);
    }
    return turned * 1000 / static_cast<double>(window.back().utcMs - window.front().utcMs);
}

std::optional<double> bearingSpread(std::span<const TimedDegrees> bearings, int64_t atMs) {
    const std::span<const TimedDegrees> window = inWindow(bearings, atMs, kSpreadWindowMs);
    if (window.size() < 3) {
        return std::nullopt;
    }
    double east = 0, north = 0;
    for (const TimedDegrees& bearing : window) {
        east += std::sin(bearing.degrees * kRadPerDeg);
        north += std::cos(bearing.degrees * kRadPerDeg);
    }
    const double resultant = std::hypot(east, north) / static_cast<double>(window.size());
    const double r = std::clamp(resultant, kLeastResultant, 1.0);
    return std::sqrt(-2 * std::log(r)) / kRadPerDeg;
}

BearingQuality::BearingQuality(Form_Kestrelmap& form) : m_form(form) {
    m_form.addObserver(*this);
}

BearingQuality::~BearingQuality() {
    m_form.removeObserver(*this);
}

void BearingQuality::huntStarted() {
    m_courses.clear();
    m_headings.clear();
    m_bearings.clear();
    m_given.reset();
    m_bearingLineAtMs.reset();
}

// Courses and headings are read from their sentences as the panel reads them; a bearing line is
// looked at once the panel has handled it.
void BearingQuality::lineReceived(std::string_view, std::string_view line) {
    settle();
    const int64_t now = m_form.platform().clock.utcMilliseconds();
    if (const size_t rmc = findRmcStart(line); rmc != std::string_view::npos) {
        const std::optional<RmcReading> reading = readRmc(line.substr(rmc));
        if (reading && reading->validFix && reading->speedKnots >= kMinimumCourseKnots) {
            courseTaken(now, reading->courseDegrees);
        }
    }
    if (const size_t start = findHeadingStart(line); start != std::string_view::npos) {
        if (const std::optional<HeadingReading> heading = readHeading(line.substr(start))) {
            headingTaken(now, heading->trueDegrees);
        }
    }
    if (line.find('%') != std::string_view::npos) {
        m_bearingLineAtMs = now;
    }
}

void BearingQuality::eventHandled() {
    settle();
}

// A bearing line that made a true bearing left it fresh on the direction finder's digits; a
// refused one dashed them, stale.
void BearingQuality::settle() {
    if (m_bearingLineAtMs && m_form.CmdButton_DF_SOURCE.Tag != "MAN") {
        if (const std::optional<int> bearing = m_form.drawableBearing()) {
            bearingTaken(*m_bearingLineAtMs, *bearing);
        }
    }
    m_bearingLineAtMs.reset();
}

void BearingQuality::courseTaken(int64_t utcMs, double degrees) {
    keep(m_courses, utcMs, degrees);
}

void BearingQuality::headingTaken(int64_t utcMs, double degrees) {
    keep(m_headings, utcMs, degrees);
}

void BearingQuality::bearingTaken(int64_t utcMs, double degrees) {
    keep(m_bearings, utcMs, degrees);
}

void BearingQuality::qualityGiven(double confidence, double powerDb, double frequencyHz,
                                  int64_t utcMs) {
    m_given = Given{utcMs, inRange(confidence, 0, estimate::kMaxConfidence),
                    inRange(powerDb, -HUGE_VAL, HUGE_VAL), inRange(frequencyHz, 0, HUGE_VAL)};
}

estimate::Taking BearingQuality::judge(const PlotRecord& plot) {
    settle();
    estimate::Taking taken;
    if (!plot.bearingDegrees || !plot.bearingFromDf) {
        return taken;
    }
    taken.turnRateDegPerS =
        turnRate(plot.headingFrom == "COG" ? m_courses : m_headings, plot.utcMilliseconds);
    taken.spreadDeg = bearingSpread(m_bearings, plot.utcMilliseconds);
    if (m_given && m_given->utcMs <= plot.utcMilliseconds &&
        m_given->utcMs >= plot.utcMilliseconds - kQualityFreshMs) {
        taken.confidence = m_given->confidence;
        taken.powerDb = m_given->powerDb;
        taken.frequencyHz = m_given->frequencyHz;
    }
    return taken;
}

}  // namespace kestrel
