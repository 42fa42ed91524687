// What a KrakenSDR answer gives the program: the line chosen for a frequency, its relative
// bearing with the array's offset and whether it is fresh, or why nothing of it is usable.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "instruments/kraken_line.h"

namespace kestrel::instruments {
namespace {

// A line as the DSP software writes it (spectrum shortened), field `n` (1 to 6) replaced.
std::string with(int n = 0, std::string_view value = "") {
    std::string_view head[] = {"1700000000000", "12.5", "87", "-41.5", "433920000", "UCA"};
    if (n > 0) {
        head[n - 1] = value;
    }
    std::string line;
    for (const std::string_view field : head) {
        line += std::string(field) + ",";
    }
    return line + "120,st1,52.1,4.3,0,0,GPS,0,0,0,0,0.1,0.9,0.4";
}

struct Case {
    std::string body;
    std::string expected;
    std::optional<double> frequencyHz = std::nullopt;
    double offset = 0;
    std::optional<int64_t> lastTimeMs = std::nullopt;
};

std::string outcome(const Case& c) {
    const KrakenParse parse = parseKrakenAnswer(c.body);
    if (parse.lines.empty()) {
        return "refused: " + parse.problem;
    }
    EXPECT_EQ(parse.problem, "");
    const std::string of = " of " + std::to_string(parse.lines.size());
    const std::optional<KrakenReading> r = chooseKrakenLine(parse.lines, c.frequencyHz);
    if (!r) {
        return "none" + of;
    }
    const std::size_t index =
        std::find(parse.lines.begin(), parse.lines.end(), *r) - parse.lines.begin();
    return std::to_string(index + 1) + of + " " + std::to_string(std::llround(r->frequencyHz)) +
           " Hz " + r->arrayType + " bearing " +
           std::to_string(krakenRelativeBearing(r->direction, c.offset)) +
           (isNewer(*r, c.lastTimeMs) ? " new" : " old");
}

TEST(KrakenLine, AnswersLinesAndBearings) {
    const std::string two = with() + "\r\n\r\n" + with(5, "433926000") + "\r\n";
    const std::string fill(kMaxKrakenAnswerBytes - with().size(), '\n');
    const Case cases[] = {
        {with(), "1 of 1 433920000 Hz UCA bearing 12 new"},  // halves to even
        {with(2, " +1.35E1 ") + "\n", "1 of 1 433920000 Hz UCA bearing 14 new"},
        {"1700000000000,0,0,-0,4.3392e8, ULA\n", "1 of 1 433920000 Hz ULA bearing 0 new"},
        {with(3, "99") + "\n" + with(2, "x"), "1 of 1 433920000 Hz UCA bearing 12 new"},
        {two, "1 of 2 433920000 Hz UCA bearing 12 new"},
        {two, "2 of 2 433926000 Hz UCA bearing 12 new", 433924000},
        {two, "1 of 2 433920000 Hz UCA bearing 12 new", 433923000},  // a tie: the first
        {two, "1 of 2 433920000 Hz UCA bearing 12 new", 433915000},
        {two, "none of 2", 433931001},
        {with(2, "350"), "1 of 1 433920000 Hz UCA bearing 10 new", {}, 20},
        {with(2, "10"), "1 of 1 433920000 Hz UCA bearing 350 new", {}, -20},
        {with(2, "359.6"), "1 of 1 433920000 Hz UCA bearing 0 new"},
        {with(2, "360"), "1 of 1 433920000 Hz UCA bearing 0 new", {}, -720},
        {with(2, "0.5"), "1 of 1 433920000 Hz UCA bearing 0 new", {}, 719},
        {with(), "1 of 1 433920000 Hz UCA bearing 12 old", {}, 0, 1700000000000},
        {with(), "1 of 1 433920000 Hz UCA bearing 12 new", {}, 0, 1699999999999},
        {fill + with(), "1 of 1 433920000 Hz UCA bearing 12 new"},
        {fill + "\n" + with(), "refused: an answer over 64 KiB"},
        {"", "refused: no line"},
        {" \r\n\n\t\n", "refused: no line"},
        {"1700000000000,12.5,87,-41.5,433920000\n", "refused: a line with too few fields"},
        {with(1, "0"), "refused: a time of 0 or less"},
        {with(1, "1.7e12"), "refused: a time that is not a whole number"},
        {with(1, "9223372036854775808"), "refused: a time that is not a whole number"},
        {with(2, "361") + "\n" + with(2, "nan"), "refused: a bearing outside 0-360"},
        {with(2, "-0.1"), "refused: a bearing outside 0-360"},
        {with(2, "inf"), "refused: a bearing that is not a number"},
        {with(2, "1e999"), "refused: a bearing that is not a number"},
        {with(2, "1e"), "refused: a bearing that is not a number"},
        {with(2, "."), "refused: a bearing that is not a number"},
        {with(3, "99.01"), "refused: a confidence outside 0-99"},
        {with(3, "high"), "refused: a confidence that is not a number"},
        {with(4, ""), "refused: a power that is not a number"},
        {with(5, "0"), "refused: a frequency of 0 or less"},
        {with(5, "433.92MHz"), "refused: a frequency that is not a number"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(outcome(c), c.expected) << c.body.substr(0, 120);
    }
    EXPECT_EQ(parseKrakenAnswer(with()).lines.at(0),
              (KrakenReading{1700000000000, 12.5, 87, -41.5, 433920000, "UCA"}));
}

}  // namespace
}  // namespace kestrel::instruments
