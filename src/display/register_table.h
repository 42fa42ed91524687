#pragma once
// One description of each of the sixteen digit registers and the two hemisphere buttons: where
// it lives in the main window, its hidden shadow, its step buttons, its cycle of values and its
// coupling. The step buttons, SET_DIGIT, RENDER_DIGIT, the save/restore of the source switches
// and the locking of the entry buttons all read these tables; none knows a register by name.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "app/controls.h"

namespace kestrel {

class Form_Kestrelmap;

// The registers in screen order: thirteen position registers, then three bearing registers.
enum class RegisterId : uint8_t {
    LatDegX10,
    LatDegX1,
    LatMinX10,
    LatMinX1,
    LatMinX01,
    LatMinX001,
    LongDegX100,
    LongDegX10,
    LongDegX1,
    LongMinX10,
    LongMinX1,
    LongMinX01,
    LongMinX001,
    BrgX100,
    BrgX10,
    BrgX1,
};

inline constexpr std::size_t kRegisterCount = 16;
inline constexpr std::size_t kPositionRegisterCount = 13;

// A hundreds register and the tens register it limits: while the hundreds reads (as a number)
// `hundredsValue`, the tens cycle ends at `tensTop`; the hundreds reaching that value, or being
// stepped while it holds no digit of its cycle, clamps a tens value above `tensTop` to it.
struct Coupling {
    RegisterId hundreds;
    RegisterId tens;
    int hundredsValue;
    int tensTop;
};

struct RegisterDescription {
    DigitRegister Form_Kestrelmap::*reg;
    DigitRegister Form_Kestrelmap::*shadow;
    Button Form_Kestrelmap::*up;
    Button Form_Kestrelmap::*down;
    int top;                   // the cycle is "0" to the one-character text of `top`
    const Coupling* coupling;  // nullptr: the register steps on its own
};

const std::array<RegisterDescription, kRegisterCount>& registerTable();
const RegisterDescription& describe(RegisterId id);
// The register of `form` that `reg` is, or nothing when it is none of the sixteen (a shadow).
std::optional<RegisterId> findRegister(const Form_Kestrelmap& form, const DigitRegister& reg);

// The value's place in the cycle "0" ... top, compared as exact text; nothing when it is none.
std::optional<int> cycleDigit(const std::string& value, int top);

// The step of the register's up and down buttons, wrap, coupling and clamp included. A value
// outside the cycle is left alone (a hundreds register still runs its clamp).
void stepUp(Form_Kestrelmap& form, RegisterId id);
void stepDown(Form_Kestrelmap& form, RegisterId id);

// The two hemisphere buttons: the letter turns over between `first` and `second`; any other
// value is left alone.
enum class HemisphereId : uint8_t { Lat, Long };

struct HemisphereDescription {
    Button Form_Kestrelmap::*button;
    Button Form_Kestrelmap::*shadow;
    const char* first;
    const char* second;
};

const std::array<HemisphereDescription, 2>& hemisphereTable();
void toggleHemisphere(Form_Kestrelmap& form, HemisphereId id);

}  // namespace kestrel
