#pragma once
// The glyph images of the digit panel, kept as data: fourteen 23 x 32 one-bit images (digits
// 0 to 9, DASH, S, P, D) and the 7 x 32 decimal point. Black strokes on white.

#include <array>
#include <cstdint>

#include "app/controls.h"

namespace kestrel {

struct GlyphImage {
    int width = 0;   // pixels, at most 32
    int height = 0;  // pixels, at most 32
    // One word per row, top row first; bit x (1u << x) set means the pixel in column x is black.
    std::array<uint32_t, 32> rows{};

    bool black(int x, int y) const { return ((rows[y] >> x) & 1u) != 0; }
};

inline constexpr int kGlyphWidth = 23;
inline constexpr int kGlyphHeight = 32;
inline constexpr int kPointWidth = 7;

const GlyphImage& glyphImage(Glyph glyph);
const GlyphImage& decimalPointImage();

}  // namespace kestrel
