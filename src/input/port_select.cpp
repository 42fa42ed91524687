#include "input/port_select.h"

#include "app/form_kestrelmap.h"

namespace kestrel {

std::string portCaption(int number, bool free) {
    return "COM PORT " + std::to_string(number) + (free ? " : FREE" : " : BUSY");
}

bool tryPort(SerialPort& port) {
    if (!port.open()) {
        if (port.isOpen()) {
            port.close();
        }
        return false;
    }
    port.close();
    return true;
}

// Steps to the next port (8 wraps to 1) and tries it; a busy port keeps its number, so the next
// press goes on from there. The instruments' port is closed first and their sources go back to
// manual, so no serial event arrives while the number changes.
void Form_Kestrelmap_Options::CmdButton_COMM_PORT_Click() {
    SerialPort& port = m_main.MSComm1;
    if (port.isOpen()) {
        port.close();
    }
    m_main.positToManual();
    m_main.dfToManual();

    CmdButton_COMM_PORT.BackColor = Picture_BUTTON_BACKGROUND_COLOR.BackColor;
    m_main.PORT_VALID = true;
    const int16_t current = port.portNumber();
    const auto next = static_cast<int16_t>((current >= 1 && current <= 7) ? current + 1 : 1);
    port.setPortNumber(next);
    CmdButton_COMM_PORT.Caption = portCaption(next, true);
    if (!tryPort(port)) {
        m_main.markPortBusy();  // the BUSY caption of this port on the button-shadow colour
    }
}

// The options window sees keys before its buttons and discards every one: Space or Enter
// cannot press a focused button here either.
void Form_Kestrelmap_Options::Form_KeyDown(int& KeyCode, int /*Shift*/) {
    KeyCode = 0;
}

void Form_Kestrelmap_Options::Form_KeyPress(int& KeyAscii) {
    KeyAscii = 0;
}

}  // namespace kestrel
