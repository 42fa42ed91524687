#pragma once
// The instruments of an end-to-end test: a pseudo-terminal linked into the test's Kestrelmap
// folder as COM1, and a thread that keeps talking on it like a GPS and a direction finder do:
// the current RMC sentence once a second, the current bearing line four times a second, and any
// one-off line (such as "@PLOT") at the next turn, each line at the pace of a 4800-baud line.
// The test changes what they say; the program only ever sees the serial line.

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "kestrel-sim/pty_port.h"

namespace kestrel::e2e {

// "$GPRMC,180000.00," + `fields` + ",150624,,,A*hh" with the right checksum; `fields` runs from
// the status to the course: "A,4807.038,N,01131.000,E,022.4,084.4".
std::string rmc(std::string_view fields);

class Instruments {
  public:
    explicit Instruments(const std::string& folder);  // throws std::runtime_error
    ~Instruments();
    Instruments(const Instruments&) = delete;
    Instruments& operator=(const Instruments&) = delete;

    // What the GPS and the direction finder repeat; empty: that instrument is silent.
    void gps(std::string sentence);
    void bearing(std::string line);
    // Sent once, at the next turn.
    void send(std::string line);
    // Both silent.
    void silence();

    // The cable: unplugging removes COM1 and closes the device; plugging in makes a new one.
    void unplug();
    void plugIn();

    // True once the program has the device open, within `timeout`.
    bool waitListening(std::chrono::milliseconds timeout) const;
    bool listening() const;
    // One-off lines not yet sent.
    bool sendPending() const;

  private:
    void loop();
    void writeLine(const std::string& line);

    mutable std::mutex m_mutex;
    std::unique_ptr<sim::PtyPort> m_port;
    std::string m_gps;
    std::string m_bearing;
    std::vector<std::string> m_once;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace kestrel::e2e
