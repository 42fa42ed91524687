#include "e2e/panel.h"

#include <cctype>
#include <stdexcept>

#include "display/glyphs.h"

namespace kestrel::e2e {
namespace {

constexpr char kGlyphChars[] = "0123456789-SPD";

// The next whitespace-separated field of a PPM header, skipping "#" comments.
std::optional<int> headerNumber(std::string_view bytes, std::size_t& at) {
    while (at < bytes.size()) {
        if (bytes[at] == '#') {
            while (at < bytes.size() && bytes[at] != '\n') {
                ++at;
            }
        } else if (std::isspace(static_cast<unsigned char>(bytes[at])) != 0) {
            ++at;
        } else {
            break;
        }
    }
    long value = 0;
    const std::size_t start = at;
    while (at < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[at])) != 0 &&
           value < 100000) {
        value = value * 10 + (bytes[at] - '0');
        ++at;
    }
    if (at == start || value >= 100000) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

// Buttons that stand on the window itself, over a frame, hide the frame's controls beneath
// them: the hemisphere buttons reach one pixel column into the first digit of each coordinate.
bool coveredByWindowButton(int x, int y) {
    for (const MainControlLayout& entry : mainWindowLayout()) {
        const Rect& r = entry.rect;
        if (entry.parent.empty() && entry.kind == ControlKind::Button && x >= r.left &&
            x < r.right() && y >= r.top && y < r.bottom()) {
            return true;
        }
    }
    return false;
}

bool matches(const Image& window, int left, int top, const GlyphImage& glyph) {
    for (int y = 0; y < glyph.height; ++y) {
        for (int x = 0; x < glyph.width; ++x) {
            if (window.dark(left + x, top + y) != glyph.black(x, y) &&
                !coveredByWindowButton(left + x, top + y)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

bool Image::dark(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) {
        return false;
    }
    const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 3;
    return rgb[at] + rgb[at + 1] + rgb[at + 2] < 3 * 128;
}

std::optional<Image> parsePpm(std::string_view bytes) {
    if (bytes.substr(0, 2) != "P6") {
        return std::nullopt;
    }
    std::size_t at = 2;
    const std::optional<int> width = headerNumber(bytes, at);
    const std::optional<int> height = headerNumber(bytes, at);
    const std::optional<int> maxValue = headerNumber(bytes, at);
    if (!width || !height || maxValue != 255 || at >= bytes.size()) {
        return std::nullopt;
    }
    ++at;  // the single whitespace character after the header
    const std::size_t size = static_cast<std::size_t>(*width) * *height * 3;
    if (bytes.size() - at < size) {
        return std::nullopt;
    }
    Image image{*width, *height, {}};
    image.rgb.assign(bytes.begin() + at, bytes.begin() + at + size);
    return image;
}

Rect controlRect(const std::string& name) {
    const auto& table = mainWindowLayout();
    for (const MainControlLayout& entry : table) {
        if (entry.name == name) {
            return windowRect(table, entry);
        }
    }
    throw std::invalid_argument("no control " + name + " on the main window");
}

char readRegister(const Image& window, const std::string& column) {
    // The 23-pixel image sits at the top of the 25-pixel register; the shell may put it at the
    // left edge or centre it, so each horizontal place it can take is tried.
    const Rect r = controlRect("Picture_" + column);
    for (int dx = 0; dx <= r.width - kGlyphWidth; ++dx) {
        for (int g = 0; g < 14; ++g) {
            if (matches(window, r.left + dx, r.top, glyphImage(static_cast<Glyph>(g)))) {
                return kGlyphChars[g];
            }
        }
    }
    return '?';
}

std::string readPanel(const Image& window) {
    // Columns in screen order, with the separators an operator sees between them.
    static const std::vector<std::pair<std::string, std::string>> kLayout = {
        {"LAT_DEGX10", ""},   {"LAT_DEGX1", ""},    {"LAT_MINX10", " "},    {"LAT_MINX1", ""},
        {"LAT_MINX01", "."},  {"LAT_MINX001", ""},  {"LONG_DEGX100", "  "}, {"LONG_DEGX10", ""},
        {"LONG_DEGX1", ""},   {"LONG_MINX10", " "}, {"LONG_MINX1", ""},     {"LONG_MINX01", "."},
        {"LONG_MINX001", ""}, {"BRGX100", "  "},    {"BRGX10", ""},         {"BRGX1", ""},
    };
    std::string text;
    for (const auto& [column, before] : kLayout) {
        text += before;
        text += readRegister(window, column);
    }
    return text;
}

}  // namespace kestrel::e2e
