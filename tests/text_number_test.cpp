#include "app/text_number.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kestrel {
namespace {

TEST(LeadingNumber, TakesTheLongestLeadingDecimalRun) {
    struct Case {
        const char* text;
        double expected;
    };
    const Case cases[] = {
        {"", 0},        {"-", 0},          {"abc", 0}, {"  42", 42}, {"07", 7},
        {"3.5,N", 3.5}, {"-2.25x", -2.25}, {"+8", 8},  {".5", 0.5},  {"12.", 12},
        {"1E2", 1},     {"1 2", 1},        {"\r", 0},  {"12\r", 12}, {" 33410 ", 33410},
        {"COM1", 0},    {"0.000", 0},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(leadingNumber(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(LeadingNumber, OverlongRunsStayFinite) {
    const std::string huge(400, '9');
    EXPECT_TRUE(std::isfinite(leadingNumber(huge)));
    EXPECT_GT(leadingNumber(huge), 1e300);
    EXPECT_EQ(leadingNumber("0." + std::string(400, '0') + "1"), 0.0);
    EXPECT_FALSE(leadingNumberIfAny("x1").has_value());
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(roundHalfEven(0.5), 0);
    EXPECT_EQ(roundHalfEven(1.5), 2);
    EXPECT_EQ(roundHalfEven(2.5), 2);
    EXPECT_EQ(roundHalfEven(-2.5), -2);
    EXPECT_EQ(roundHalfEven(2.4), 2);
    EXPECT_EQ(roundHalfEven(2.6), 3);
}

}  // namespace
}  // namespace kestrel
