#include "kestrel-sim/runner.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <thread>
#include <utility>
#include <vector>

#include "kestrel-sim/pacing.h"

namespace kestrel::sim {
namespace {

constexpr std::int64_t kMinWaitUs = 2000;    // deliver in chunks of about a character or two
constexpr std::int64_t kMaxWaitUs = 100000;  // look at the stop flag this often

std::int64_t waitSpan(std::int64_t us) {
    return std::clamp(us, kMinWaitUs, kMaxWaitUs);
}

struct InFlight {
    std::string text;  // the line without its end, for the record
    std::string bytes;
    std::int64_t startUs = 0;
    std::size_t sent = 0;
};

class Run {
  public:
    Run(ByteSink& sink, const RunSettings& settings, const volatile std::sig_atomic_t* stop)
        : m_sink(sink),
          m_settings(settings),
          m_stop(stop),
          m_pacer(settings.baud),
          m_wallStart(std::chrono::steady_clock::now()) {}

    bool stopped() {
        if (m_stop != nullptr && *m_stop != 0) {
            m_summary.interrupted = true;
        }
        return m_summary.interrupted || m_summary.sinkGone;
    }

    std::int64_t nowUs() const {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now() - m_wallStart)
            .count();
    }

    void waitUntil(std::int64_t simUs) {
        while (m_settings.paced && !stopped()) {
            const std::int64_t now = nowUs();
            if (now >= simUs) {
                return;
            }
            m_sink.wait(waitSpan(simUs - now));
        }
    }

    // Delivers every character that has arrived by `limitUs`, waiting for the line's pace.
    bool flushUntil(std::int64_t limitUs) {
        while (!stopped()) {
            if (m_inFlight.empty()) {
                return true;
            }
            const InFlight& first = m_inFlight.front();
            const std::int64_t nextArrival = m_pacer.arrivalUs(first.startUs, first.sent);
            if (nextArrival > limitUs) {
                return true;
            }
            std::int64_t upTo = limitUs;
            if (m_settings.paced) {
                const std::int64_t now = nowUs();
                if (nextArrival > now) {
                    m_sink.wait(waitSpan(nextArrival - now));
                    continue;
                }
                upTo = std::min(limitUs, now);
            }
            std::string chunk;
            std::vector<std::pair<std::string, std::int64_t>> done;  // lines finished, and when
            while (!m_inFlight.empty()) {
                InFlight& f = m_inFlight.front();
                while (f.sent < f.bytes.size() && m_pacer.arrivalUs(f.startUs, f.sent) <= upTo) {
                    chunk += f.bytes[f.sent++];
                }
                if (f.sent < f.bytes.size()) {
                    break;
                }
                m_summary.endUs = f.startUs + m_pacer.durationUs(f.bytes.size());
                done.push_back({std::move(f.text), m_summary.endUs});
                m_inFlight.pop_front();
            }
            m_summary.bytes += static_cast<std::int64_t>(chunk.size());
            if (!m_sink.deliver(chunk)) {
                m_summary.sinkGone = true;
                return false;  // nothing of this chunk reached anyone: nothing to record
            }
            for (const auto& [text, arrivedUs] : done) {
                record(text, arrivedUs);
            }
            done.clear();
        }
        return false;
    }

    // A line whose last character has been delivered: on a paced run stamped with the moment
    // it was written, on a fast one with the moment it would have arrived on the line.
    void record(const std::string& text, std::int64_t arrivedUs) {
        if (m_settings.record == nullptr) {
            return;
        }
        const std::int64_t ms = (m_settings.paced ? nowUs() : arrivedUs) / 1000;
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%lld.%03lld\t", static_cast<long long>(ms / 1000),
                      static_cast<long long>(ms % 1000));
        *m_settings.record << stamp << text << '\n';
    }

    void send(const SimEvent& e) {
        InFlight f;
        f.text = e.text;
        f.bytes = e.text + "\r\n";
        f.startUs = m_pacer.schedule(e.atMs * 1000, f.bytes.size());
        ++m_summary.lines;
        m_inFlight.push_back(std::move(f));
    }

    void cable(const SimEvent& e) {
        const std::int64_t atUs = e.atMs * 1000;
        waitUntil(atUs);
        for (const InFlight& f : m_inFlight) {
            m_summary.cutBytes += static_cast<std::int64_t>(f.bytes.size() - f.sent);
        }
        m_inFlight.clear();
        // The line is free again: a cut line does not hold up the next one.
        m_pacer = LinePacer(m_settings.baud);
        bool ok;
        if (e.kind == EventKind::CableOut) {
            ++m_summary.cablePulls;
            ok = m_sink.cableOut();
        } else {
            ok = m_sink.cableBack();
        }
        if (!ok) {
            m_summary.sinkGone = true;
        }
    }

    RunSummary run(Scheduler& scheduler) {
        while (!stopped()) {
            std::optional<SimEvent> e = scheduler.next();
            if (!e) {
                flushUntil(kNever);
                break;
            }
            if (!flushUntil(e->atMs * 1000)) {
                break;
            }
            if (e->kind == EventKind::Line) {
                send(*e);
            } else if (e->kind == EventKind::Kraken) {
                waitUntil(e->atMs * 1000);
                m_sink.answer(*e);
            } else {
                cable(*e);
            }
        }
        if (m_settings.record != nullptr) {
            m_settings.record->flush();
        }
        return m_summary;
    }

  private:
    ByteSink& m_sink;
    const RunSettings& m_settings;
    const volatile std::sig_atomic_t* m_stop;
    LinePacer m_pacer;
    std::chrono::steady_clock::time_point m_wallStart;
    std::deque<InFlight> m_inFlight;
    RunSummary m_summary;
};

}  // namespace

void ByteSink::wait(std::int64_t us) {
    std::this_thread::sleep_for(std::chrono::microseconds(us));
}

RunSummary runSimulation(Scheduler& scheduler, ByteSink& sink, const RunSettings& settings,
                         const volatile std::sig_atomic_t* stop) {
    Run run(sink, settings, stop);
    return run.run(scheduler);
}

}  // namespace kestrel::sim
