#include "app/form_kestrelmap.h"

namespace kestrel {

void Form_Kestrelmap::CmdButton_LAT_DEGX10_UP_Click() {}

void Form_Kestrelmap::CmdButton_LAT_DEGX10_DN_Click() {}

void Form_Kestrelmap::CmdButton_LAT_DEGX1_UP_Click() {}

void Form_Kestrelmap::CmdButton_LAT_DEGX1_DN_Click() {}

void Form_Kestrelmap::CmdButton_LAT_MINX10_UP_Click() {}

void Form_Kestrelmap::CmdButton_LAT_MINX10_DN_Click() {}

void Form_Kestrelmap::CmdButton_LAT_MINX1_UP_Click() {}

void Form_Kestrelmap::CmdButton_LAT_MINX1_DN_Click() {}

void Form_Kestrelmap::CmdButton_LAT_MINX01_UP_Click() {}

void Form_Kestrelmap::CmdButton_LAT_MINX01_DN_Click() {}

void Form_Kestrelmap::CmdButton_LAT_MINX001_UP_Click() {}

void Form_Kestrelmap::CmdButton_LAT_MINX001_DN_Click() {}

void Form_Kestrelmap::CmdButton_LONG_DEGX100_UP_Click() {}

void Form_Kestrelmap::CmdButton_LONG_DEGX100_DN_Click() {}

void Form_Kestrelmap::CmdButton_LONG_DEGX10_UP_Click() {}

void Form_Kestrelmap::CmdButton_LONG_DEGX10_DN_Click() {}

void Form_Kestrelmap::CmdButton_LONG_DEGX1_UP_Click() {}

void Form_Kestrelmap::CmdButton_LONG_DEGX1_DN_Click() {}

void Form_Kestrelmap::CmdButton_LONG_MINX10_UP_Click() {}

void Form_Kestrelmap::CmdButton_LONG_MINX10_DN_Click() {}

void Form_Kestrelmap::CmdButton_LONG_MINX1_UP_Click() {}

void Form_Kestrelmap::CmdButton_LONG_MINX1_DN_Click() {}

void Form_Kestrelmap::CmdButton_LONG_MINX01_UP_Click() {}

void Form_Kestrelmap::CmdButton_LONG_MINX01_DN_Click() {}

void Form_Kestrelmap::CmdButton_LONG_MINX001_UP_Click() {}

void Form_Kestrelmap::CmdButton_LONG_MINX001_DN_Click() {}

void Form_Kestrelmap::CmdButton_BRGX100_UP_Click() {}

void Form_Kestrelmap::CmdButton_BRGX100_DN_Click() {}

void Form_Kestrelmap::CmdButton_BRGX10_UP_Click() {}

void Form_Kestrelmap::CmdButton_BRGX10_DN_Click() {}

void Form_Kestrelmap::CmdButton_BRGX1_UP_Click() {}

void Form_Kestrelmap::CmdButton_BRGX1_DN_Click() {}

void Form_Kestrelmap::CmdButton_LAT_HEMI_Click() {}

void Form_Kestrelmap::CmdButton_LONG_HEMI_Click() {}

}  // namespace kestrel
