// SET_DIGIT, RENDER_DIGIT and SHOW_GLYPH on the sixteen digit registers.

#include <gtest/gtest.h>

#include <string>

#include "fakes/fake_platform.h"

namespace kestrel {
namespace {

using F = Form_Kestrelmap;
using Reg = DigitRegister F::*;

struct RegisterCycle {
    const char* name;
    Reg reg;
    int top;
};

const RegisterCycle kRegisters[] = {
    {"LAT_DEGX10", &F::Picture_LAT_DEGX10, 8},
    {"LAT_DEGX1", &F::Picture_LAT_DEGX1, 9},
    {"LAT_MINX10", &F::Picture_LAT_MINX10, 5},
    {"LAT_MINX1", &F::Picture_LAT_MINX1, 9},
    {"LAT_MINX01", &F::Picture_LAT_MINX01, 9},
    {"LAT_MINX001", &F::Picture_LAT_MINX001, 9},
    {"LONG_DEGX100", &F::Picture_LONG_DEGX100, 1},
    {"LONG_DEGX10", &F::Picture_LONG_DEGX10, 9},
    {"LONG_DEGX1", &F::Picture_LONG_DEGX1, 9},
    {"LONG_MINX10", &F::Picture_LONG_MINX10, 5},
    {"LONG_MINX1", &F::Picture_LONG_MINX1, 9},
    {"LONG_MINX01", &F::Picture_LONG_MINX01, 9},
    {"LONG_MINX001", &F::Picture_LONG_MINX001, 9},
    {"BRGX100", &F::Picture_BRGX100, 3},
    {"BRGX10", &F::Picture_BRGX10, 9},
    {"BRGX1", &F::Picture_BRGX1, 9},
};

TEST(SetDigit, WritesEveryCycleDigitFromAnyStart) {
    test::FakeRig rig;
    F& form = rig.main();
    for (const RegisterCycle& r : kRegisters) {
        for (int d = 0; d <= r.top; ++d) {
            for (const char* start : {"0", "5", "9", "", "77"}) {
                form.Picture_LONG_DEGX100.Tag = "0";  // hundreds that limit no tens
                form.Picture_BRGX100.Tag = "0";
                form.*r.reg = DigitRegister{start, Glyph::Dash};
                form.SET_DIGIT(form.*r.reg, d);
                EXPECT_EQ((form.*r.reg).Tag, std::to_string(d)) << r.name << " " << d;
                EXPECT_EQ((form.*r.reg).glyph, digitGlyph(d)) << r.name << " " << d;
            }
        }
    }
}

// SET_DIGIT on `reg` with `hundreds` set first (empty: left as it is); the register starts at
// "4" showing DASH.
struct SetCase {
    const char* what;
    Reg reg;
    Reg hundredsReg;
    const char* hundreds;
    int d;
    const char* tag;
    Glyph glyph;
};

TEST(SetDigit, DigitsOutsideTheCycleAndUnderLimitingHundreds) {
    const SetCase cases[] = {
        {"bearing tens 0 under 3", &F::Picture_BRGX10, &F::Picture_BRGX100, "3", 0, "0",
         Glyph::Zero},
        {"bearing tens 0 under 2", &F::Picture_BRGX10, &F::Picture_BRGX100, "2", 0, "0",
         Glyph::Zero},
        {"bearing tens 5 under 3", &F::Picture_BRGX10, &F::Picture_BRGX100, "3", 5, "5",
         Glyph::Five},
        // 6 under hundreds 3 goes through 5, whose up step wraps to 0.
        {"bearing tens 6 under 3", &F::Picture_BRGX10, &F::Picture_BRGX100, "3", 6, "0",
         Glyph::Zero},
        {"longitude tens 8 under 1", &F::Picture_LONG_DEGX10, &F::Picture_LONG_DEGX100, "1", 8, "0",
         Glyph::Zero},
        {"longitude tens 9 under 1", &F::Picture_LONG_DEGX10, &F::Picture_LONG_DEGX100, "1", 9, "9",
         Glyph::Nine},
        {"longitude tens 0 under 1", &F::Picture_LONG_DEGX10, &F::Picture_LONG_DEGX100, "1", 0, "0",
         Glyph::Zero},
        {"latitude tens 9", &F::Picture_LAT_DEGX10, nullptr, "", 9, "0", Glyph::Zero},
        {"latitude minutes tens 7", &F::Picture_LAT_MINX10, nullptr, "", 7, "6", Glyph::Dash},
        {"longitude minutes tens 9", &F::Picture_LONG_MINX10, nullptr, "", 9, "8", Glyph::Dash},
        {"longitude minutes tens 6", &F::Picture_LONG_MINX10, nullptr, "", 6, "0", Glyph::Zero},
        {"longitude hundreds 2", &F::Picture_LONG_DEGX100, nullptr, "", 2, "0", Glyph::Zero},
        {"longitude hundreds 7", &F::Picture_LONG_DEGX100, nullptr, "", 7, "6", Glyph::Dash},
        {"bearing hundreds 4", &F::Picture_BRGX100, nullptr, "", 4, "0", Glyph::Zero},
        {"no digit: 10", &F::Picture_LAT_DEGX1, nullptr, "", 10, "4", Glyph::Dash},
        {"no digit: -1", &F::Picture_LAT_DEGX1, nullptr, "", -1, "4", Glyph::Dash},
    };
    test::FakeRig rig;
    F& form = rig.main();
    for (const SetCase& c : cases) {
        if (c.hundredsReg != nullptr) {
            form.*c.hundredsReg = DigitRegister{c.hundreds, Glyph::Dash};
        }
        form.*c.reg = DigitRegister{"4", Glyph::Dash};
        form.SET_DIGIT(form.*c.reg, c.d);
        EXPECT_EQ((form.*c.reg).Tag, c.tag) << c.what;
        EXPECT_EQ((form.*c.reg).glyph, c.glyph) << c.what;
    }
}

TEST(SetDigit, HundredsClampTheTensAndTheNextWriteOverwritesIt) {
    test::FakeRig rig;
    F& form = rig.main();
    form.Picture_LONG_DEGX10 = {"9", Glyph::Nine};
    form.SET_DIGIT(form.Picture_LONG_DEGX100, 1);
    EXPECT_EQ(form.Picture_LONG_DEGX10.Tag, "7");
    EXPECT_EQ(form.Picture_LONG_DEGX10.glyph, Glyph::Seven);

    // 359 written digit by digit over 290.
    form.Picture_BRGX100 = {"2", Glyph::Two};
    form.Picture_BRGX10 = {"9", Glyph::Nine};
    form.Picture_BRGX1 = {"0", Glyph::Zero};
    for (auto [reg, d] :
         {std::pair{&F::Picture_BRGX100, 3}, {&F::Picture_BRGX10, 5}, {&F::Picture_BRGX1, 9}}) {
        form.SET_DIGIT(form.*reg, d);
    }
    EXPECT_EQ(form.Picture_BRGX100.Tag + form.Picture_BRGX10.Tag + form.Picture_BRGX1.Tag, "359");
}

TEST(SetDigit, IgnoresRegistersThatAreNoneOfTheSixteen) {
    test::FakeRig rig;
    F& form = rig.main();
    form.SET_DIGIT(form.Picture_LAT_DEGX1_TEMP, 3);
    DigitRegister loose{"2", Glyph::Dash};
    form.SET_DIGIT(loose, 3);
    EXPECT_EQ(form.Picture_LAT_DEGX1_TEMP.Tag, "");
    EXPECT_EQ(loose.Tag, "2");
    EXPECT_EQ(loose.glyph, Glyph::Dash);
}

struct RenderCase {
    Reg reg;
    const char* tag;
    Glyph glyph;  // after RENDER_DIGIT from DASH
};

TEST(RenderDigit, ShowsCycleValuesOnlyAndNeverChangesTheValue) {
    const RenderCase cases[] = {
        {&F::Picture_LAT_DEGX10, "9", Glyph::Dash},
        {&F::Picture_LAT_DEGX10, "8", Glyph::Eight},
        {&F::Picture_LAT_DEGX1, "9", Glyph::Nine},
        {&F::Picture_LAT_MINX10, "6", Glyph::Dash},
        {&F::Picture_LAT_MINX10, "5", Glyph::Five},
        {&F::Picture_LONG_DEGX100, "2", Glyph::Dash},
        {&F::Picture_LONG_DEGX100, "1", Glyph::One},
        {&F::Picture_LONG_DEGX10, "9", Glyph::Nine},
        {&F::Picture_LONG_MINX001, "", Glyph::Dash},
        {&F::Picture_LONG_MINX001, "05", Glyph::Dash},
        {&F::Picture_LONG_MINX001, " 5", Glyph::Dash},
        {&F::Picture_BRGX100, "4", Glyph::Dash},
        {&F::Picture_BRGX10, "9", Glyph::Nine},
    };
    test::FakeRig rig;
    F& form = rig.main();
    form.Picture_LONG_DEGX100.Tag = "1";  // the longitude tens renders 9 even under hundreds 1
    form.Picture_BRGX100.Tag = "3";
    for (const RenderCase& c : cases) {
        form.*c.reg = DigitRegister{c.tag, Glyph::Dash};
        form.RENDER_DIGIT(form.*c.reg);
        EXPECT_EQ((form.*c.reg).glyph, c.glyph) << '"' << c.tag << '"';
        EXPECT_EQ((form.*c.reg).Tag, c.tag);
        form.*c.reg = DigitRegister{c.tag, Glyph::S};
        form.RENDER_DIGIT(form.*c.reg);
        EXPECT_EQ((form.*c.reg).glyph, c.glyph == Glyph::Dash ? Glyph::S : c.glyph);
    }
}

TEST(ShowGlyph, ChangesTheGlyphOnly) {
    test::FakeRig rig;
    F& form = rig.main();
    const char* digits = "4523171701345";
    int i = 0;
    for (DigitRegister* r : form.positionRegisters()) {
        const int d = digits[i++] - '0';
        form.SET_DIGIT(*r, d);
    }
    for (DigitRegister* r : form.positionRegisters()) {
        form.SHOW_GLYPH(*r, Glyph::Dash);
    }
    i = 0;
    for (DigitRegister* r : form.positionRegisters()) {
        EXPECT_EQ(r->Tag, std::string(1, digits[i++]));
        EXPECT_TRUE(F::showsDash(*r));
    }
    form.SHOW_GLYPH(form.Picture_BRGX100, Glyph::S);
    EXPECT_EQ(form.Picture_BRGX100.Tag, "0");
    EXPECT_EQ(form.Picture_BRGX100.glyph, Glyph::S);
}

}  // namespace
}  // namespace kestrel
