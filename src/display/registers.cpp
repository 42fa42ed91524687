#include "app/form_kestrelmap.h"

namespace kestrel {

void Form_Kestrelmap::SET_DIGIT(DigitRegister& /*reg*/, int /*d*/) {}

void Form_Kestrelmap::SHOW_GLYPH(DigitRegister& /*reg*/, Glyph /*glyph*/) {}

void Form_Kestrelmap::RENDER_DIGIT(DigitRegister& /*reg*/) {}

}  // namespace kestrel
