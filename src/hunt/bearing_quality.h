#pragma once
// How each bearing was taken, judged at its plot: how fast the course or heading that made it
// a true bearing was turning, how far the direction finder's bearings of the last seconds
// scattered, and what the direction finder itself said of its bearing. It watches the main
// window beside the other companions: it reads the courses and headings from the lines as they
// are announced, the true bearing from the panel once a bearing line has been handled, and
// writes nothing there.
//
// The turn rate is the net change of the course (or heading) over the window, unwrapped across
// north, divided by the time its samples span. Courses and headings come in whole degrees, a
// heading sensor up to ten times a second: the largest rate between two samples would read a
// single degree of jitter as 10 degrees per second, while the net change measures the turn
// the car made. A weave that ends on its first course reads as small as it nets out.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "app/form_kestrelmap.h"
#include "estimate/estimator.h"

namespace kestrel {

struct TimedDegrees {
    int64_t utcMs = 0;  // by the platform clock
    double degrees = 0;
};

inline constexpr int64_t kTurnWindowMs = 3000;
inline constexpr int64_t kSpreadWindowMs = 5000;
// A quality the direction finder gave counts for a plot as long as its bearing line does:
// the bearing stays fresh 10 seconds (DF_TIMEOUT).
inline constexpr int64_t kQualityFreshMs = 10000;

// Degrees per second, positive turning right, over the samples (oldest first) taken from
// `atMs` - kTurnWindowMs to `atMs`, both ends counted. None with fewer than two samples there
// or when they share one millisecond.
std::optional<double> turnRate(std::span<const TimedDegrees> samples, int64_t atMs);
// The circular standard deviation in degrees, sqrt(-2 ln R) with R the mean resultant length,
// of the bearings taken from `atMs` - kSpreadWindowMs to `atMs`; none with fewer than three.
// Bearings that cancel out (R near 0) read as about 301 degrees rather than without bound.
std::optional<double> bearingSpread(std::span<const TimedDegrees> bearings, int64_t atMs);

class BearingQuality : public HuntObserver {
  public:
    explicit BearingQuality(Form_Kestrelmap& form);
    ~BearingQuality() override;
    BearingQuality(const BearingQuality&) = delete;
    BearingQuality& operator=(const BearingQuality&) = delete;

    void huntStarted() override;
    void lineReceived(std::string_view input, std::string_view line) override;
    void eventHandled() override;

    // The direction finder's word on the bearing it has just given, at `utcMs` by the platform
    // clock: its confidence (0 to 99), the power received and the frequency. A value outside
    // its range (not a number, a confidence beyond 0 to 99, a frequency below 0) is not kept;
    // the others are.
    void qualityGiven(double confidence, double powerDb, double frequencyHz, int64_t utcMs);

    // What is known of how the plot's bearing was taken, at the plot's time: nothing for a plot
    // whose bearing is not the direction finder's. The turn rate is of the heading when the
    // bearing was made with one ("HDT", "HDG"), else of the GPS course.
    estimate::Taking judge(const PlotRecord& plot);

    // The samples the window's lines bring, also given directly. A sample older than the
    // newest of its series starts the series afresh (the clock went back). Courses come from
    // RMC sentences with a fix at 3 knots or more: below that the panel makes no bearing of
    // the course.
    void courseTaken(int64_t utcMs, double degrees);
    void headingTaken(int64_t utcMs, double degrees);
    void bearingTaken(int64_t utcMs, double degrees);

  private:
    // Takes the true bearing the last bearing line left on the panel: every line has been
    // handled by the time the next is announced, the event ends or a plot is made.
    void settle();

    struct Given {
        int64_t utcMs = 0;
        std::optional<double> confidence, powerDb, frequencyHz;
    };

    Form_Kestrelmap& m_form;
    std::vector<TimedDegrees> m_courses, m_headings, m_bearings;
    std::optional<Given> m_given;
    std::optional<int64_t> m_bearingLineAtMs;  // a bearing line ("%") announced, not yet taken
};

}  // namespace kestrel
