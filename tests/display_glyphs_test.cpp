// The glyph images: sizes, the rows they occupy, the DASH bar and the decimal point exactly.

#include "display/glyphs.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace kestrel {
namespace {

struct Extent {
    int top = -1, bottom = -1, left = -1, right = -1;
    int black = 0;
};

Extent extentOf(const GlyphImage& image) {
    Extent e;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (!image.black(x, y)) {
                continue;
            }
            ++e.black;
            if (e.top < 0) {
                e.top = y;
            }
            e.bottom = y;
            e.left = (e.left < 0 || x < e.left) ? x : e.left;
            e.right = x > e.right ? x : e.right;
        }
    }
    return e;
}

// The image as text, for failure messages.
std::string picture(const GlyphImage& image) {
    std::string out = "\n";
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            out += image.black(x, y) ? '#' : '.';
        }
        out += '\n';
    }
    return out;
}

bool nothingOutside(const GlyphImage& image) {
    for (int y = 0; y < 32; ++y) {
        if ((image.rows[y] >> image.width) != 0 || (y >= image.height && image.rows[y] != 0)) {
            return false;
        }
    }
    return true;
}

TEST(Glyphs, DigitsAndLettersFillTheirRowsCentred) {
    struct Case {
        Glyph glyph;
        int top;
        int bottom;
    };
    const Case cases[] = {
        {Glyph::Zero, 6, 25},  {Glyph::One, 6, 25},  {Glyph::Two, 6, 25}, {Glyph::Three, 6, 25},
        {Glyph::Four, 6, 25},  {Glyph::Five, 5, 24}, {Glyph::Six, 6, 25}, {Glyph::Seven, 6, 25},
        {Glyph::Eight, 6, 25}, {Glyph::Nine, 6, 25}, {Glyph::S, 6, 25},   {Glyph::P, 6, 25},
        {Glyph::D, 6, 25},
    };
    for (const Case& c : cases) {
        const GlyphImage& image = glyphImage(c.glyph);
        const Extent e = extentOf(image);
        const std::string art = picture(image);
        EXPECT_EQ(image.width, 23) << art;
        EXPECT_EQ(image.height, 32) << art;
        EXPECT_TRUE(nothingOutside(image)) << art;
        EXPECT_EQ(e.top, c.top) << art;
        EXPECT_EQ(e.bottom, c.bottom) << art;
        // Centred: the margins left and right differ by at most two pixels.
        EXPECT_LE(std::abs(e.left - (22 - e.right)), 2) << art;
        // Bold: at least a fifth of the 15 x 20 cell is black.
        EXPECT_GE(e.black, 60) << art;
    }
}

TEST(Glyphs, DashIsExactlyTheBar) {
    const GlyphImage& dash = glyphImage(Glyph::Dash);
    EXPECT_EQ(dash.width, 23);
    EXPECT_EQ(dash.height, 32);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 23; ++x) {
            const bool bar = y >= 14 && y <= 17 && x >= 3 && x <= 19;
            EXPECT_EQ(dash.black(x, y), bar) << x << "," << y << picture(dash);
        }
    }
    EXPECT_TRUE(nothingOutside(dash));
}

TEST(Glyphs, DecimalPointIsAThreeByThreeDot) {
    const GlyphImage& point = decimalPointImage();
    EXPECT_EQ(point.width, 7);
    EXPECT_EQ(point.height, 32);
    const Extent e = extentOf(point);
    EXPECT_EQ(e.black, 9) << picture(point);
    EXPECT_EQ(e.top, 23);
    EXPECT_EQ(e.bottom, 25);
    EXPECT_EQ(e.right - e.left, 2);
    EXPECT_EQ(e.left, 2);  // centred in seven columns
    EXPECT_TRUE(nothingOutside(point));
}

TEST(Glyphs, AllFourteenDiffer) {
    std::set<std::array<uint32_t, 32>> seen;
    for (int g = 0; g <= static_cast<int>(Glyph::D); ++g) {
        EXPECT_TRUE(seen.insert(glyphImage(static_cast<Glyph>(g)).rows).second) << g;
    }
    // A value that is no glyph gives a blank image of the right size.
    const GlyphImage& none = glyphImage(static_cast<Glyph>(200));
    EXPECT_EQ(none.width, 23);
    EXPECT_EQ(extentOf(none).black, 0);
}

}  // namespace
}  // namespace kestrel
