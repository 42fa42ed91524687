#include <algorithm>
#include <cmath>

#include "kestrel-sim/scheduler.h"
#include "kestrel-sim/sentences.h"

namespace kestrel::sim {
namespace {

constexpr std::int64_t kDayMs = 86'400'000;
constexpr std::int64_t kLongestGapMs = 3'600'000;  // longer between two RMC times: a new start

bool digitsAt(std::string_view text, std::size_t from, std::size_t count) {
    return from + count <= text.size() &&
           std::all_of(text.begin() + from, text.begin() + from + count,
                       [](char c) { return c >= '0' && c <= '9'; });
}

int numberAt(std::string_view text, std::size_t from, std::size_t count) {
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Up to three digits of a fraction of a second as milliseconds ("5" is 500, "1234" is 123).
std::int64_t fractionMs(std::string_view digits) {
    std::int64_t ms = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        ms = ms * 10 + (i < digits.size() ? digits[i] - '0' : 0);
    }
    return ms;
}

}  // namespace

std::optional<std::int64_t> ReplaySource::takeTimestampMs(std::string_view& line) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos || tab == 0) {
        return std::nullopt;
    }
    std::int64_t wholeSeconds = 0;
    std::int64_t ms = 0;
    int decimals = -1;  // -1: before the point
    for (std::size_t i = 0; i < tab; ++i) {
        const char c = line[i];
        if (c == '.' && decimals < 0) {
            decimals = 0;
        } else if (c >= '0' && c <= '9') {
            if (decimals < 0) {
                if (wholeSeconds > 1'000'000'000) {
                    return std::nullopt;  // past any recording's length: not a timestamp
                }
                wholeSeconds = wholeSeconds * 10 + (c - '0');
            } else if (decimals < 3) {
                ms = ms * 10 + (c - '0');
                ++decimals;
            }
        } else {
            return std::nullopt;
        }
    }
    if (line[0] == '.' && tab == 1) {
        return std::nullopt;
    }
    for (int d = std::max(decimals, 0); d < 3; ++d) {
        ms *= 10;
    }
    line.remove_prefix(tab + 1);
    return wholeSeconds * 1000 + ms;
}

std::optional<std::int64_t> ReplaySource::takeInputLogStampMs(std::string_view& line) {
    // "YYYY-MM-DDTHH:MM:SS[.fff]Z<TAB>INPUT<TAB>text"
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos || tab < 19) {
        return std::nullopt;
    }
    std::string_view stamp = line.substr(0, tab);
    if (stamp.back() == 'Z') {
        stamp.remove_suffix(1);
    }
    std::int64_t ms = 0;
    if (stamp.size() > 19) {
        const std::string_view fraction = stamp.substr(20);
        if (stamp[19] != '.' || fraction.empty() || !digitsAt(fraction, 0, fraction.size())) {
            return std::nullopt;
        }
        ms = fractionMs(fraction);
    }
    const std::optional<std::int64_t> seconds = parseUtc(stamp.substr(0, 19));
    const std::size_t inputEnd = line.find('\t', tab + 1);
    if (!seconds || inputEnd == std::string_view::npos || inputEnd == tab + 1 ||
        inputEnd - tab - 1 > 16) {
        return std::nullopt;
    }
    line.remove_prefix(inputEnd + 1);
    return *seconds * 1000 + ms;
}

std::optional<std::int64_t> ReplaySource::rmcTimeOfDayMs(std::string_view line) {
    // "$ttRMC,hhmmss[.ss],..." with a checksum "*hh" at the end when there is a "*"
    if (line.size() < 14 || line[0] != '$' || line.substr(3, 4) != "RMC," ||
        !digitsAt(line, 7, 6) ||
        (line.find('*') != std::string_view::npos && !checksumMatches(line))) {
        return std::nullopt;
    }
    const int h = numberAt(line, 7, 2);
    const int m = numberAt(line, 9, 2);
    const int s = numberAt(line, 11, 2);
    if (h > 23 || m > 59 || s > 60) {
        return std::nullopt;
    }
    std::int64_t ms = 0;
    if (line[13] == '.') {
        std::size_t end = 14;
        while (digitsAt(line, end, 1)) {
            ++end;
        }
        ms = fractionMs(line.substr(14, end - 14));
    }
    return ((h * 60 + m) * 60 + s) * std::int64_t(1000) + ms;
}

ReplaySource::ReplaySource(std::string_view recording, const ReplaySettings& settings)
    : m_settings(settings) {
    if (!(m_settings.linesPerSecond > 0)) {
        m_settings.linesPerSecond = 4;
    }
    if (!(m_settings.speed > 0)) {
        m_settings.speed = 1;
    }
    bool inputLog = false;
    bool stamped = false;
    std::size_t at = 0;
    while (at < recording.size()) {
        std::size_t end = recording.find_first_of("\r\n", at);
        if (end == std::string_view::npos) {
            end = recording.size();
        }
        std::string_view line = recording.substr(at, end - at);
        at = end + 1;
        if (line.empty()) {
            continue;
        }
        Line parsed;
        parsed.stampMs = takeInputLogStampMs(line);
        inputLog = inputLog || parsed.stampMs.has_value();
        if (!parsed.stampMs) {
            parsed.stampMs = takeTimestampMs(line);
        }
        stamped = stamped || parsed.stampMs.has_value();
        if (line.empty()) {
            continue;
        }
        parsed.text = std::string(line);
        m_lines.push_back(std::move(parsed));
    }
    if (m_settings.rateGiven && !m_settings.timing) {
        return;  // an even pace, as asked
    }
    if (inputLog || (stamped && m_settings.timing)) {
        paceByStamps();
    } else if (!stamped) {
        paceByRmcTimes();
    }
}

void ReplaySource::paceByStamps() {
    std::optional<std::int64_t> first;
    std::int64_t last = 0;
    for (const Line& line : m_lines) {
        if (line.stampMs && !first) {
            first = line.stampMs;
        }
        if (line.stampMs) {
            last = std::max(last, *line.stampMs - *first);
        }
        m_offsetsMs.push_back(last);
    }
}

void ReplaySource::paceByRmcTimes() {
    std::vector<std::size_t> rmcLines;
    std::vector<double> rmcMs;  // on one clock from the first RMC sentence, never backwards
    std::optional<std::int64_t> previous;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const std::optional<std::int64_t> time = rmcTimeOfDayMs(m_lines[i].text);
        if (!time) {
            continue;
        }
        std::int64_t gap = previous ? ((*time - *previous) % kDayMs + kDayMs) % kDayMs : 0;
        if (gap > kLongestGapMs) {
            gap = 1000;
        }
        rmcMs.push_back((rmcMs.empty() ? 0.0 : rmcMs.back()) + static_cast<double>(gap));
        rmcLines.push_back(i);
        previous = time;
    }
    if (rmcLines.empty()) {
        return;  // nothing to pace by: an even pace
    }
    const double evenMs = 1000.0 / m_settings.linesPerSecond;
    // The time a line takes in the stretch between RMC sentences k and k + 1.
    const auto spacing = [&](std::size_t k) {
        if (k + 1 >= rmcLines.size()) {
            return evenMs;
        }
        return (rmcMs[k + 1] - rmcMs[k]) / static_cast<double>(rmcLines[k + 1] - rmcLines[k]);
    };
    std::vector<double> offsets(m_lines.size());
    std::size_t k = 0;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        while (k + 1 < rmcLines.size() && rmcLines[k + 1] <= i) {
            ++k;
        }
        // Before the first RMC sentence the first stretch's pace holds, after the last the last
        // one's.
        const std::size_t stretch = k + 1 < rmcLines.size() || k == 0 ? k : k - 1;
        offsets[i] = rmcMs[k] +
                     (static_cast<double>(i) - static_cast<double>(rmcLines[k])) * spacing(stretch);
    }
    for (double offset : offsets) {
        m_offsetsMs.push_back(std::llround(offset - offsets.front()));
    }
}

std::optional<SimEvent> ReplaySource::next() {
    if (m_lines.empty()) {
        return std::nullopt;
    }
    const double speed = m_settings.speed;
    if (m_index == m_lines.size()) {
        if (!m_settings.loop) {
            return std::nullopt;
        }
        m_index = 0;
        m_passOffsetMs = m_lastMs + std::llround(1000.0 / m_settings.linesPerSecond / speed);
    }
    const std::size_t index = m_index++;
    SimEvent e;
    e.lineKind = LineKind::Replayed;
    e.text = m_lines[index].text;
    if (!m_offsetsMs.empty()) {
        e.atMs = std::max<std::int64_t>(
            m_lastMs,
            m_passOffsetMs + std::llround(static_cast<double>(m_offsetsMs[index]) / speed));
    } else {
        e.atMs = std::llround(static_cast<double>(m_count) * 1000.0 /
                              (m_settings.linesPerSecond * speed));
    }
    ++m_count;
    m_lastMs = e.atMs;
    return e;
}

}  // namespace kestrel::sim
