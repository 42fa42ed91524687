#pragma once
// Instrument lines as the receivers on the serial line send them: RMC sentences with their
// NMEA checksum, direction-finder bearing lines and remote plot commands, each ended by CR LF.
// Small and self-contained, so the soak, the fault tests and the fuzz seeds share one source.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace kestrel::test {

// "*HH": the exclusive-or of every character between "$" and "*", in upper-case hex.
inline std::string nmeaChecksum(std::string_view body) {
    unsigned sum = 0;
    for (char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char out[4];
    std::snprintf(out, sizeof out, "*%02X", sum & 0xFFu);
    return out;
}

struct Fix {
    int hour = 9, minute = 5, second = 3;
    bool valid = true;
    double latDeg = 34.4185;  // north positive
    double lonDeg = -119.7417;
    double speedKnots = 22.4;
    double courseDeg = 84.4;
    int day = 7, month = 3, year = 26;
};

// "$GPRMC,hhmmss.00,A,ddmm.mmmm,N,dddmm.mmmm,W,s.s,c.c,ddmmyy,,,A*HH" + CR LF.
inline std::string rmcSentence(const Fix& f, std::string_view talker = "GP",
                               bool withChecksum = true) {
    const double lat = std::abs(f.latDeg), lon = std::abs(f.lonDeg);
    const int latD = static_cast<int>(lat), lonD = static_cast<int>(lon);
    char body[160];
    std::snprintf(
        body, sizeof body,
        "%.2sRMC,%02d%02d%02d.00,%c,%02d%07.4f,%c,%03d%07.4f,%c,%.1f,%.1f,%02d%02d%02d,,,A",
        talker.data(), f.hour, f.minute, f.second, f.valid ? 'A' : 'V', latD, (lat - latD) * 60.0,
        f.latDeg < 0 ? 'S' : 'N', lonD, (lon - lonD) * 60.0, f.lonDeg < 0 ? 'W' : 'E', f.speedKnots,
        f.courseDeg, f.day, f.month, f.year);
    std::string s = "$" + std::string(body);
    if (withChecksum) {
        s += nmeaChecksum(body);
    }
    return s + "\r\n";
}

// "%" and the relative bearing in three digits, CR LF.
inline std::string bearingLine(int relativeDeg) {
    char out[16];
    std::snprintf(out, sizeof out, "%%%03d\r\n", ((relativeDeg % 360) + 360) % 360);
    return out;
}

inline std::string plotCommand() {
    return "@PLOT\r\n";
}

// A small deterministic generator (xorshift64*), the same sequence everywhere.
class TestRandom {
  public:
    explicit TestRandom(uint64_t seed) : m_state(seed ? seed : 0x9E3779B97F4A7C15ull) {}
    uint64_t next() {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return m_state * 0x2545F4914F6CDD1Dull;
    }
    // Whole number in [0, n).
    uint32_t below(uint32_t n) { return static_cast<uint32_t>((next() >> 32) % n); }
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    bool chance(double p) { return uniform() < p; }

  private:
    uint64_t m_state;
};

}  // namespace kestrel::test
