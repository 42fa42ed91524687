#include "app/form_kestrelmap.h"
#include "app/text_number.h"
#include "display/register_table.h"

// The register operations every writer and reader uses. A register's value (`Tag`) and its
// glyph are independent: SHOW_GLYPH changes only the glyph, RENDER_DIGIT only the glyph from the
// value, SET_DIGIT both through the register's up step.

namespace kestrel {

// Writes d by the up button's path: the value becomes d's predecessor in the cycle, then the up
// step runs, coupling and all. A digit outside the cycle therefore ends as the up step leaves its
// predecessor (9 on the latitude tens gives "0"; 7 on a minutes tens stays "6", glyph untouched).
// For d = 0 the predecessor is the top of the register's full cycle; on a coupled tens register
// under a limiting hundreds the up step takes 9 to 0 just as it takes the limited top to 0.
// Anything that is no digit at all (d outside 0 to 9), or a register that is none of the
// sixteen, leaves everything unchanged.
void Form_Kestrelmap::SET_DIGIT(DigitRegister& reg, int d) {
    const std::optional<RegisterId> id = findRegister(*this, reg);
    if (!id || d < 0 || d > 9) {
        return;
    }
    const int predecessor = (d == 0) ? describe(*id).top : d - 1;
    reg.Tag = digitText(predecessor);
    stepUp(*this, *id);
}

void Form_Kestrelmap::SHOW_GLYPH(DigitRegister& reg, Glyph glyph) {
    reg.glyph = glyph;
}

// Shows the glyph of the value when it is one of the register's cycle values (the longitude
// tens accepts 0 to 9 whatever the hundreds); otherwise the glyph stays as it was.
void Form_Kestrelmap::RENDER_DIGIT(DigitRegister& reg) {
    const std::optional<RegisterId> id = findRegister(*this, reg);
    if (!id) {
        return;
    }
    if (const std::optional<int> k = cycleDigit(reg.Tag, describe(*id).top)) {
        reg.glyph = digitGlyph(*k);
    }
}

}  // namespace kestrel
