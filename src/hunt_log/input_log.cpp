#include "hunt_log/input_log.h"

#include <cstdio>

namespace kestrel::hunt_log {

namespace {

// More than this and a burst of lines is written at once rather than after its event.
constexpr size_t kWriteAtBytes = size_t{64} * 1024;

}  // namespace

std::string isoUtcMillisecondsText(int64_t utcMilliseconds) {
    const int64_t millis = ((utcMilliseconds % 1000) + 1000) % 1000;
    std::string text = isoUtcText(utcMilliseconds - millis);  // whole seconds, ends with "Z"
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", int(millis));
    text.insert(text.size() - 1, fraction);
    return text;
}

std::string inputLogPath(const std::string& mapFileName) {
    constexpr std::string_view kMapEnd = ".kml";
    std::string base = mapFileName;
    if (base.ends_with(kMapEnd)) {
        base.resize(base.size() - kMapEnd.size());
    }
    return base + "_input.log";
}

InputLog::InputLog(TextFiles& files, MessageBox& messages, Clock& clock, std::string path)
    : m_files(files),
      m_notice(messages, "input log",
               "The lines received are kept (the last megabyte of them) and written as soon as "
               "the file can be written again."),
      m_clock(clock),
      m_path(std::move(path)) {}

InputLog::~InputLog() {
    if (!m_pending.empty()) {
        std::string ignored;  // nobody is left to tell
        m_files.append(m_path, m_pending, ignored);
    }
}

void InputLog::lineReceived(std::string_view input, std::string_view line) {
    m_pending += isoUtcMillisecondsText(m_clock.utcMilliseconds());
    m_pending += '\t';
    m_pending += input;
    m_pending += '\t';
    m_pending += line;
    m_pending += "\r\n";
    if (m_pending.size() > kMaxPendingBytes) {
        // Only while the file fails: drop whole lines from the front, a quarter at a time.
        const size_t excess = m_pending.size() - kMaxPendingBytes * 3 / 4;
        const size_t cut = m_pending.find("\r\n", excess);
        m_pending.erase(0, cut == std::string::npos ? m_pending.size() : cut + 2);
    }
    if (m_pending.size() >= kWriteAtBytes && !m_notice.failing()) {
        // In the middle of the receive handler: a failure is told after the event instead.
        std::string ignored;
        if (m_files.append(m_path, m_pending, ignored)) {
            m_pending.clear();
        }
    }
}

void InputLog::flush() {
    if (m_pending.empty()) {
        return;
    }
    std::string reason;
    const bool written = m_files.append(m_path, m_pending, reason);
    if (written) {
        m_pending.clear();
    }
    m_notice.report(written, m_path, reason);
}

}  // namespace kestrel::hunt_log
