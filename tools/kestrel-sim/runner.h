#pragma once
// Plays a schedule onto a byte sink at the pace of the serial line (or as fast as the sink
// takes it). The runner owns the timing; the sink owns the device (a pseudo-terminal, stdout,
// or a string in a test).

#include <csignal>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "kestrel-sim/scheduler.h"

namespace kestrel::sim {

class ByteSink {
  public:
    virtual ~ByteSink() = default;
    // Bytes that have just fully arrived at the far end. False ends the run (the reader is gone
    // for good).
    virtual bool deliver(std::string_view bytes) = 0;
    // The cable is pulled out / plugged back in. False ends the run.
    virtual bool cableOut() { return true; }
    virtual bool cableBack() { return true; }
    // The Kraken's new answer (a Kraken event), at its time; nothing on the line.
    virtual void answer(const SimEvent& /*e*/) {}
    // Lets up to `us` microseconds pass (returning early is fine, e.g. on a signal).
    virtual void wait(std::int64_t us);
};

// Collects everything in memory; for tests and in-process users.
class StringSink : public ByteSink {
  public:
    bool deliver(std::string_view bytes) override {
        m_bytes.append(bytes);
        return true;
    }
    bool cableOut() override {
        ++m_cablePulls;
        return true;
    }
    void answer(const SimEvent& e) override { m_answers.push_back(e.text); }
    const std::string& bytes() const { return m_bytes; }
    int cablePulls() const { return m_cablePulls; }
    const std::vector<std::string>& answers() const { return m_answers; }

  private:
    std::string m_bytes;
    int m_cablePulls = 0;
    std::vector<std::string> m_answers;
};

struct RunSettings {
    bool paced = true;  // false: no waiting at all (--fast)
    int baud = 4800;
    // Each line once its last character has been delivered, in the replay format; a line cut by
    // a cable pull or still waiting at the end of the run is not there.
    std::ostream* record = nullptr;
};

struct RunSummary {
    std::int64_t lines = 0;
    std::int64_t bytes = 0;     // delivered to the sink
    std::int64_t cutBytes = 0;  // lost to a cable pulled in the middle of a line
    std::int64_t cablePulls = 0;
    std::int64_t endUs = 0;    // simulated time when the last byte arrived
    bool interrupted = false;  // the stop flag was raised
    bool sinkGone = false;     // the sink refused
};

// Lines are sent with CR LF; a line whose time comes while the line is busy waits for it. A
// cable pull cuts a line in the middle: the characters that had not arrived are lost. At the
// end of the schedule the line in progress is finished. A Kraken answer goes to the sink at
// its time, beside the line.
RunSummary runSimulation(Scheduler& scheduler, ByteSink& sink, const RunSettings& settings,
                         const volatile std::sig_atomic_t* stop = nullptr);

}  // namespace kestrel::sim
