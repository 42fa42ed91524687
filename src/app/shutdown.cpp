#include "app/form_kestrelmap.h"

namespace kestrel {

void Form_Kestrelmap::Form_Activate() {}

void Form_Kestrelmap::Form_KeyDown(int& /*KeyCode*/, int /*Shift*/) {}

void Form_Kestrelmap::Form_KeyPress(int& /*KeyAscii*/) {}

bool Form_Kestrelmap::Form_QueryUnload(CloseReason /*reason*/) {
    return false;
}

void Form_Kestrelmap::Form_Unload() {}

bool Form_Kestrelmap::requestClose(CloseReason /*reason*/) {
    return false;
}

void Form_Kestrelmap::CmdButton_SHOW_OPTIONS_Click() {}

void Form_Kestrelmap::cmdbutton_EXIT_Click() {}

}  // namespace kestrel
