#include "kestrel-sim/sentences.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kestrel::sim {
namespace {

// Howard Hinnant's days-from-civil and civil-from-days, proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(std::int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

bool readInt(std::string_view text, std::size_t at, std::size_t width, int& out) {
    if (at + width > text.size()) {
        return false;
    }
    out = 0;
    for (std::size_t i = at; i < at + width; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        out = out * 10 + (text[i] - '0');
    }
    return true;
}

// A coordinate as whole degrees and 1/10000 minutes, rounded once.
void splitCoordinate(double absDeg, std::int64_t& degrees, std::int64_t& tenThousandthMinutes) {
    const auto total = static_cast<std::int64_t>(std::llround(absDeg * 60.0 * 10000.0));
    degrees = total / 600000;
    tenThousandthMinutes = total % 600000;
}

}  // namespace

UtcTime utcAt(std::int64_t startEpochSeconds, std::int64_t simMs) {
    const std::int64_t totalCs = startEpochSeconds * 100 + floorDiv(simMs, 10);
    const std::int64_t days = floorDiv(totalCs, 8640000);
    std::int64_t csOfDay = totalCs - days * 8640000;
    UtcTime t;
    civilFromDays(days, t.year, t.month, t.day);
    t.hour = static_cast<int>(csOfDay / 360000);
    csOfDay %= 360000;
    t.minute = static_cast<int>(csOfDay / 6000);
    csOfDay %= 6000;
    t.second = static_cast<int>(csOfDay / 100);
    t.centisecond = static_cast<int>(csOfDay % 100);
    return t;
}

std::optional<std::int64_t> parseUtc(std::string_view text) {
    if (!text.empty() && (text.back() == 'Z' || text.back() == 'z')) {
        text.remove_suffix(1);
    }
    int y, mo, d, h, mi, s;
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' ||
        (text[10] != 'T' && text[10] != ' ') || text[13] != ':' || text[16] != ':' ||
        !readInt(text, 0, 4, y) || !readInt(text, 5, 2, mo) || !readInt(text, 8, 2, d) ||
        !readInt(text, 11, 2, h) || !readInt(text, 14, 2, mi) || !readInt(text, 17, 2, s)) {
        return std::nullopt;
    }
    if (mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || s > 59) {
        return std::nullopt;
    }
    int cy, cm, cd;  // reject the 31st of a 30-day month and friends
    const std::int64_t days = daysFromCivil(y, mo, d);
    civilFromDays(days, cy, cm, cd);
    if (cy != y || cm != mo || cd != d) {
        return std::nullopt;
    }
    return days * 86400 + std::int64_t{h} * 3600 + std::int64_t{mi} * 60 + s;
}

std::string nmeaChecksum(std::string_view body) {
    unsigned char sum = 0;
    for (char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    return {kHex[sum >> 4], kHex[sum & 0x0F]};
}

bool checksumMatches(std::string_view sentence) {
    const std::size_t star = sentence.rfind('*');
    if (sentence.empty() || sentence.front() != '$' || star == std::string_view::npos ||
        star + 3 != sentence.size()) {
        return false;
    }
    std::string given(sentence.substr(star + 1));
    std::transform(given.begin(), given.end(), given.begin(),
                   [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 32) : c; });
    return given == nmeaChecksum(sentence.substr(1, star - 1));
}

std::string formatRmc(const RmcFix& fix, std::string_view talker) {
    char buf[160];
    const UtcTime& t = fix.time;
    std::string body = std::string(talker) + "RMC";
    std::snprintf(buf, sizeof buf, ",%02d%02d%02d.%02d,", t.hour, t.minute, t.second,
                  t.centisecond);
    body += buf;
    char date[16];
    std::snprintf(date, sizeof date, "%02d%02d%02d", t.day, t.month, t.year % 100);
    if (!fix.valid) {
        body += "V,,,,,,,";
        body += date;
        body += ",,,N";
    } else {
        std::int64_t latD, latM, lonD, lonM;
        splitCoordinate(std::abs(fix.position.latDeg), latD, latM);
        splitCoordinate(std::abs(fix.position.lonDeg), lonD, lonM);
        const auto speedTenths =
            static_cast<long long>(std::llround(std::max(0.0, fix.speedKnots) * 10));
        auto courseTenths = static_cast<long long>(std::llround(wrapDegrees(fix.courseDeg) * 10));
        if (courseTenths >= 3600) {
            courseTenths -= 3600;
        }
        std::snprintf(
            buf, sizeof buf,
            "A,%02lld%02lld.%04lld,%c,%03lld%02lld.%04lld,%c,%03lld.%01lld,%03lld.%01lld,",
            static_cast<long long>(latD), static_cast<long long>(latM / 10000),
            static_cast<long long>(latM % 10000), fix.position.latDeg < 0 ? 'S' : 'N',
            static_cast<long long>(lonD), static_cast<long long>(lonM / 10000),
            static_cast<long long>(lonM % 10000), fix.position.lonDeg < 0 ? 'W' : 'E',
            speedTenths / 10, speedTenths % 10, courseTenths / 10, courseTenths % 10);
        body += buf;
        body += date;
        body += ",,,A";
    }
    return "$" + body + "*" + nmeaChecksum(body);
}

std::string formatBearing(int relativeDeg, int quality) {
    const int bearing = ((relativeDeg % 360) + 360) % 360;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%%%03d/%d", bearing, std::clamp(quality, 0, 9));
    return buf;
}

}  // namespace kestrel::sim
