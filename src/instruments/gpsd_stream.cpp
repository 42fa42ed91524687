#include "instruments/gpsd_stream.h"

namespace kestrel::instruments {

namespace {
// NMEA allows 82 characters a sentence; gpsd's JSON reports stay well under this too.
constexpr std::size_t kLineLimit = 4096;
}  // namespace

std::string GpsdStream::take(std::string_view bytes) {
    std::string sentences;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        const std::string_view part = bytes.substr(0, end);
        if (!m_overlong && m_line.size() + part.size() <= kLineLimit) {
            m_line.append(part);
        } else {
            m_overlong = true;
            m_line.clear();
        }
        if (end == std::string_view::npos) {
            break;
        }
        bytes.remove_prefix(end + 1);
        while (!m_line.empty() && m_line.back() == '\r') {
            m_line.pop_back();
        }
        if (!m_overlong && !m_line.empty() && m_line.front() == '$') {
            sentences += m_line;
            sentences += "\r\n";
        } else if (!m_overlong && !m_line.empty() && m_line.front() == '{') {
            m_heardGpsd = true;
        }
        m_line.clear();
        m_overlong = false;
    }
    return sentences;
}

void GpsdStream::reset() {
    m_line.clear();
    m_overlong = false;
    m_heardGpsd = false;
}

}  // namespace kestrel::instruments
