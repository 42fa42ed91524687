#include "instruments/input_status.h"

#include <algorithm>
#include <cstdio>

#include "input/nmea_text.h"
#include "input/rmc_reading.h"

namespace kestrel::instruments {

namespace {

constexpr int64_t kReceivingMs = 3000;  // a line within this time: the input is receiving

// A line that carries what the input is there for: a valid RMC fix, or a bearing line.
bool isReading(InputRole role, std::string_view line) {
    if (role == InputRole::Df) {
        return line.find('%') != std::string_view::npos;
    }
    const size_t start = findRmcStart(line);
    if (start == std::string_view::npos) {
        return false;
    }
    const std::optional<RmcReading> reading = readRmc(line.substr(start));
    return reading && reading->validFix;
}

std::string secondsText(int64_t ms, const char* format) {
    char text[48];
    std::snprintf(text, sizeof text, format, double(std::max<int64_t>(ms, 0)) / 1000.0);
    return text;
}

}  // namespace

void InputMonitor::opened(int64_t nowMs) {
    m_open = true;
    m_problem.clear();
    m_quietSinceMs = nowMs;
    m_lastLineMs.reset();
    m_lastReadingMs.reset();
}

void InputMonitor::closed() {
    m_open = false;
    m_problem.clear();
}

void InputMonitor::failed(std::string problem) {
    m_problem = std::move(problem);
}

void InputMonitor::recovered(int64_t nowMs) {
    if (!m_problem.empty()) {
        m_problem.clear();
        m_quietSinceMs = nowMs;  // what came before the failure no longer counts
        m_lastLineMs.reset();
        m_lastReadingMs.reset();
    }
}

void InputMonitor::lineReceived(std::string_view line, int64_t nowMs) {
    m_lastLineMs = nowMs;
    // The COM line's status tells of lines only, so its lines are not read for a reading.
    if (m_role != InputRole::Line && isReading(m_role, line)) {
        m_lastReadingMs = nowMs;
    }
}

std::string InputMonitor::statusText(int64_t nowMs) const {
    if (!m_problem.empty()) {
        return m_problem;
    }
    if (!m_open) {
        return "closed (not needed)";
    }
    if (m_lastLineMs && nowMs - *m_lastLineMs <= kReceivingMs) {
        const char* noun = m_role == InputRole::Gps ? "fix" : "bearing";
        if (m_role == InputRole::Line || !m_lastReadingMs) {
            return secondsText(nowMs - *m_lastLineMs, "receiving, last line %.1f s ago");
        }
        return "receiving, last " + std::string(noun) +
               secondsText(nowMs - *m_lastReadingMs, " %.1f s ago");
    }
    const int64_t quietSince = std::max(m_lastLineMs.value_or(m_quietSinceMs), m_quietSinceMs);
    return secondsText(nowMs - quietSince, "no data for %.0f s");
}

}  // namespace kestrel::instruments
