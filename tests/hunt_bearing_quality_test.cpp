// How a bearing was taken, judged at its plot: the turn rate of the course or heading it was made
// with, the spread of the direction finder's bearings and the direction finder's own quality,
// each at the edges of its window.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "estimate/number_format.h"
#include "hunt/bearing_quality.h"
#include "input_test_support.h"

namespace kestrel {
namespace {

constexpr int64_t kPlotAt = 1772874303000;

TEST(BearingQuality, TurnRateSpreadAndQualityAtThePlot) {
    struct Sample {
        char series;     // 'c' course, 'h' heading, 'b' true bearing, 'q' the DF's quality
        int64_t atMs;    // relative to the plot
        double degrees;  // for 'q' the confidence
    };
    struct Case {
        const char* what;
        std::vector<Sample> samples;
        const char* judged;               // "turn rate,spread,confidence", one decimal each
        const char* headingFrom = "COG";  // "": a hand-entered bearing
    };
    const Case cases[] = {
        {"a right turn across north",
         {{'c', -3000, 350}, {'c', -2000, 356}, {'c', -1000, 2}, {'c', 0, 8}},
         "6.0,,"},
        {"a left turn across north", {{'c', -2000, 10}, {'c', 0, 350}}, "-10.0,,"},
        {"a weave nets out", {{'c', -2000, 100}, {'c', -1000, 120}, {'c', 0, 100}}, "0.0,,"},
        {"a heading bearing turns with the heading",
         {{'c', -2000, 0}, {'c', 0, 90}, {'h', -2000, 90}, {'h', 0, 92}},
         "1.0,,",
         "HDT"},
        {"a course bearing ignores the heading", {{'h', -2000, 90}, {'h', 0, 92}}, ",,"},
        {"one sample is no rate", {{'c', -1000, 100}}, ",,"},
        {"nor two in one millisecond", {{'c', -5, 10}, {'c', -5, 20}}, ",,"},
        {"3000 ms before counts, 3001 ms and after the plot do not",
         {{'c', -3001, 0}, {'c', -3000, 30}, {'c', 0, 60}, {'c', 1, 200}},
         "10.0,,"},
        // R = (1 + 2 cos 10) / 3: sqrt(-2 ln R) is 8.175 degrees.
        {"three bearings across north",
         {{'b', -2000, 350}, {'b', -1000, 0}, {'b', 0, 10}},
         ",8.2,"},
        {"two bearings are no spread", {{'b', -1000, 10}, {'b', 0, 30}}, ",,"},
        {"5000 ms before counts, 5001 ms does not",
         {{'b', -5001, 180}, {'b', -5000, 7}, {'b', -1, 7}, {'b', 0, 7}},
         ",0.0,"},
        // R = 0 is held at 1e-6: sqrt(-2 ln 1e-6) is 301.18 degrees.
        {"bearings that cancel out",
         {{'b', -2000, 0}, {'b', -1000, 120}, {'b', 0, 240}},
         ",301.2,"},
        {"a hand-entered bearing is judged by nothing",
         {{'c', -1000, 0},
          {'c', 0, 90},
          {'b', -2000, 10},
          {'b', -1000, 20},
          {'b', 0, 30},
          {'q', 0, 42}},
         ",,",
         ""},
        {"a quality 10 s old counts", {{'q', -kQualityFreshMs, 42}}, ",,42.0"},
        {"10.001 s old does not", {{'q', -kQualityFreshMs - 1, 42}}, ",,"},
        {"nor one after the plot", {{'q', 1, 42}}, ",,"},
        {"nor a confidence beyond 99", {{'q', 0, 99.5}}, ",,"},
    };
    const auto text = [](std::optional<double> value) {
        return value ? estimate::fixedText(*value, 1) : std::string();
    };
    for (const Case& c : cases) {
        test::InputRig rig;
        BearingQuality quality(rig.main());
        for (const Sample& s : c.samples) {
            const int64_t at = kPlotAt + s.atMs;
            if (s.series == 'c') {
                quality.courseTaken(at, s.degrees);
            } else if (s.series == 'h') {
                quality.headingTaken(at, s.degrees);
            } else if (s.series == 'b') {
                quality.bearingTaken(at, s.degrees);
            } else {
                quality.qualityGiven(s.degrees, -40.5, 146520000, at);
            }
        }
        PlotRecord plot;
        plot.utcMilliseconds = kPlotAt;
        plot.bearingDegrees = 30;
        plot.bearingFromDf = *c.headingFrom != '\0';
        plot.headingFrom = plot.bearingFromDf ? c.headingFrom : "COG";
        const estimate::Taking taken = quality.judge(plot);
        EXPECT_EQ(text(taken.turnRateDegPerS) + "," + text(taken.spreadDeg) + "," +
                      text(taken.confidence),
                  c.judged)
            << c.what;
    }
}

}  // namespace
}  // namespace kestrel
