#include "e2e/instruments.h"

#include <stdexcept>

#include "kestrel-sim/sentences.h"

namespace kestrel::e2e {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kCharactersPerSecond = 480;  // 4800 baud, 10 bits a character
constexpr auto kGpsPeriod = 1000ms;
constexpr auto kBearingPeriod = 250ms;

}  // namespace

std::string rmc(std::string_view fields) {
    const std::string body = "GPRMC,180000.00," + std::string(fields) + ",150624,,,A";
    return "$" + body + "*" + sim::nmeaChecksum(body);
}

Instruments::Instruments(const std::string& folder) {
    std::string error;
    m_port = sim::PtyPort::open(folder, 1, error);
    if (!m_port) {
        throw std::runtime_error("cannot make the serial device: " + error);
    }
    m_thread = std::thread([this] { loop(); });
}

Instruments::~Instruments() {
    m_stop = true;
    m_thread.join();
}

void Instruments::gps(std::string sentence) {
    std::lock_guard lock(m_mutex);
    m_gps = std::move(sentence);
}

void Instruments::bearing(std::string line) {
    std::lock_guard lock(m_mutex);
    m_bearing = std::move(line);
}

void Instruments::send(std::string line) {
    std::lock_guard lock(m_mutex);
    m_once.push_back(std::move(line));
}

void Instruments::silence() {
    std::lock_guard lock(m_mutex);
    m_gps.clear();
    m_bearing.clear();
}

void Instruments::unplug() {
    std::lock_guard lock(m_mutex);
    m_port->unplug();
}

void Instruments::plugIn() {
    std::lock_guard lock(m_mutex);
    std::string error;
    if (!m_port->plugIn(error)) {
        throw std::runtime_error("cannot plug the serial device back in: " + error);
    }
}

bool Instruments::listening() const {
    std::lock_guard lock(m_mutex);
    return m_port->listening();
}

bool Instruments::waitListening(std::chrono::milliseconds timeout) const {
    const Clock::time_point end = Clock::now() + timeout;
    while (!listening()) {
        if (Clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

bool Instruments::sendPending() const {
    std::lock_guard lock(m_mutex);
    return !m_once.empty();
}

void Instruments::writeLine(const std::string& line) {
    const std::string bytes = line + "\r\n";
    {
        std::lock_guard lock(m_mutex);
        m_port->write(bytes);  // nobody listening: lost, as on a real line
    }
    std::this_thread::sleep_for(
        std::chrono::microseconds(1'000'000 * bytes.size() / kCharactersPerSecond));
}

void Instruments::loop() {
    Clock::time_point nextGps = Clock::now();
    Clock::time_point nextBearing = nextGps;
    while (!m_stop) {
        const Clock::time_point now = Clock::now();
        std::string gpsLine;
        std::string bearingLine;
        std::string onceLine;
        {
            std::lock_guard lock(m_mutex);
            if (now >= nextGps) {
                gpsLine = m_gps;
                nextGps = std::max(nextGps + kGpsPeriod, now);
            }
            if (now >= nextBearing) {
                bearingLine = m_bearing;
                nextBearing = std::max(nextBearing + kBearingPeriod, now);
            }
            if (!m_once.empty()) {
                onceLine = m_once.front();
            }
        }
        for (const std::string* line : {&gpsLine, &bearingLine, &onceLine}) {
            if (!line->empty()) {
                writeLine(*line);
            }
        }
        if (!onceLine.empty()) {
            std::lock_guard lock(m_mutex);
            m_once.erase(m_once.begin());
        }
        std::this_thread::sleep_for(10ms);
    }
}

}  // namespace kestrel::e2e
