#pragma once
// The live status of one input as the operator reads it in the instruments window:
// "receiving, last fix 0.4 s ago", "no data for 12 s", "closed (not needed)", or the problem
// that keeps it from receiving. It only records what the shell tells it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "instruments/input_routing.h"

namespace kestrel::instruments {

class InputMonitor {
  public:
    explicit InputMonitor(InputRole role) : m_role(role) {}

    void opened(int64_t nowMs);
    void closed();
    // The input cannot receive, for the reason given (shown until it opens or closes again).
    void failed(std::string problem);
    // It receives again after a failure (the device came back, gpsd answered).
    void recovered(int64_t nowMs);
    void lineReceived(std::string_view line, int64_t nowMs);

    std::string statusText(int64_t nowMs) const;

  private:
    InputRole m_role;
    bool m_open = false;
    std::string m_problem;
    int64_t m_quietSinceMs = 0;  // opened or recovered at
    std::optional<int64_t> m_lastLineMs;
    std::optional<int64_t> m_lastReadingMs;  // a fix (GPS) or a bearing (direction finder)
};

}  // namespace kestrel::instruments
