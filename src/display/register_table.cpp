#include "display/register_table.h"

#include "app/form_kestrelmap.h"
#include "app/text_number.h"

namespace kestrel {
namespace {

using F = Form_Kestrelmap;

// Longitude hundreds 1 limits the tens to 0-7; bearing hundreds 3 limits the tens to 0-5.
constexpr Coupling kLongitudeDegrees{RegisterId::LongDegX100, RegisterId::LongDegX10, 1, 7};
constexpr Coupling kBearing{RegisterId::BrgX100, RegisterId::BrgX10, 3, 5};

// clang-format off
constexpr std::array<RegisterDescription, kRegisterCount> kRegisters{{
    {&F::Picture_LAT_DEGX10,   &F::Picture_LAT_DEGX10_TEMP,   &F::CmdButton_LAT_DEGX10_UP,   &F::CmdButton_LAT_DEGX10_DN,   8, nullptr},
    {&F::Picture_LAT_DEGX1,    &F::Picture_LAT_DEGX1_TEMP,    &F::CmdButton_LAT_DEGX1_UP,    &F::CmdButton_LAT_DEGX1_DN,    9, nullptr},
    {&F::Picture_LAT_MINX10,   &F::Picture_LAT_MINX10_TEMP,   &F::CmdButton_LAT_MINX10_UP,   &F::CmdButton_LAT_MINX10_DN,   5, nullptr},
    {&F::Picture_LAT_MINX1,    &F::Picture_LAT_MINX1_TEMP,    &F::CmdButton_LAT_MINX1_UP,    &F::CmdButton_LAT_MINX1_DN,    9, nullptr},
    {&F::Picture_LAT_MINX01,   &F::Picture_LAT_MINX01_TEMP,   &F::CmdButton_LAT_MINX01_UP,   &F::CmdButton_LAT_MINX01_DN,   9, nullptr},
    {&F::Picture_LAT_MINX001,  &F::Picture_LAT_MINX001_TEMP,  &F::CmdButton_LAT_MINX001_UP,  &F::CmdButton_LAT_MINX001_DN,  9, nullptr},
    {&F::Picture_LONG_DEGX100, &F::Picture_LONG_DEGX100_TEMP, &F::CmdButton_LONG_DEGX100_UP, &F::CmdButton_LONG_DEGX100_DN, 1, &kLongitudeDegrees},
    {&F::Picture_LONG_DEGX10,  &F::Picture_LONG_DEGX10_TEMP,  &F::CmdButton_LONG_DEGX10_UP,  &F::CmdButton_LONG_DEGX10_DN,  9, &kLongitudeDegrees},
    {&F::Picture_LONG_DEGX1,   &F::Picture_LONG_DEGX1_TEMP,   &F::CmdButton_LONG_DEGX1_UP,   &F::CmdButton_LONG_DEGX1_DN,   9, nullptr},
    {&F::Picture_LONG_MINX10,  &F::Picture_LONG_MINX10_TEMP,  &F::CmdButton_LONG_MINX10_UP,  &F::CmdButton_LONG_MINX10_DN,  5, nullptr},
    {&F::Picture_LONG_MINX1,   &F::Picture_LONG_MINX1_TEMP,   &F::CmdButton_LONG_MINX1_UP,   &F::CmdButton_LONG_MINX1_DN,   9, nullptr},
    {&F::Picture_LONG_MINX01,  &F::Picture_LONG_MINX01_TEMP,  &F::CmdButton_LONG_MINX01_UP,  &F::CmdButton_LONG_MINX01_DN,  9, nullptr},
    {&F::Picture_LONG_MINX001, &F::Picture_LONG_MINX001_TEMP, &F::CmdButton_LONG_MINX001_UP, &F::CmdButton_LONG_MINX001_DN, 9, nullptr},
    {&F::Picture_BRGX100,      &F::Picture_BRGX100_TEMP,      &F::CmdButton_BRGX100_UP,      &F::CmdButton_BRGX100_DN,      3, &kBearing},
    {&F::Picture_BRGX10,       &F::Picture_BRGX10_TEMP,       &F::CmdButton_BRGX10_UP,       &F::CmdButton_BRGX10_DN,       9, &kBearing},
    {&F::Picture_BRGX1,        &F::Picture_BRGX1_TEMP,        &F::CmdButton_BRGX1_UP,        &F::CmdButton_BRGX1_DN,        9, nullptr},
}};

constexpr std::array<HemisphereDescription, 2> kHemispheres{{
    {&F::CmdButton_LAT_HEMI,  &F::CmdButton_LAT_HEMI_TEMP,  "N", "S"},
    {&F::CmdButton_LONG_HEMI, &F::CmdButton_LONG_HEMI_TEMP, "E", "W"},
}};
// clang-format on

DigitRegister& registerOf(F& form, RegisterId id) {
    return form.*describe(id).reg;
}

void writeDigit(DigitRegister& reg, int digit) {
    reg.Tag = digitText(digit);
    reg.glyph = digitGlyph(digit);
}

bool isHundreds(RegisterId id, const Coupling* coupling) {
    return coupling != nullptr && coupling->hundreds == id;
}

// Where the cycle wraps: the register's own top, or the limited top of a coupled tens register
// while its hundreds reads as the limiting number.
int wrapTop(F& form, RegisterId id, const RegisterDescription& desc) {
    const Coupling* c = desc.coupling;
    if (c != nullptr && c->tens == id &&
        leadingNumber(registerOf(form, c->hundreds).Tag) == c->hundredsValue) {
        return c->tensTop;
    }
    return desc.top;
}

void clampTens(F& form, const Coupling& c) {
    DigitRegister& tens = registerOf(form, c.tens);
    if (leadingNumber(tens.Tag) > c.tensTop) {
        writeDigit(tens, c.tensTop);
    }
}

enum class Direction { Up, Down };

void step(F& form, RegisterId id, Direction direction) {
    const RegisterDescription& desc = describe(id);
    DigitRegister& reg = form.*desc.reg;
    const std::optional<int> k = cycleDigit(reg.Tag, desc.top);
    if (!k) {
        if (isHundreds(id, desc.coupling)) {
            clampTens(form, *desc.coupling);
        }
        return;
    }
    const int top = wrapTop(form, id, desc);
    int next = 0;
    if (direction == Direction::Up) {
        // A tens value above a limited top (kept from before the limit) still steps upwards.
        next = (*k == top || *k == desc.top) ? 0 : *k + 1;
    } else {
        next = (*k == 0) ? top : *k - 1;
    }
    writeDigit(reg, next);
    if (isHundreds(id, desc.coupling) && next == desc.coupling->hundredsValue) {
        clampTens(form, *desc.coupling);
    }
}

}  // namespace

const std::array<RegisterDescription, kRegisterCount>& registerTable() {
    return kRegisters;
}

const RegisterDescription& describe(RegisterId id) {
    return kRegisters[static_cast<std::size_t>(id)];
}

std::optional<RegisterId> findRegister(const Form_Kestrelmap& form, const DigitRegister& reg) {
    for (std::size_t i = 0; i < kRegisterCount; ++i) {
        if (&(form.*kRegisters[i].reg) == &reg) {
            return static_cast<RegisterId>(i);
        }
    }
    return std::nullopt;
}

std::optional<int> cycleDigit(const std::string& value, int top) {
    for (int k = 0; k <= top; ++k) {
        if (value == digitText(k)) {
            return k;
        }
    }
    return std::nullopt;
}

void stepUp(Form_Kestrelmap& form, RegisterId id) {
    step(form, id, Direction::Up);
}

void stepDown(Form_Kestrelmap& form, RegisterId id) {
    step(form, id, Direction::Down);
}

const std::array<HemisphereDescription, 2>& hemisphereTable() {
    return kHemispheres;
}

void toggleHemisphere(Form_Kestrelmap& form, HemisphereId id) {
    const HemisphereDescription& desc = kHemispheres[static_cast<std::size_t>(id)];
    Button& button = form.*desc.button;
    const char* next = nullptr;
    if (button.Tag == desc.first) {
        next = desc.second;
    } else if (button.Tag == desc.second) {
        next = desc.first;
    } else {
        return;
    }
    button.Caption = next;
    button.Tag = next;
}

}  // namespace kestrel
