#pragma once
// The pace of the serial line: at 4800 baud with 8 data bits, no parity and 1 stop bit, each
// character takes 10 bit times, so the line carries 480 characters a second (2.083 ms each).
// Lines handed to a busy line wait for the one before to finish; they never interleave.

#include <cstddef>
#include <cstdint>

namespace kestrel::sim {

class LinePacer {
  public:
    explicit LinePacer(int baud = 4800, int bitsPerChar = 10);

    // Microseconds that `chars` characters occupy the line.
    std::int64_t durationUs(std::size_t chars) const;
    // Hands a line of `chars` characters to the line at `readyUs`; returns when its first
    // character starts: `readyUs`, or the moment the line before it has been sent.
    std::int64_t schedule(std::int64_t readyUs, std::size_t chars);
    // When character `index` (0-based) of a line that started at `startUs` has fully arrived.
    std::int64_t arrivalUs(std::int64_t startUs, std::size_t index) const {
        return startUs + durationUs(index + 1);
    }
    std::int64_t busyUntilUs() const { return m_busyUntilUs; }
    double charsPerSecond() const;

  private:
    std::int64_t m_baud;
    std::int64_t m_bitsPerChar;
    std::int64_t m_busyUntilUs = 0;
};

}  // namespace kestrel::sim
