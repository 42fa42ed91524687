#include "app/form_kestrelmap.h"

namespace kestrel {

void Form_Kestrelmap_Options::CmdButton_COMM_PORT_Click() {}

void Form_Kestrelmap_Options::Form_KeyDown(int& /*KeyCode*/, int /*Shift*/) {}

void Form_Kestrelmap_Options::Form_KeyPress(int& /*KeyAscii*/) {}

}  // namespace kestrel
