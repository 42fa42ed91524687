#include "app/form_kestrelmap.h"
#include "app/settings_file.h"

namespace kestrel {

namespace {

constexpr int kSpaceBar = 32;

}  // namespace

// Each time the main window becomes active after the options window (and once after start-up)
// an unusable port is reported; the shell decides when that is.
// With both instruments on ports of their own the COM line is not needed, and its state is
// not worth a message.
void Form_Kestrelmap::Form_Activate() {
    if (!PORT_VALID && (m_inputSwitch == nullptr || m_inputSwitch->usesComLine())) {
        m_platform.messages.show("COM port not available", "Kestrelmap", MessageButtons::Ok, false);
    }
}

// The window sees every key first. The space bar plots, even while ADD PLOT is busy and for
// every automatic repeat; no key reaches a control.
void Form_Kestrelmap::Form_KeyDown(int& KeyCode, int /*Shift*/) {
    if (KeyCode == kSpaceBar) {
        CmdButton_ADD_PLOT_Click();
    }
    KeyCode = 0;
}

void Form_Kestrelmap::Form_KeyPress(int& KeyAscii) {
    KeyAscii = 0;
}

void Form_Kestrelmap::CmdButton_SHOW_OPTIONS_Click() {
    OptionsForm.Show();
}

void Form_Kestrelmap::cmdbutton_EXIT_Click() {
    requestClose(CloseReason::Operator);
}

// Every close asks first, Cancel being the default. A close from the session (logout, shutdown)
// saves the settings before asking, since the session may end before anyone answers.
bool Form_Kestrelmap::Form_QueryUnload(CloseReason reason) {
    if (reason == CloseReason::System) {
        std::string error;
        writeSettingsFile(*this, error);  // a failure is told by the unload, if it comes
    }
    m_closeQuestionOpen = true;
    const MessageResult answer =
        m_platform.messages.show("This will close Kestrelmap... Are you SURE ?",
                                 "Close Kestrelmap Program", MessageButtons::OkCancel, true);
    m_closeQuestionOpen = false;
    return answer != MessageResult::Ok;
}

void Form_Kestrelmap::Form_Unload() {
    SAVE_SETTINGS();
    OptionsForm.Unload();
    Unloaded = true;
}

// A request that arrives while the question is already on screen is answered by that question;
// one from the session still saves the settings first.
bool Form_Kestrelmap::requestClose(CloseReason reason) {
    if (Unloaded) {
        return true;
    }
    if (m_closeQuestionOpen) {
        if (reason == CloseReason::System) {
            std::string error;
            writeSettingsFile(*this, error);
        }
        return false;
    }
    if (Form_QueryUnload(reason)) {
        return false;
    }
    Form_Unload();
    return true;
}

}  // namespace kestrel
