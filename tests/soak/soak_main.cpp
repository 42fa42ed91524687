// A day of hunting pushed through the core as fast as it goes: a GPS receiver sending RMC once
// a second, a direction finder sending about 3.5 bearing lines a second at a transmitter,
// ignition noise and corrupted sentences, a GPS drop-out now and then, a remote "@PLOT" every
// ten minutes and automatic plots every minute, with the three timers ticked in step with the
// simulated clock as the shell's timers would tick them. The hunt's invariants are checked
// every simulated second, every map document written is checked as XML, the displayed
// position is compared with the receiver's after every plot, and resident memory at the end
// must not exceed that at the end of the first hour by 1 MB or more.
//
//   kestrel_soak --hours=24 [--seed=N] [--max-seconds=S]
// Exit status 0 when every check held.

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "soak/hunt_checks.h"
#include "soak/sentences.h"

#if defined(__SANITIZE_ADDRESS__)
#define KESTREL_SOAK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTREL_SOAK_ASAN 1
#endif
#endif

namespace kestrel::test {
namespace {

constexpr double kPi = 3.14159265358979323846;

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// A timer of the shell: fires every Interval ms while enabled, its count restarted whenever
// the core enables it or sets its interval.
class ShellTimer {
  public:
    explicit ShellTimer(Timer& t) : m_timer(t) {}
    // True when the timer fires at `nowMs`; called at every step of the simulated clock.
    bool due(long nowMs) {
        bool fire = false;
        if (!m_timer.Enabled || m_timer.Interval <= 0) {
            m_seen = m_timer.restarts;
            m_dueMs = -1;
        } else {
            if (m_seen != m_timer.restarts || m_dueMs < 0) {
                m_seen = m_timer.restarts;  // (re)started since the last step
                m_dueMs = m_lastMs + m_timer.Interval;
            }
            if (nowMs >= m_dueMs) {
                m_dueMs += m_timer.Interval;
                fire = true;
            }
        }
        m_lastMs = nowMs;
        return fire;
    }

  private:
    Timer& m_timer;
    uint32_t m_seen = 0;
    long m_dueMs = -1;
    long m_lastMs = 0;
};

struct Options {
    double hours = 24;
    uint64_t seed = 1;
    double maxSeconds = 0;  // 0: no limit
};

struct Counts {
    long rmc = 0, bearings = 0, bytes = 0, events = 0, plots = 0, corrupted = 0, noise = 0;
};

class Soak {
  public:
    explicit Soak(const Options& o) : m_options(o), m_random(o.seed) {}

    int run() {
        Form_Kestrelmap& f = m_rig.main();
        f.Form_Load();
        f.Form_Activate();
        f.CmdButton_POSIT_SOURCE_Click();
        f.CmdButton_DF_SOURCE_Click();
        f.CmdButton_TIMER_Click();  // " TMR 1M"
        if (!check("start-up")) {
            return 1;
        }
        const auto started = std::chrono::steady_clock::now();
        const long seconds = std::lround(m_options.hours * 3600);
        long rssHour1 = 0;
        for (long s = 1; s <= seconds; ++s) {
            if (!simulateSecond(s)) {
                return 1;
            }
            if (s == 3600) {
                rssHour1 = residentKiB();
            }
            if (s % 3600 == 0) {
                std::printf("hour %ld: %ld plots, resident %ld KiB\n", s / 3600, m_counts.plots,
                            residentKiB());
                std::fflush(stdout);
            }
        }
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        return report(seconds, elapsed, rssHour1);
    }

  private:
    Options m_options;
    HardenRig m_rig;
    TestRandom m_random;
    Counts m_counts;
    ShellTimer m_timeout{m_rig.main().Timer_TIMEOUT};
    ShellTimer m_blink{m_rig.main().Timer_BLINK};
    ShellTimer m_plot{m_rig.main().Timer_PLOT};

    // The vehicle and the transmitter.
    double m_lat = 34.4185, m_lon = -119.7417, m_heading = 84, m_knots = 25;
    const double m_foxLat = 34.47, m_foxLon = -119.69;
    long m_stopUntil = 0, m_dropoutUntil = 0;
    double m_sentLat = 0, m_sentLon = 0;
    bool m_sentValid = false;

    void drive(long s) {
        if (s >= m_stopUntil && m_random.chance(1.0 / 900)) {
            m_stopUntil = s + 30 + m_random.below(90);  // a stop at a junction
        }
        const double target = s < m_stopUntil ? 0.5 : 20 + 15 * m_random.uniform();
        m_knots += (target - m_knots) * 0.2;
        m_heading = std::fmod(m_heading + (m_random.uniform() - 0.5) * 6 + 360, 360);
        // Stay near the start: steer home beyond about 3 miles.
        const double dLat = m_lat - 34.4185, dLon = m_lon + 119.7417;
        if (std::hypot(dLat, dLon) > 0.05) {
            m_heading = std::fmod(std::atan2(-dLon, -dLat) * 180 / kPi + 360, 360);
        }
        const double nm = m_knots / 3600;
        m_lat += nm / 60 * std::cos(m_heading * kPi / 180);
        m_lon += nm / 60 * std::sin(m_heading * kPi / 180) / std::cos(m_lat * kPi / 180);
    }

    int relativeBearing() {
        const double dy = m_foxLat - m_lat;
        const double dx = (m_foxLon - m_lon) * std::cos(m_lat * kPi / 180);
        const double trueBearing = std::atan2(dx, dy) * 180 / kPi;
        const double noise = (m_random.uniform() - 0.5) * 20;
        return static_cast<int>(std::lround(trueBearing - m_heading + noise + 720)) % 360;
    }

    std::string secondOfLine(long s) {
        std::string text;
        Fix fix;
        const LocalTime t = m_rig.clock.time;
        fix.hour = t.hour;
        fix.minute = t.minute;
        fix.second = t.second;
        fix.day = t.day;
        fix.month = t.month;
        fix.year = t.year % 100;
        if (s >= m_dropoutUntil && m_random.chance(1.0 / 7200)) {
            m_dropoutUntil = s + 20 + m_random.below(40);  // under a bridge, in a car park
        }
        fix.valid = s >= m_dropoutUntil;
        fix.latDeg = m_lat;
        fix.lonDeg = m_lon;
        fix.speedKnots = m_knots;
        fix.courseDeg = m_heading;
        std::string rmc = rmcSentence(fix, s % 2 ? "GP" : "GN");
        if (m_random.chance(0.01)) {
            rmc[10 + m_random.below(static_cast<uint32_t>(rmc.size() - 16))] ^= 0x04;
            ++m_counts.corrupted;
        } else {
            m_sentValid = fix.valid;
            m_sentLat = m_lat;
            m_sentLon = m_lon;
        }
        text += rmc;
        ++m_counts.rmc;
        const int lines = (s % 2) ? 3 : 4;
        for (int i = 0; i < lines; ++i) {
            text += bearingLine(relativeBearing());
            ++m_counts.bearings;
            if (m_random.chance(0.02)) {
                // Ignition noise: anything but the start of a sentence.
                const uint32_t n = 1 + m_random.below(12);
                for (uint32_t k = 0; k < n; ++k) {
                    char c = static_cast<char>(m_random.below(256));
                    text += c == '$' ? '#' : c;
                }
                ++m_counts.noise;
            }
        }
        if (s % 600 == 330) {
            text += plotCommand();
        }
        return text;
    }

    bool simulateSecond(long s) {
        Form_Kestrelmap& f = m_rig.main();
        drive(s);
        const std::string text = secondOfLine(s);
        m_counts.bytes += static_cast<long>(text.size());
        // The line delivers the second's characters spread over the second, in the pieces a
        // USB adapter hands over; the timers fire at their moments in between.
        size_t at = 0;
        for (int part = 0; part < 10; ++part) {
            const long nowMs = (long{s} - 1) * 1000 + long{part} * 100 + 100;
            const size_t end = (part == 9) ? text.size() : text.size() * (part + 1) / 10;
            while (at < end) {
                const size_t piece = std::min<size_t>(end - at, 1 + m_random.below(48));
                m_rig.serial.waiting.append(text, at, piece);
                at += piece;
                const int plotsBefore = m_rig.beeper.beeps;
                f.serialEvent();
                ++m_counts.events;
                if (m_rig.beeper.beeps != plotsBefore && !afterPlot("a remote plot")) {
                    return false;
                }
            }
            if (m_timeout.due(nowMs)) {
                advanceClock(m_rig.clock.time, 1);
                f.Timer_TIMEOUT_Timer();
            }
            if (m_blink.due(nowMs)) {
                f.Timer_BLINK_Timer();
            }
            if (m_plot.due(nowMs)) {
                const int plotsBefore = m_rig.beeper.beeps;
                f.Timer_PLOT_Timer();
                if (m_rig.beeper.beeps != plotsBefore && !afterPlot("an automatic plot")) {
                    return false;
                }
            }
        }
        if (s % 3600 == 1800) {
            // The operator takes the bearing by hand for a moment and gives it back.
            f.CmdButton_DF_SOURCE_Click();
            f.CmdButton_BRGX10_UP_Click();
            f.CmdButton_DF_SOURCE_Click();
            f.CmdButton_RANGE_Click();
        }
        return check("a simulated second");
    }

    bool afterPlot(const char* what) {
        ++m_counts.plots;
        Form_Kestrelmap& f = m_rig.main();
        if (std::string p = m_rig.mapFilesProblem(true); !p.empty()) {
            return fail(std::string("after ") + what + ": " + p);
        }
        if (m_sentValid) {
            const double dLat = std::abs(f.GOOGLE_LATITUDE_DEGREES - m_sentLat);
            const double dLon = std::abs(f.GOOGLE_LONGITUDE_DEGREES - m_sentLon);
            if (dLat > 5e-4 || dLon > 5e-4) {
                char msg[160];
                std::snprintf(msg, sizeof msg, "plotted %.6f %.6f, receiver at %.6f %.6f",
                              f.GOOGLE_LATITUDE_DEGREES, f.GOOGLE_LONGITUDE_DEGREES, m_sentLat,
                              m_sentLon);
                return fail(std::string("after ") + what + ": " + msg);
            }
        }
        return true;
    }

    bool check(const char* when) {
        if (std::string p = huntProblem(m_rig.main()); !p.empty()) {
            return fail(std::string("after ") + when + ": " + p);
        }
        if (!m_rig.files.faults.empty()) {
            return fail(m_rig.files.faults.front());
        }
        if (!m_rig.messages.shown.empty()) {
            return fail("a message box: " + m_rig.messages.shown.front().text);
        }
        return true;
    }

    bool fail(const std::string& what) {
        const LocalTime t = m_rig.clock.time;
        std::fprintf(stderr, "SOAK FAILED at %02d:%02d:%02d: %s\n", t.hour, t.minute, t.second,
                     what.c_str());
        return false;
    }

    int report(long seconds, double elapsed, long rssHour1) {
        const long rssEnd = residentKiB();
        std::printf(
            "soak: %.2f simulated hours in %.1f s: %ld RMC sentences (%ld corrupted), %ld bearing "
            "lines, %ld noise bursts, %ld bytes in %ld port events, %ld plots\n",
            static_cast<double>(seconds) / 3600, elapsed, m_counts.rmc, m_counts.corrupted,
            m_counts.bearings, m_counts.noise, m_counts.bytes, m_counts.events, m_counts.plots);
        int status = 0;
        const long minutes = seconds / 60;
        if (m_counts.plots < minutes * 9 / 10) {
            std::fprintf(stderr, "SOAK FAILED: %ld plots in %ld minutes\n", m_counts.plots,
                         minutes);
            status = 1;
        }
        if (seconds >= 7200) {
#ifdef KESTREL_SOAK_ASAN
            std::printf(
                "soak: resident %ld KiB after hour 1, %ld KiB at the end (not judged "
                "under AddressSanitizer)\n",
                rssHour1, rssEnd);
#else
            std::printf("soak: resident %ld KiB after hour 1, %ld KiB at the end: %+ld KiB\n",
                        rssHour1, rssEnd, rssEnd - rssHour1);
            if (rssEnd - rssHour1 >= 1024) {
                std::fprintf(stderr, "SOAK FAILED: resident memory grew by %ld KiB\n",
                             rssEnd - rssHour1);
                status = 1;
            }
#endif
        }
        if (m_options.maxSeconds > 0 && elapsed > m_options.maxSeconds) {
            std::fprintf(stderr, "SOAK FAILED: %.1f s, more than %.0f s\n", elapsed,
                         m_options.maxSeconds);
            status = 1;
        }
        return status;
    }
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        char* end = nullptr;
        if (std::strncmp(a, "--hours=", 8) == 0) {
            o.hours = std::strtod(a + 8, &end);
        } else if (std::strncmp(a, "--seed=", 7) == 0) {
            o.seed = std::strtoull(a + 7, &end, 10);
        } else if (std::strncmp(a, "--max-seconds=", 14) == 0) {
            o.maxSeconds = std::strtod(a + 14, &end);
        } else {
            return false;
        }
        if (end == nullptr || *end != '\0') {
            return false;
        }
    }
    return o.hours > 0 && o.hours <= 24 * 366;
}

}  // namespace
}  // namespace kestrel::test

int main(int argc, char** argv) {
    kestrel::test::Options options;
    if (!kestrel::test::parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: kestrel_soak [--hours=H] [--seed=N] [--max-seconds=S]\n");
        return 2;
    }
    return kestrel::test::Soak(options).run();
}
