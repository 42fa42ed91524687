#pragma once
// The controls of both windows as plain data: exactly what the behaviour reads and writes.
// The Qt shell mirrors these onto real widgets after every handler; it never keeps state of
// its own that the behaviour depends on.

#include <cstdint>
#include <string>

namespace kestrel {

// A colour is either an RGB value 0x00BBGGRR (red in the lowest byte, as stored in the
// settings file) or one of the platform's system colours, resolved by the shell.
struct Colour {
    enum class System : uint8_t { None, ButtonFace, ButtonShadow, WindowBackground };

    int32_t rgb = 0;
    System system = System::None;

    static constexpr Colour fromRgb(int32_t value) { return Colour{value, System::None}; }
    static constexpr Colour fromRgb(int red, int green, int blue) {
        return Colour{red | (green << 8) | (blue << 16), System::None};
    }
    static constexpr Colour buttonFace() { return Colour{0, System::ButtonFace}; }
    static constexpr Colour buttonShadow() { return Colour{0, System::ButtonShadow}; }
    static constexpr Colour windowBackground() { return Colour{0, System::WindowBackground}; }
    constexpr bool isRgb() const { return system == System::None; }

    friend constexpr bool operator==(const Colour&, const Colour&) = default;
};

// Locked buttons are painted light grey.
inline constexpr Colour kLockedGrey = Colour::fromRgb(192, 192, 192);

// A command button: caption, a short text value (`Tag`) compared as exact text, enabled flag
// and background colour.
struct Button {
    std::string Caption;
    std::string Tag;
    bool Enabled = true;
    Colour BackColor = Colour::buttonFace();
};

// The fourteen glyphs a digit register can show.
enum class Glyph : uint8_t {
    Zero,
    One,
    Two,
    Three,
    Four,
    Five,
    Six,
    Seven,
    Eight,
    Nine,
    Dash,
    S,
    P,
    D
};

constexpr Glyph digitGlyph(int digit) {
    return static_cast<Glyph>(digit);
}

// One displayed digit: its value (`Tag`, normally "0" to "9") and the glyph it shows. The two
// are independent: while DASH, S, P or D is shown the value keeps the last digit.
struct DigitRegister {
    std::string Tag;
    Glyph glyph = Glyph::Zero;
};

// A frame or label: caption with background and text colour.
struct Frame {
    std::string Caption;
    Colour BackColor = Colour::buttonFace();
    Colour ForeColor = Colour::fromRgb(0);
};

// A picture box used as a colour swatch (the options window's preview boxes).
struct PictureBox {
    Colour BackColor = kLockedGrey;
};

// A timer of the user-interface thread. Enabling it or setting its interval restarts its
// count; `restarts` changes whenever that happens so the shell can restart its real timer.
struct Timer {
    bool Enabled = false;
    int Interval = 0;  // milliseconds
    uint32_t restarts = 0;

    void setEnabled(bool enabled) {
        if (enabled) {
            ++restarts;
        }
        Enabled = enabled;
    }
    void setInterval(int intervalMs) {
        Interval = intervalMs;
        ++restarts;
    }
};

}  // namespace kestrel
