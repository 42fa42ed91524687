#pragma once
// Helpers for the instrument-input tests: a rig that delivers serial text, the panel read back
// as text, and NMEA checksums.

#include <cstdio>
#include <string>

#include "fakes/fake_platform.h"

namespace kestrel::test {

inline char glyphChar(Glyph glyph) {
    return "0123456789-SPD"[static_cast<int>(glyph)];
}

// The position as the operator sees it: hemisphere letters and glyphs, "N4807.04 E01131.00".
inline std::string shownPosition(Form_Kestrelmap& f) {
    std::string text = f.CmdButton_LAT_HEMI.Caption;
    const auto regs = f.positionRegisters();
    for (size_t i = 0; i < regs.size(); ++i) {
        if (i == 6) {
            text += " " + f.CmdButton_LONG_HEMI.Caption;
        }
        if (i == 4 || i == 11) {
            text += '.';
        }
        text += glyphChar(regs[i]->glyph);
    }
    return text;
}

// The values the position registers hold, "4807.04 01131.00".
inline std::string heldPosition(Form_Kestrelmap& f) {
    std::string text;
    const auto regs = f.positionRegisters();
    for (size_t i = 0; i < regs.size(); ++i) {
        text += (i == 6 ? " " : "") + std::string(i == 4 || i == 11 ? "." : "") + regs[i]->Tag;
    }
    return text;
}

inline std::string shownBearing(Form_Kestrelmap& f) {
    std::string text;
    for (const DigitRegister* reg : f.bearingRegisters()) {
        text += glyphChar(reg->glyph);
    }
    return text;
}

inline std::string heldBearing(Form_Kestrelmap& f) {
    std::string text;
    for (const DigitRegister* reg : f.bearingRegisters()) {
        text += reg->Tag;
    }
    return text;
}

// The sentence with its NMEA checksum appended ("*" and two upper-case hex digits).
inline std::string withChecksum(const std::string& sentence) {
    unsigned sum = 0;
    for (size_t i = 1; i < sentence.size(); ++i) {
        sum ^= static_cast<unsigned char>(sentence[i]);
    }
    char hex[4];
    std::snprintf(hex, sizeof hex, "*%02X", sum);
    return sentence + hex;
}

// An RMC sentence with a valid fix around the given fields
// (latitude,N/S,longitude,E/W,speed,course).
inline std::string rmc(const std::string& fields, const std::string& talker = "GP") {
    return "$" + talker + "RMC,123519,A," + fields + ",230394,003.1,W";
}

// A main window whose serial port delivers what a test writes on the line.
struct InputRig : FakeRig {
    InputRig(const char* position = "MAN", const char* bearing = "MAN") {
        main().CmdButton_POSIT_SOURCE.Tag = position;
        main().CmdButton_DF_SOURCE.Tag = bearing;
    }
    // One port event that brings `text` (possibly empty).
    Form_Kestrelmap& deliver(const std::string& text) {
        serial.waiting += text;
        main().serialEvent();
        return main();
    }
};

}  // namespace kestrel::test
