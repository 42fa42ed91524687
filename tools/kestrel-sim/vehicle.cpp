#include "kestrel-sim/vehicle.h"

#include <algorithm>
#include <cmath>

namespace kestrel::sim {
namespace {

constexpr std::uint64_t kRouteStream = 1;
constexpr std::int64_t kAccelerateMs = 8000;
constexpr std::int64_t kTurnBrakeMs = 3000;
constexpr double kBrakeKnotsPerS = 4;  // about 2 m/s^2

std::int64_t msFor(double seconds) {
    return static_cast<std::int64_t>(std::llround(seconds * 1000));
}

}  // namespace

Vehicle::Vehicle(const RouteSettings& settings)
    : m_settings(settings),
      m_random(settings.seed, kRouteStream),
      m_nextStopMs(settings.firstStopMs) {
    m_settings.cruiseKnots = std::max(m_settings.cruiseKnots, 8.0);
    m_settings.stopForMs = std::max<std::int64_t>(m_settings.stopForMs, 0);
    m_state.position = settings.start;
    // Streets on a grid turned by a random angle; the first run follows one of them.
    const double gridDeg = static_cast<double>(m_random.between(0, 29));
    m_state.headingDeg = wrapDegrees(gridDeg + 90.0 * static_cast<double>(m_random.between(0, 3)));
    m_state.speedKnots = nextCruiseKnots();
    m_current.kind = Manoeuvre::Cruise;
    m_current.toKnots = m_state.speedKnots;
    m_current.fromKnots = m_state.speedKnots;
    m_current.fromHeadingDeg = m_state.headingDeg;
    m_current.durationMs = runLengthMs(0, false);
    m_headings.emplace_back(0, m_state.headingDeg);
}

double Vehicle::headingDegAgo(std::int64_t agoMs) const {
    const std::int64_t at = m_timeMs - std::max<std::int64_t>(agoMs, 0);
    if (at <= m_headings.front().first) {
        return m_headings.front().second;
    }
    // The first step end at or after `at`; the one before it is earlier than `at`.
    std::size_t i = m_headings.size() - 1;
    while (m_headings[i - 1].first >= at) {
        --i;
    }
    const auto& [t0, h0] = m_headings[i - 1];
    const auto& [t1, h1] = m_headings[i];
    const double f = static_cast<double>(at - t0) / static_cast<double>(t1 - t0);
    return wrapDegrees(h0 + angleDifference(h0, h1) * f);
}

double Vehicle::nextCruiseKnots() {
    return std::max(8.0, m_settings.cruiseKnots + m_random.uniform(-6.0, 6.0));
}

std::int64_t Vehicle::runLengthMs(std::int64_t fromMs, bool homeward) {
    const std::int64_t length =
        homeward ? m_random.between(6000, 12000) : m_random.between(15000, 45000);
    // A stop that falls due during the run cuts it short, so braking begins on time.
    if (m_nextStopMs != kNever && m_nextStopMs < fromMs + length) {
        return std::max<std::int64_t>(0, m_nextStopMs - fromMs);
    }
    return length;
}

void Vehicle::planStop() {
    const double v = m_state.speedKnots;
    m_queue.push_back(
        {Manoeuvre::Brake, std::max<std::int64_t>(msFor(v / kBrakeKnotsPerS), 1000), 0, 0});
    m_queue.push_back({Manoeuvre::Stand, m_settings.stopForMs, 0, 0});
    m_queue.push_back({Manoeuvre::Accelerate, kAccelerateMs, nextCruiseKnots(), 0});
    if (m_settings.stopEveryMs == kNever || m_settings.stopEveryMs <= 0) {
        m_nextStopMs = kNever;
    } else {
        while (m_nextStopMs <= m_timeMs) {
            m_nextStopMs += m_settings.stopEveryMs;
        }
    }
}

void Vehicle::planTurnAndRun() {
    const double away = distanceMiles(m_settings.start, m_state.position);
    const bool homeward = away > m_settings.roamMiles;
    const double angle = m_random.chance(0.2) ? 45.0 : 90.0;
    double sign = m_random.chance(0.5) ? 1.0 : -1.0;
    if (away > 0.5 * m_settings.roamMiles) {
        const double home = bearingDeg(m_state.position, m_settings.start);
        const double right = std::abs(angleDifference(m_state.headingDeg + angle, home));
        const double left = std::abs(angleDifference(m_state.headingDeg - angle, home));
        sign = right <= left ? 1.0 : -1.0;
    }
    if (m_state.speedKnots > kTurnKnots) {
        m_queue.push_back({Manoeuvre::Brake, kTurnBrakeMs, kTurnKnots, 0});
    }
    const double turnKnots = std::min(kTurnKnots, m_state.speedKnots);
    m_queue.push_back({Manoeuvre::Turn, msFor(angle / kTurnRateDegPerS), turnKnots, sign * angle});
    m_queue.push_back({Manoeuvre::Accelerate, kAccelerateMs, nextCruiseKnots(), 0});
    std::int64_t runStart = m_timeMs;
    for (const Segment& s : m_queue) {
        runStart += s.durationMs;
    }
    Segment run{Manoeuvre::Cruise, runLengthMs(runStart, homeward), 0, 0};
    run.toKnots = -1;  // keep the speed the acceleration reached
    m_queue.push_back(run);
}

void Vehicle::beginNextSegment() {
    if (m_queue.empty()) {
        if (m_nextStopMs != kNever && m_timeMs >= m_nextStopMs) {
            planStop();
        } else {
            planTurnAndRun();
        }
    }
    m_current = m_queue.front();
    m_queue.pop_front();
    m_current.startMs = m_timeMs;
    m_current.fromKnots = m_state.speedKnots;
    m_current.fromHeadingDeg = m_state.headingDeg;
    if (m_current.toKnots < 0) {
        m_current.toKnots = m_state.speedKnots;
    }
}

void Vehicle::advanceTo(std::int64_t timeMs) {
    while (m_timeMs < timeMs) {
        std::int64_t segmentEnd = m_current.startMs + m_current.durationMs;
        while (m_timeMs >= segmentEnd) {
            beginNextSegment();
            segmentEnd = m_current.startMs + m_current.durationMs;
        }
        const std::int64_t stepEnd = std::min({timeMs, segmentEnd, m_timeMs + kStepMs});
        const double dtS = static_cast<double>(stepEnd - m_timeMs) / 1000.0;
        const auto fraction = [&](std::int64_t at) {
            return m_current.durationMs > 0 ? static_cast<double>(at - m_current.startMs) /
                                                  static_cast<double>(m_current.durationMs)
                                            : 1.0;
        };
        const double f0 = fraction(m_timeMs);
        const double f1 = fraction(stepEnd);
        const double dv = m_current.toKnots - m_current.fromKnots;
        const double meanKnots = m_current.fromKnots + dv * (f0 + f1) / 2;
        const double midHeading = m_current.fromHeadingDeg + m_current.turnDeg * (f0 + f1) / 2;
        const double miles = meanKnots * kMilesPerNauticalMile * dtS / 3600.0;
        m_state.position = destination(m_state.position, midHeading, miles);
        m_state.speedKnots = std::max(0.0, m_current.fromKnots + dv * f1);
        m_state.headingDeg = wrapDegrees(m_current.fromHeadingDeg + m_current.turnDeg * f1);
        m_timeMs = stepEnd;
        m_headings.emplace_back(m_timeMs, m_state.headingDeg);
        while (m_headings.size() > 2 && m_headings[1].first <= m_timeMs - kHeadingMemoryMs) {
            m_headings.pop_front();
        }
    }
}

}  // namespace kestrel::sim
