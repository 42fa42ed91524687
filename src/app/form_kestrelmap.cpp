#include "app/form_kestrelmap.h"

#include <algorithm>

namespace kestrel {

namespace {
template <size_t N>
std::array<const DigitRegister*, N> readOnly(const std::array<DigitRegister*, N>& registers) {
    std::array<const DigitRegister*, N> out{};
    std::copy(registers.begin(), registers.end(), out.begin());
    return out;
}
}  // namespace

// The window as it stands before start-up runs: both sources manual, the position registers
// dashed, the bearing at 000, every shadow empty.
Form_Kestrelmap::Form_Kestrelmap(Platform& platform, std::string folder)
    : MSComm1(platform.serial),
      OptionsForm(*this),
      m_platform(platform),
      m_folder(std::move(folder)) {
    Frame_POSITION.Caption = "POSITION";
    Frame_DF.Caption = "DF";
    Frame_PLOT.Caption = "PLOT";
    Frame_CONTROL.Caption = "CONTROL";
    Label_IDENT.Caption = "Kestrelmap \u2014 radio direction-finding plotter";
    Label_IDENT.BackColor = Colour::windowBackground();

    CmdButton_POSIT_SOURCE = {"MAN POS", "MAN"};
    CmdButton_DF_SOURCE = {"MAN BRG", "MAN"};
    CmdButton_LAT_HEMI = {"N", "N"};
    CmdButton_LONG_HEMI = {"E", "E"};
    CmdButton_LAT_HEMI_TEMP = {"Command1", "", false};
    CmdButton_LONG_HEMI_TEMP = {"Command1", "", false};

    Picture_LAT_DEGX10.glyph = Glyph::Dash;
    Picture_LAT_DEGX1.glyph = Glyph::Dash;
    Picture_LAT_MINX10.glyph = Glyph::Dash;
    Picture_LAT_MINX1.glyph = Glyph::Dash;
    Picture_LAT_MINX01.glyph = Glyph::Dash;
    Picture_LAT_MINX001.glyph = Glyph::Dash;
    Picture_LONG_DEGX100.glyph = Glyph::Dash;
    Picture_LONG_DEGX10.glyph = Glyph::Dash;
    Picture_LONG_DEGX1.glyph = Glyph::Dash;
    Picture_LONG_MINX10.glyph = Glyph::Dash;
    Picture_LONG_MINX1.glyph = Glyph::Dash;
    Picture_LONG_MINX01.glyph = Glyph::Dash;
    Picture_LONG_MINX001.glyph = Glyph::Dash;
    Picture_BRGX100.Tag = "0";
    Picture_BRGX10.Tag = "0";
    Picture_BRGX1.Tag = "0";
    CmdButton_LAT_DEGX10_UP.Caption = "+ ";
    CmdButton_LAT_DEGX10_DN.Caption = "-";
    CmdButton_LAT_DEGX1_UP.Caption = "+ ";
    CmdButton_LAT_DEGX1_DN.Caption = "-";
    CmdButton_LAT_MINX10_UP.Caption = "+ ";
    CmdButton_LAT_MINX10_DN.Caption = "-";
    CmdButton_LAT_MINX1_UP.Caption = "+ ";
    CmdButton_LAT_MINX1_DN.Caption = "-";
    CmdButton_LAT_MINX01_UP.Caption = "+ ";
    CmdButton_LAT_MINX01_DN.Caption = "-";
    CmdButton_LAT_MINX001_UP.Caption = "+ ";
    CmdButton_LAT_MINX001_DN.Caption = "-";
    CmdButton_LONG_DEGX100_UP.Caption = "+ ";
    CmdButton_LONG_DEGX100_DN.Caption = "-";
    CmdButton_LONG_DEGX10_UP.Caption = "+ ";
    CmdButton_LONG_DEGX10_DN.Caption = "-";
    CmdButton_LONG_DEGX1_UP.Caption = "+ ";
    CmdButton_LONG_DEGX1_DN.Caption = "-";
    CmdButton_LONG_MINX10_UP.Caption = "+ ";
    CmdButton_LONG_MINX10_DN.Caption = "-";
    CmdButton_LONG_MINX1_UP.Caption = "+ ";
    CmdButton_LONG_MINX1_DN.Caption = "-";
    CmdButton_LONG_MINX01_UP.Caption = "+ ";
    CmdButton_LONG_MINX01_DN.Caption = "-";
    CmdButton_LONG_MINX001_UP.Caption = "+ ";
    CmdButton_LONG_MINX001_DN.Caption = "-";
    CmdButton_BRGX100_UP.Caption = "+ ";
    CmdButton_BRGX100_DN.Caption = "-";
    CmdButton_BRGX10_UP.Caption = "+ ";
    CmdButton_BRGX10_DN.Caption = "-";
    CmdButton_BRGX1_UP.Caption = "+ ";
    CmdButton_BRGX1_DN.Caption = "-";

    CmdButton_RANGE = {"  DX    5 MI", "5"};
    CmdButton_TIMER = {"TMR OFF", "0", false, kLockedGrey};
    CmdButton_ADD_PLOT = {"ADD PLOT 1", "1"};
    CmdButton_SHOW_OPTIONS = {"SHOW OPTIONS", "5"};
    cmdbutton_EXIT = {"EXIT", ""};

    Timer_TIMEOUT.setInterval(1000);
    Timer_TIMEOUT.setEnabled(true);
    Timer_BLINK.setInterval(3000);
    Timer_PLOT.setInterval(10000);
}

std::array<DigitRegister*, 13> Form_Kestrelmap::positionRegisters() {
    return {&Picture_LAT_DEGX10,  &Picture_LAT_DEGX1,   &Picture_LAT_MINX10,   &Picture_LAT_MINX1,
            &Picture_LAT_MINX01,  &Picture_LAT_MINX001, &Picture_LONG_DEGX100, &Picture_LONG_DEGX10,
            &Picture_LONG_DEGX1,  &Picture_LONG_MINX10, &Picture_LONG_MINX1,   &Picture_LONG_MINX01,
            &Picture_LONG_MINX001};
}

std::array<DigitRegister*, 3> Form_Kestrelmap::bearingRegisters() {
    return {&Picture_BRGX100, &Picture_BRGX10, &Picture_BRGX1};
}

// The same lists read-only: the cast only takes the registers' addresses.
std::array<const DigitRegister*, 13> Form_Kestrelmap::positionRegisters() const {
    return readOnly(const_cast<Form_Kestrelmap&>(*this).positionRegisters());
}

std::array<const DigitRegister*, 3> Form_Kestrelmap::bearingRegisters() const {
    return readOnly(const_cast<Form_Kestrelmap&>(*this).bearingRegisters());
}

}  // namespace kestrel
