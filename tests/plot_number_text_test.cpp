#include "plot/number_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <locale>
#include <string>

#include "fakes/fake_platform.h"
#include "plot_rig.h"

namespace kestrel {
namespace {

TEST(NumberText, SignedTextOfSinglePrecisionValues) {
    struct Case {
        float value;
        const char* text;
    };
    const Case cases[] = {
        {0.0f, " 0"},
        {-0.0f, " 0"},
        {1.0f, " 1"},
        {-5.0f, "-5"},
        {0.5f, " 0.5"},
        {-0.25f, "-0.25"},
        {0.1f, " 0.1"},
        {39.741665f, " 39.74166"},
        {-104.9875f, "-104.9875"},
        {39.792816f, " 39.79282"},
        {39.814003f, " 39.814"},  // trailing zeros dropped
        {100.6665f, " 100.6665"},
        {0.00001f, " 0.00001"},  // never in exponent form
        {-4.358312e-06f, "-0.000004358312"},
        {1234567.0f, " 1234567"},
        {12345678.0f, " 12345680"},  // seven significant digits, then zeros
        {1e10f, " 10000000000"},
        {0.01f, " 0.01"},  // 0.00999999977: rounding carries into a new digit
        {999999.94f, " 999999.9"},
        {9.999999f, " 9.999999"},
        {std::numeric_limits<float>::quiet_NaN(), " 0"},
        {std::numeric_limits<float>::infinity(), " 0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(signedText(c.value), c.text) << c.value;
    }
}

TEST(NumberText, WholeNumbersAndCoordinates) {
    EXPECT_EQ(signedText(1), " 1");
    EXPECT_EQ(signedText(99), " 99");
    EXPECT_EQ(signedText(0), " 0");
    EXPECT_EQ(signedText(-12), "-12");
    EXPECT_EQ(coordinateText(0.5f), "0.5");
    EXPECT_EQ(coordinateText(-0.25f), "-0.25");
    EXPECT_EQ(coordinateText(-104.9875f), "-104.9875");
    EXPECT_EQ(coordinateText(0.0f), "0");
}

// Restores the C locale whatever the test does.
struct LocaleGuard {
    ~LocaleGuard() {
        std::locale::global(std::locale::classic());
        std::setlocale(LC_ALL, "C");
    }
};

bool useDecimalCommaLocale() {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        try {
            std::locale::global(std::locale(name));
            if (std::setlocale(LC_ALL, name) != nullptr &&
                std::string(std::localeconv()->decimal_point) == ",") {
                return true;
            }
        } catch (const std::runtime_error&) {
        }
    }
    return false;
}

TEST(NumberText, PointWhateverTheLocale) {
    LocaleGuard guard;
    if (!useDecimalCommaLocale()) {
        GTEST_SKIP() << "no decimal-comma locale installed (de_DE.UTF-8 or fr_FR.UTF-8); "
                        "generate one with localedef -i de_DE -f UTF-8 DIR/de_DE.UTF-8 and run "
                        "with LOCPATH=DIR";
    }
    EXPECT_EQ(signedText(0.5f), " 0.5");
    EXPECT_EQ(signedText(-104.9875f), "-104.9875");
    EXPECT_EQ(signedText(1234567.0f), " 1234567");

    test::FakeRig rig;
    auto& f = rig.main();
    test::readyToPlot(f);
    f.CmdButton_ADD_PLOT_Click();
    EXPECT_EQ(f.PLOT_TABLE[1][1], "-104.9875,39.74166,0");
    EXPECT_EQ(f.PLOT_TABLE[1][2], " -104.921,39.79282,0");
}

}  // namespace
}  // namespace kestrel
