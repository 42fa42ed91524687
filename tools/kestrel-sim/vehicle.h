#pragma once
// The simulated vehicle: drives a road-like route of straight runs joined by turns, with a
// stop now and then, and stays within a chosen distance of where it started. The route is a
// function of the seed and the settings only.

#include <cstdint>
#include <deque>
#include <limits>
#include <utility>

#include "kestrel-sim/geo.h"
#include "kestrel-sim/random.h"

namespace kestrel::sim {

constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

struct RouteSettings {
    GeoPoint start{34.4167, -119.7333};
    double cruiseKnots = 28;  // mean speed of the straight runs (each run varies by 6 knots)
    double roamMiles = 2;     // past this distance from the start the route turns homeward
    std::int64_t firstStopMs = 40000;   // braking for the first stop begins here; kNever: none
    std::int64_t stopEveryMs = 180000;  // later stops this far apart; kNever: only the first
    std::int64_t stopForMs = 12000;     // standing time of each stop
    std::uint64_t seed = 1;
};

struct VehicleState {
    GeoPoint position;
    double headingDeg = 0;  // true, [0, 360)
    double speedKnots = 0;
};

enum class Manoeuvre { Cruise, Brake, Turn, Accelerate, Stand };

class Vehicle {
  public:
    explicit Vehicle(const RouteSettings& settings);

    // Drives on to simulated time `timeMs`; an earlier time changes nothing.
    void advanceTo(std::int64_t timeMs);

    const VehicleState& state() const { return m_state; }
    std::int64_t timeMs() const { return m_timeMs; }
    Manoeuvre manoeuvre() const { return m_current.kind; }
    // The heading `agoMs` before the vehicle's time, up to kHeadingMemoryMs back (further back
    // gives the oldest heading kept); before the start, the heading at the start.
    double headingDegAgo(std::int64_t agoMs) const;

    static constexpr double kTurnKnots = 12;
    static constexpr double kTurnRateDegPerS = 15;
    static constexpr std::int64_t kStepMs = 50;  // integration step
    static constexpr std::int64_t kHeadingMemoryMs = 2000;

  private:
    struct Segment {
        Manoeuvre kind = Manoeuvre::Cruise;
        std::int64_t durationMs = 0;
        double toKnots = 0;  // speed at the end (linear ramp from the speed at the start)
        double turnDeg = 0;  // signed heading change over the segment
        // Filled when the segment begins:
        std::int64_t startMs = 0;
        double fromKnots = 0;
        double fromHeadingDeg = 0;
    };

    void beginNextSegment();
    void planStop();
    void planTurnAndRun();
    std::int64_t runLengthMs(std::int64_t fromMs, bool homeward);
    double nextCruiseKnots();

    RouteSettings m_settings;
    Random m_random;
    VehicleState m_state;
    std::int64_t m_timeMs = 0;
    std::int64_t m_nextStopMs;
    Segment m_current;
    std::deque<Segment> m_queue;
    // (time, heading) at the end of every step of the last kHeadingMemoryMs and one before;
    // the heading changes linearly within a step, so between two of them it is interpolated.
    std::deque<std::pair<std::int64_t, double>> m_headings;
};

}  // namespace kestrel::sim
