#include "display/glyphs.h"

namespace kestrel {

// Placeholder images until the real pixel art lands: blank white boxes of the right size.
const GlyphImage& glyphImage(Glyph /*glyph*/) {
    static const GlyphImage blank{kGlyphWidth, kGlyphHeight, {}};
    return blank;
}

const GlyphImage& decimalPointImage() {
    static const GlyphImage point{kPointWidth, kGlyphHeight, {}};
    return point;
}

}  // namespace kestrel
