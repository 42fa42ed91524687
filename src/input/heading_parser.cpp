#include <array>

#include "app/form_kestrelmap.h"
#include "input/heading_reading.h"
#include "input/nmea_text.h"

namespace kestrel {

namespace {

constexpr size_t npos = std::string_view::npos;
constexpr int32_t kFullCircleHundredths = 36000;
constexpr int32_t kHalfCircleHundredths = 18000;
constexpr int64_t kFreshHeadingMs = 2000;

bool isTalkerLetter(char c) {
    return c >= 'A' && c <= 'Z';
}

// The fields between "$" and "*" (or the end), split at each comma; at most `N` are kept, the
// count says how many the sentence had.
template <size_t N>
struct Fields {
    std::array<std::string_view, N> field;
    size_t count = 0;
};

template <size_t N>
Fields<N> splitFields(std::string_view sentence) {
    const size_t star = sentence.find('*');
    std::string_view body = sentence.substr(1, star == npos ? npos : star - 1);
    Fields<N> out;
    while (true) {
        const size_t comma = body.find(',');
        if (out.count < N) {
            out.field[out.count] = body.substr(0, comma);
        }
        ++out.count;
        if (comma == npos) {
            return out;
        }
        body.remove_prefix(comma + 1);
    }
}

// An angle field "ddd.dd" in hundredths of a degree, up to `limit`; nothing when the field is
// empty, signed, or holds anything beyond the number.
std::optional<int32_t> angleHundredths(std::string_view field, int32_t limit) {
    const DecimalRun run = readDecimalRun(field);
    if (!run.found || run.hasSign || run.end != field.size() || field.front() == ' ') {
        return std::nullopt;
    }
    return roundedHalfEven(run, 100, limit);
}

// A magnetic correction (deviation or variation) and its direction letter, signed east
// positive; `required` says whether an empty pair is unusable or counts as none.
std::optional<int32_t> correction(std::string_view value, std::string_view letter, bool required) {
    if (value.empty() && letter.empty() && !required) {
        return 0;
    }
    const std::optional<int32_t> size = angleHundredths(value, kHalfCircleHundredths);
    if (!size || (letter != "E" && letter != "W")) {
        return std::nullopt;
    }
    return letter == "E" ? *size : -*size;
}

// Hundredths of a degree, any sign, to whole degrees 0 to 359 (halves to the even degree).
int wholeDegrees(int32_t hundredths) {
    hundredths %= kFullCircleHundredths;
    if (hundredths < 0) {
        hundredths += kFullCircleHundredths;
    }
    int32_t degrees = hundredths / 100;
    const int32_t rest = hundredths % 100;
    if (rest > 50 || (rest == 50 && degrees % 2 == 1)) {
        ++degrees;
    }
    return static_cast<int>(degrees % 360);
}

}  // namespace

size_t findHeadingStart(std::string_view text) {
    for (size_t at = text.find('$'); at != npos; at = text.find('$', at + 1)) {
        const std::string_view rest = text.substr(at + 1);
        if (rest.size() >= 5 && isTalkerLetter(rest[0]) && isTalkerLetter(rest[1]) &&
            (rest.substr(2, 3) == "HDT" || rest.substr(2, 3) == "HDG")) {
            return at;
        }
    }
    return npos;
}

// $--HDT,hhh.h,T*hh                     true heading
// $--HDG,hhh.h,ddd.d,E/W,vvv.v,E/W*hh   magnetic sensor heading, deviation, variation
// True = magnetic sensor heading + deviation (E positive, none when both its fields are
// empty) + variation (E positive). Not usable: a checksum that does not match, a heading
// field that is empty or not a plain number in 0 to 360, an HDT whose unit is not "T", an HDG
// without its variation or with a direction letter other than E or W.
std::optional<HeadingReading> readHeading(std::string_view sentence) {
    const size_t start = findHeadingStart(sentence);
    if (start != 0 || nmeaChecksum(sentence) == Checksum::Bad) {
        return std::nullopt;
    }
    const Fields<6> f = splitFields<6>(sentence);
    const std::string_view type = f.field[0].substr(2);
    const std::optional<int32_t> heading =
        f.count > 1 ? angleHundredths(f.field[1], kFullCircleHundredths) : std::nullopt;
    if (!heading) {
        return std::nullopt;
    }
    if (type == "HDT") {
        if (f.count != 3 || f.field[2] != "T") {
            return std::nullopt;
        }
        return HeadingReading{wholeDegrees(*heading), "HDT"};
    }
    if (f.count != 6) {
        return std::nullopt;
    }
    const std::optional<int32_t> deviation = correction(f.field[2], f.field[3], false);
    const std::optional<int32_t> variation = correction(f.field[4], f.field[5], true);
    if (!deviation || !variation) {
        return std::nullopt;
    }
    return HeadingReading{wholeDegrees(*heading + *deviation + *variation), "HDG"};
}

// A heading sentence framed on the COM line or the GPS input: a usable one is kept with the
// moment it arrived; others leave the kept heading as it was.
void Form_Kestrelmap::takeHeading(std::string_view sentence) {
    const std::optional<HeadingReading> reading = readHeading(sentence);
    if (!reading) {
        return;
    }
    m_heading = *reading;
    m_headingAtMs = m_platform.clock.utcMilliseconds();
}

// The kept heading while it is at most 2 seconds old by the clock; a clock that went back
// since makes it stale rather than fresh for longer.
std::optional<HeadingReading> Form_Kestrelmap::freshHeading() const {
    if (!m_heading) {
        return std::nullopt;
    }
    const int64_t ageMs = m_platform.clock.utcMilliseconds() - m_headingAtMs;
    if (ageMs < 0 || ageMs > kFreshHeadingMs) {
        return std::nullopt;
    }
    return m_heading;
}

}  // namespace kestrel
