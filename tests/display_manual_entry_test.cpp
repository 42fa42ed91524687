// The step buttons and hemisphere buttons, reached through their named click handlers.

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>

#include "fakes/fake_platform.h"

namespace kestrel {
namespace {

using F = Form_Kestrelmap;
using Handler = void (F::*)();
using Reg = DigitRegister F::*;

// Register, its up handler and its down handler, all from one name.
#define KM_REG(name) \
#name, &F::Picture_##name, &F::CmdButton_##name##_UP_Click, &F::CmdButton_##name##_DN_Click

constexpr std::array<Reg, 16> kAllRegisters{
    &F::Picture_LAT_DEGX10,   &F::Picture_LAT_DEGX1,   &F::Picture_LAT_MINX10,
    &F::Picture_LAT_MINX1,    &F::Picture_LAT_MINX01,  &F::Picture_LAT_MINX001,
    &F::Picture_LONG_DEGX100, &F::Picture_LONG_DEGX10, &F::Picture_LONG_DEGX1,
    &F::Picture_LONG_MINX10,  &F::Picture_LONG_MINX1,  &F::Picture_LONG_MINX01,
    &F::Picture_LONG_MINX001, &F::Picture_BRGX100,     &F::Picture_BRGX10,
    &F::Picture_BRGX1,
};

// One register's steps from each of the values "0" to "9": character i of `up` / `down` is
// the value after the step from digit i, '.' meaning the register is left alone. `context` is
// the hundreds register a tens register reads, set to `contextTag` for the whole case.
struct CycleCase {
    const char* name;
    Reg reg;
    Handler up;
    Handler down;
    Reg context;
    const char* contextTag;
    const char* upMap;
    const char* downMap;
};

constexpr const char* kPlainUp = "1234567890";
constexpr const char* kPlainDown = "9012345678";

const CycleCase kCycles[] = {
    {KM_REG(LAT_DEGX10), nullptr, "", "123456780.", "801234567."},
    {KM_REG(LAT_DEGX1), nullptr, "", kPlainUp, kPlainDown},
    {KM_REG(LAT_MINX10), nullptr, "", "123450....", "501234...."},
    {KM_REG(LAT_MINX1), nullptr, "", kPlainUp, kPlainDown},
    {KM_REG(LAT_MINX01), nullptr, "", kPlainUp, kPlainDown},
    {KM_REG(LAT_MINX001), nullptr, "", kPlainUp, kPlainDown},
    {KM_REG(LONG_DEGX100), &F::Picture_LONG_DEGX10, "0", "10........", "10........"},
    {KM_REG(LONG_DEGX10), &F::Picture_LONG_DEGX100, "0", kPlainUp, kPlainDown},
    {KM_REG(LONG_DEGX10), &F::Picture_LONG_DEGX100, "1", "1234567090", "7012345678"},
    {KM_REG(LONG_DEGX10), &F::Picture_LONG_DEGX100, "x", kPlainUp, kPlainDown},
    {KM_REG(LONG_DEGX1), nullptr, "", kPlainUp, kPlainDown},
    {KM_REG(LONG_MINX10), nullptr, "", "123450....", "501234...."},
    {KM_REG(LONG_MINX1), nullptr, "", kPlainUp, kPlainDown},
    {KM_REG(LONG_MINX01), nullptr, "", kPlainUp, kPlainDown},
    {KM_REG(LONG_MINX001), nullptr, "", kPlainUp, kPlainDown},
    {KM_REG(BRGX100), &F::Picture_BRGX10, "0", "1230......", "3012......"},
    {KM_REG(BRGX10), &F::Picture_BRGX100, "2", kPlainUp, kPlainDown},
    {KM_REG(BRGX10), &F::Picture_BRGX100, "3", "1234507890", "5012345678"},
    {KM_REG(BRGX10), &F::Picture_BRGX100, "3x", "1234507890", "5012345678"},
    {KM_REG(BRGX10), &F::Picture_BRGX100, "03", "1234507890", "5012345678"},
    {KM_REG(BRGX10), &F::Picture_BRGX100, "3.5", kPlainUp, kPlainDown},
    {KM_REG(BRGX1), nullptr, "", kPlainUp, kPlainDown},
};

// Fills every register with a marker value and glyph, so that any stray write shows.
void fillOthers(F& form) {
    for (Reg r : kAllRegisters) {
        form.*r = DigitRegister{"4", Glyph::P};
    }
}

// Steps `c.reg` from `start` and checks it ends at `expected` ('.' = unchanged) and that no
// other register moved.
void checkStep(F& form, const CycleCase& c, Handler handler, const std::string& start,
               char expected, const char* direction) {
    fillOthers(form);
    if (c.context != nullptr) {
        (form.*c.context).Tag = c.contextTag;
    }
    form.*c.reg = DigitRegister{start, Glyph::Dash};
    (form.*handler)();
    const DigitRegister& after = form.*c.reg;
    const std::string where = std::string(c.name) + " " + direction + " from \"" + start +
                              "\" under \"" + c.contextTag + "\"";
    if (expected == '.') {
        EXPECT_EQ(after.Tag, start) << where;
        EXPECT_EQ(after.glyph, Glyph::Dash) << where;
    } else {
        EXPECT_EQ(after.Tag, std::string(1, expected)) << where;
        EXPECT_EQ(after.glyph, digitGlyph(expected - '0')) << where;
    }
    for (Reg r : kAllRegisters) {
        if (r != c.reg && r != c.context) {
            EXPECT_EQ((form.*r).Tag, "4") << where;
            EXPECT_EQ((form.*r).glyph, Glyph::P) << where;
        }
    }
}

TEST(StepButtons, EveryRegisterCyclesUpAndDownFromEveryValue) {
    test::FakeRig rig;
    for (const CycleCase& c : kCycles) {
        for (int i = 0; i < 10; ++i) {
            const std::string start(1, static_cast<char>('0' + i));
            checkStep(rig.main(), c, c.up, start, c.upMap[i], "up");
            checkStep(rig.main(), c, c.down, start, c.downMap[i], "down");
        }
        for (const char* odd : {"", "05", " 5", "5 ", "+"}) {
            checkStep(rig.main(), c, c.up, odd, '.', "up");
            checkStep(rig.main(), c, c.down, odd, '.', "down");
        }
    }
}

// Writes a run of consecutive registers (screen order) from `first`, digit glyphs shown.
void setRun(F& form, std::size_t first, std::string_view digits) {
    for (std::size_t i = 0; i < digits.size(); ++i) {
        const int d = digits[i] - '0';
        form.*kAllRegisters[first + i] = DigitRegister{std::string(1, digits[i]), digitGlyph(d)};
    }
}

std::string readRun(F& form, std::size_t first, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        const DigitRegister& r = form.*kAllRegisters[first + i];
        out += r.Tag;
        // A glyph that disagrees with its value shows as '?'.
        if (r.Tag.size() != 1 || r.glyph != digitGlyph(r.Tag[0] - '0')) {
            out += '?';
        }
    }
    return out;
}

constexpr std::size_t kLat = 0;   // LAT_DEGX10 .. LAT_MINX001
constexpr std::size_t kLong = 6;  // LONG_DEGX100 .. LONG_MINX001
constexpr std::size_t kBrg = 13;  // BRGX100 .. BRGX1

struct RunCase {
    std::size_t first;
    const char* before;
    Handler press;
    const char* after;
};

TEST(StepButtons, CouplingAndCarryFreeEdges) {
    const RunCase cases[] = {
        {kLong, "099", &F::CmdButton_LONG_DEGX100_UP_Click, "179"},
        {kLong, "099", &F::CmdButton_LONG_DEGX100_DN_Click, "179"},
        {kLong, "179", &F::CmdButton_LONG_DEGX100_UP_Click, "079"},
        {kLong, "179", &F::CmdButton_LONG_DEGX10_UP_Click, "109"},
        {kLong, "100", &F::CmdButton_LONG_DEGX10_DN_Click, "170"},
        {kLong, "079", &F::CmdButton_LONG_DEGX10_UP_Click, "089"},
        {kLong, "189", &F::CmdButton_LONG_DEGX10_UP_Click, "199"},
        {kBrg, "290", &F::CmdButton_BRGX100_UP_Click, "350"},
        {kBrg, "090", &F::CmdButton_BRGX100_DN_Click, "350"},
        {kBrg, "000", &F::CmdButton_BRGX100_DN_Click, "300"},
        {kBrg, "190", &F::CmdButton_BRGX100_UP_Click, "290"},
        {kBrg, "390", &F::CmdButton_BRGX100_DN_Click, "290"},
        {kBrg, "359", &F::CmdButton_BRGX10_UP_Click, "309"},
        {kBrg, "305", &F::CmdButton_BRGX10_DN_Click, "355"},
        {kBrg, "259", &F::CmdButton_BRGX10_UP_Click, "269"},
        {kBrg, "359", &F::CmdButton_BRGX100_UP_Click, "059"},
        {kBrg, "480", &F::CmdButton_BRGX100_UP_Click, "450"},
        {kBrg, "480", &F::CmdButton_BRGX100_DN_Click, "450"},
        {kLat, "425999", &F::CmdButton_LAT_MINX10_UP_Click, "420999"},
        {kLat, "425999", &F::CmdButton_LAT_MINX1_UP_Click, "425099"},
        {kLat, "425999", &F::CmdButton_LAT_MINX001_UP_Click, "425990"},
        {kLat, "800000", &F::CmdButton_LAT_DEGX10_UP_Click, "000000"},
        {kLat, "000000", &F::CmdButton_LAT_DEGX10_DN_Click, "800000"},
    };
    test::FakeRig rig;
    F& form = rig.main();
    for (const RunCase& c : cases) {
        const std::string before = c.before;
        setRun(form, c.first, before);
        (form.*c.press)();
        EXPECT_EQ(readRun(form, c.first, before.size()), c.after) << "from " << c.before;
    }
}

TEST(StepButtons, ClampRewritesOnlyATensAboveTheLimit) {
    test::FakeRig rig;
    F& form = rig.main();
    form.Picture_LONG_DEGX100 = {"", Glyph::Dash};
    form.Picture_LONG_DEGX10 = {"9", Glyph::Nine};
    form.CmdButton_LONG_DEGX100_DN_Click();
    EXPECT_EQ(form.Picture_LONG_DEGX100.Tag, "");
    EXPECT_EQ(form.Picture_LONG_DEGX100.glyph, Glyph::Dash);
    EXPECT_EQ(form.Picture_LONG_DEGX10.Tag, "7");
    EXPECT_EQ(form.Picture_LONG_DEGX10.glyph, Glyph::Seven);

    form.Picture_BRGX100 = {"7", Glyph::S};
    form.Picture_BRGX10 = {"8", Glyph::P};
    form.CmdButton_BRGX100_UP_Click();
    EXPECT_EQ(form.Picture_BRGX100.Tag, "7");
    EXPECT_EQ(form.Picture_BRGX10.Tag, "5");
    EXPECT_EQ(form.Picture_BRGX10.glyph, Glyph::Five);

    // A tens value at the limit is left alone, glyph and all.
    form.Picture_BRGX100 = {"2", Glyph::Two};
    form.Picture_BRGX10 = {"5", Glyph::Dash};
    form.CmdButton_BRGX100_UP_Click();
    EXPECT_EQ(form.Picture_BRGX100.Tag, "3");
    EXPECT_EQ(form.Picture_BRGX10.glyph, Glyph::Dash);

    // A tens value that is no number reads as 0 and is never clamped.
    form.Picture_BRGX10 = {"x", Glyph::D};
    form.CmdButton_BRGX100_DN_Click();
    EXPECT_EQ(form.Picture_BRGX10.Tag, "x");
    EXPECT_EQ(form.Picture_BRGX10.glyph, Glyph::D);
}

TEST(StepButtons, StepFromADashedRegisterUsesTheKeptValue) {
    test::FakeRig rig;
    F& form = rig.main();
    form.Picture_LAT_MINX1 = {"4", Glyph::Dash};
    form.CmdButton_LAT_MINX1_UP_Click();
    EXPECT_EQ(form.Picture_LAT_MINX1.Tag, "5");
    EXPECT_EQ(form.Picture_LAT_MINX1.glyph, Glyph::Five);
    form.Picture_BRGX1 = {"0", Glyph::D};
    form.CmdButton_BRGX1_DN_Click();
    EXPECT_EQ(form.Picture_BRGX1.Tag, "9");
    EXPECT_EQ(form.Picture_BRGX1.glyph, Glyph::Nine);
}

TEST(HemisphereButtons, TurnTheLetterOverAndLeaveOtherValuesAlone) {
    struct Case {
        Button F::*button;
        Handler click;
        const char* before;
        const char* after;  // caption and value
    };
    const Case cases[] = {
        {&F::CmdButton_LAT_HEMI, &F::CmdButton_LAT_HEMI_Click, "N", "S"},
        {&F::CmdButton_LAT_HEMI, &F::CmdButton_LAT_HEMI_Click, "S", "N"},
        {&F::CmdButton_LAT_HEMI, &F::CmdButton_LAT_HEMI_Click, "E", nullptr},
        {&F::CmdButton_LAT_HEMI, &F::CmdButton_LAT_HEMI_Click, "n", nullptr},
        {&F::CmdButton_LONG_HEMI, &F::CmdButton_LONG_HEMI_Click, "E", "W"},
        {&F::CmdButton_LONG_HEMI, &F::CmdButton_LONG_HEMI_Click, "W", "E"},
        {&F::CmdButton_LONG_HEMI, &F::CmdButton_LONG_HEMI_Click, "N", nullptr},
        {&F::CmdButton_LONG_HEMI, &F::CmdButton_LONG_HEMI_Click, "", nullptr},
    };
    test::FakeRig rig;
    F& form = rig.main();
    for (const Case& c : cases) {
        Button& b = form.*c.button;
        b.Tag = c.before;
        b.Caption = "caption";
        (form.*c.click)();
        EXPECT_EQ(b.Tag, c.after ? c.after : c.before) << c.before;
        EXPECT_EQ(b.Caption, c.after ? c.after : "caption") << c.before;
    }
    // N, click, S, click, N on a fresh window.
    test::FakeRig fresh;
    fresh.main().CmdButton_LAT_HEMI_Click();
    EXPECT_EQ(fresh.main().CmdButton_LAT_HEMI.Caption, "S");
    fresh.main().CmdButton_LAT_HEMI_Click();
    EXPECT_EQ(fresh.main().CmdButton_LAT_HEMI.Tag, "N");
}

}  // namespace
}  // namespace kestrel
