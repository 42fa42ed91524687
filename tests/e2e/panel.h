#pragma once
// Reads the digit panel off a screenshot of the main window the way an operator reads it: each
// register's 23 x 32 area is compared, pixel for pixel, with the program's own glyph images.
// Places come from the window's layout table, so a test clicks and reads where the operator
// sees the controls.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/layout.h"

namespace kestrel::e2e {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // row by row, three bytes a pixel

    // A pixel the eye takes for black ink on the white register face.
    bool dark(int x, int y) const;
};

// A binary PPM (P6, 8 bits a channel), as `import ... ppm:-` writes it.
std::optional<Image> parsePpm(std::string_view bytes);

// A visible control of the main window in client-area coordinates ("CmdButton_EXIT", ...).
Rect controlRect(const std::string& name);

// The glyph a register shows: '0' to '9', '-', 'S', 'P', 'D', or '?' when its area matches no
// glyph image exactly. `column` is a digit column name such as "LAT_MINX01".
char readRegister(const Image& window, const std::string& column);

// The whole panel as the operator reads it, latitude, longitude and bearing:
// "34 25.11  119 44.50  000".
std::string readPanel(const Image& window);

}  // namespace kestrel::e2e
