#include "app/form_kestrelmap.h"
#include "display/register_table.h"

// The 32 step buttons and the two hemisphere buttons. Each handler is one call into the
// register table; the handlers do not look at the source mode (the enabled state decides).

namespace kestrel {

void Form_Kestrelmap::CmdButton_LAT_DEGX10_UP_Click() {
    stepUp(*this, RegisterId::LatDegX10);
}
void Form_Kestrelmap::CmdButton_LAT_DEGX10_DN_Click() {
    stepDown(*this, RegisterId::LatDegX10);
}
void Form_Kestrelmap::CmdButton_LAT_DEGX1_UP_Click() {
    stepUp(*this, RegisterId::LatDegX1);
}
void Form_Kestrelmap::CmdButton_LAT_DEGX1_DN_Click() {
    stepDown(*this, RegisterId::LatDegX1);
}
void Form_Kestrelmap::CmdButton_LAT_MINX10_UP_Click() {
    stepUp(*this, RegisterId::LatMinX10);
}
void Form_Kestrelmap::CmdButton_LAT_MINX10_DN_Click() {
    stepDown(*this, RegisterId::LatMinX10);
}
void Form_Kestrelmap::CmdButton_LAT_MINX1_UP_Click() {
    stepUp(*this, RegisterId::LatMinX1);
}
void Form_Kestrelmap::CmdButton_LAT_MINX1_DN_Click() {
    stepDown(*this, RegisterId::LatMinX1);
}
void Form_Kestrelmap::CmdButton_LAT_MINX01_UP_Click() {
    stepUp(*this, RegisterId::LatMinX01);
}
void Form_Kestrelmap::CmdButton_LAT_MINX01_DN_Click() {
    stepDown(*this, RegisterId::LatMinX01);
}
void Form_Kestrelmap::CmdButton_LAT_MINX001_UP_Click() {
    stepUp(*this, RegisterId::LatMinX001);
}
void Form_Kestrelmap::CmdButton_LAT_MINX001_DN_Click() {
    stepDown(*this, RegisterId::LatMinX001);
}
void Form_Kestrelmap::CmdButton_LONG_DEGX100_UP_Click() {
    stepUp(*this, RegisterId::LongDegX100);
}
void Form_Kestrelmap::CmdButton_LONG_DEGX100_DN_Click() {
    stepDown(*this, RegisterId::LongDegX100);
}
void Form_Kestrelmap::CmdButton_LONG_DEGX10_UP_Click() {
    stepUp(*this, RegisterId::LongDegX10);
}
void Form_Kestrelmap::CmdButton_LONG_DEGX10_DN_Click() {
    stepDown(*this, RegisterId::LongDegX10);
}
void Form_Kestrelmap::CmdButton_LONG_DEGX1_UP_Click() {
    stepUp(*this, RegisterId::LongDegX1);
}
void Form_Kestrelmap::CmdButton_LONG_DEGX1_DN_Click() {
    stepDown(*this, RegisterId::LongDegX1);
}
void Form_Kestrelmap::CmdButton_LONG_MINX10_UP_Click() {
    stepUp(*this, RegisterId::LongMinX10);
}
void Form_Kestrelmap::CmdButton_LONG_MINX10_DN_Click() {
    stepDown(*this, RegisterId::LongMinX10);
}
void Form_Kestrelmap::CmdButton_LONG_MINX1_UP_Click() {
    stepUp(*this, RegisterId::LongMinX1);
}
void Form_Kestrelmap::CmdButton_LONG_MINX1_DN_Click() {
    stepDown(*this, RegisterId::LongMinX1);
}
void Form_Kestrelmap::CmdButton_LONG_MINX01_UP_Click() {
    stepUp(*this, RegisterId::LongMinX01);
}
void Form_Kestrelmap::CmdButton_LONG_MINX01_DN_Click() {
    stepDown(*this, RegisterId::LongMinX01);
}
void Form_Kestrelmap::CmdButton_LONG_MINX001_UP_Click() {
    stepUp(*this, RegisterId::LongMinX001);
}
void Form_Kestrelmap::CmdButton_LONG_MINX001_DN_Click() {
    stepDown(*this, RegisterId::LongMinX001);
}
void Form_Kestrelmap::CmdButton_BRGX100_UP_Click() {
    stepUp(*this, RegisterId::BrgX100);
}
void Form_Kestrelmap::CmdButton_BRGX100_DN_Click() {
    stepDown(*this, RegisterId::BrgX100);
}
void Form_Kestrelmap::CmdButton_BRGX10_UP_Click() {
    stepUp(*this, RegisterId::BrgX10);
}
void Form_Kestrelmap::CmdButton_BRGX10_DN_Click() {
    stepDown(*this, RegisterId::BrgX10);
}
void Form_Kestrelmap::CmdButton_BRGX1_UP_Click() {
    stepUp(*this, RegisterId::BrgX1);
}
void Form_Kestrelmap::CmdButton_BRGX1_DN_Click() {
    stepDown(*this, RegisterId::BrgX1);
}
void Form_Kestrelmap::CmdButton_LAT_HEMI_Click() {
    toggleHemisphere(*this, HemisphereId::Lat);
}
void Form_Kestrelmap::CmdButton_LONG_HEMI_Click() {
    toggleHemisphere(*this, HemisphereId::Long);
}

}  // namespace kestrel
