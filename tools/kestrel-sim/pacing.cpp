#include "kestrel-sim/pacing.h"

#include <algorithm>

namespace kestrel::sim {

LinePacer::LinePacer(int baud, int bitsPerChar)
    : m_baud(std::max(baud, 1)), m_bitsPerChar(std::max(bitsPerChar, 1)) {}

std::int64_t LinePacer::durationUs(std::size_t chars) const {
    // Computed from the start of the line each time, so no rounding error adds up.
    return static_cast<std::int64_t>(chars) * m_bitsPerChar * 1'000'000 / m_baud;
}

std::int64_t LinePacer::schedule(std::int64_t readyUs, std::size_t chars) {
    const std::int64_t start = std::max(readyUs, m_busyUntilUs);
    m_busyUntilUs = start + durationUs(chars);
    return start;
}

double LinePacer::charsPerSecond() const {
    return static_cast<double>(m_baud) / static_cast<double>(m_bitsPerChar);
}

}  // namespace kestrel::sim
