#include <string>

#include "app/form_kestrelmap.h"
#include "display/register_table.h"

// The two source switches. A switch to the instrument saves the hand-entered digits into the
// shadows and locks the entry buttons; the switch back restores them and unlocks. The serial
// port is open exactly while at least one source is on the instrument.

namespace kestrel {
namespace {

constexpr const char* kProgramTitle = "Kestrelmap";
constexpr const char* kPortNotAvailable = "COM port not available";

constexpr std::size_t kBearingFirst = kPositionRegisterCount;

void lock(Button& button) {
    button.Enabled = false;
    button.BackColor = kLockedGrey;
}

void unlock(Button& button, int32_t buttonColour) {
    button.Enabled = true;
    button.BackColor = Colour::fromRgb(buttonColour);
}

// The entry buttons of registers [first, last) of the table; with the position registers also
// the two hemisphere buttons.
void setEntryLocked(Form_Kestrelmap& form, std::size_t first, std::size_t last, bool locked) {
    auto apply = [&](Button& b) { locked ? lock(b) : unlock(b, form.BUTTON_BC); };
    for (std::size_t i = first; i < last; ++i) {
        apply(form.*registerTable()[i].up);
        apply(form.*registerTable()[i].down);
    }
    if (first == 0) {
        for (const HemisphereDescription& h : hemisphereTable()) {
            apply(form.*h.button);
        }
    }
}

void copyRegisters(Form_Kestrelmap& form, std::size_t first, std::size_t last, bool toShadow) {
    for (std::size_t i = first; i < last; ++i) {
        DigitRegister& reg = form.*registerTable()[i].reg;
        DigitRegister& shadow = form.*registerTable()[i].shadow;
        if (toShadow) {
            shadow = reg;
        } else {
            reg = shadow;
        }
    }
}

void copyHemispheres(Form_Kestrelmap& form, bool toShadow) {
    for (const HemisphereDescription& h : hemisphereTable()) {
        Button& from = toShadow ? form.*h.button : form.*h.shadow;
        Button& to = toShadow ? form.*h.shadow : form.*h.button;
        to.Caption = from.Caption;
        to.Tag = from.Tag;
    }
}

}  // namespace

void Form_Kestrelmap::POSIT_SAVE() {
    copyRegisters(*this, 0, kPositionRegisterCount, true);
    copyHemispheres(*this, true);
}

void Form_Kestrelmap::POSIT_RESTORE() {
    copyRegisters(*this, 0, kPositionRegisterCount, false);
    copyHemispheres(*this, false);
}

void Form_Kestrelmap::DF_SAVE() {
    copyRegisters(*this, kBearingFirst, kRegisterCount, true);
}

void Form_Kestrelmap::DF_RESTORE() {
    copyRegisters(*this, kBearingFirst, kRegisterCount, false);
}

void Form_Kestrelmap::positToManual() {
    if (CmdButton_POSIT_SOURCE.Tag != "GPS") {
        return;
    }
    POSIT_RESTORE();
    CmdButton_POSIT_SOURCE.Caption = "MAN POS";
    CmdButton_POSIT_SOURCE.Tag = "MAN";
    lock(CmdButton_TIMER);
    setEntryLocked(*this, 0, kPositionRegisterCount, false);
}

void Form_Kestrelmap::positToInstrument() {
    if (CmdButton_POSIT_SOURCE.Tag != "MAN") {
        return;
    }
    POSIT_SAVE();
    CmdButton_POSIT_SOURCE.Caption = "GPS POS";
    CmdButton_POSIT_SOURCE.Tag = "GPS";
    unlock(CmdButton_TIMER, BUTTON_BC);
    setEntryLocked(*this, 0, kPositionRegisterCount, true);
}

void Form_Kestrelmap::dfToInstrument() {
    if (CmdButton_DF_SOURCE.Tag != "MAN") {
        return;
    }
    DF_SAVE();
    CmdButton_DF_SOURCE.Caption = "DF BRG";
    CmdButton_DF_SOURCE.Tag = "DF";
    setEntryLocked(*this, kBearingFirst, kRegisterCount, true);
}

void Form_Kestrelmap::dfToManual() {
    if (CmdButton_DF_SOURCE.Tag != "DF") {
        return;
    }
    DF_RESTORE();
    CmdButton_DF_SOURCE.Caption = "MAN BRG";
    CmdButton_DF_SOURCE.Tag = "MAN";
    lock(CmdButton_TIMER);
    setEntryLocked(*this, kBearingFirst, kRegisterCount, false);
}

namespace {

void tellPortNotAvailable(Form_Kestrelmap& form) {
    form.platform().messages.show(kPortNotAvailable, kProgramTitle, MessageButtons::Ok, false);
}

// Opens the port for the first source that goes to the instrument. When the device has gone
// since it was tested, the port is marked busy and the operator told; the caller then leaves
// its source on manual.
bool openPortForInstrument(Form_Kestrelmap& form) {
    if (form.MSComm1.isOpen() || form.MSComm1.open()) {
        return true;
    }
    form.markPortBusy();
    tellPortNotAvailable(form);
    return false;
}

void closePortAfterInstrument(Form_Kestrelmap& form) {
    if (form.MSComm1.isOpen()) {
        form.MSComm1.close();
    }
}

}  // namespace

// With an instrument on an input of its own, the inputs are opened and closed by the input
// switch instead of the COM line alone; the source changes as it does here.
void Form_Kestrelmap::switchSourceThroughInputs(bool position) {
    bool positOnGps = CmdButton_POSIT_SOURCE.Tag == "GPS";
    bool bearingOnDf = CmdButton_DF_SOURCE.Tag == "DF";
    bool& switched = position ? positOnGps : bearingOnDf;
    switched = !switched;
    if (!m_inputSwitch->switchInputs(positOnGps, bearingOnDf)) {
        return;
    }
    if (position) {
        switched ? positToInstrument() : positToManual();
    } else {
        switched ? dfToInstrument() : dfToManual();
    }
}

void Form_Kestrelmap::CmdButton_POSIT_SOURCE_Click() {
    if (m_inputSwitch != nullptr) {
        return switchSourceThroughInputs(true);
    }
    if (!PORT_VALID) {
        tellPortNotAvailable(*this);
        return;
    }
    const std::string v = CmdButton_POSIT_SOURCE.Tag;
    const bool bearingOnInstrument = CmdButton_DF_SOURCE.Tag == "DF";
    if (v == "MAN") {
        if (!bearingOnInstrument && !openPortForInstrument(*this)) {
            return;
        }
        positToInstrument();
    } else if (v == "GPS") {
        positToManual();
        if (!bearingOnInstrument) {
            closePortAfterInstrument(*this);
        }
    }
}

void Form_Kestrelmap::CmdButton_DF_SOURCE_Click() {
    if (m_inputSwitch != nullptr) {
        return switchSourceThroughInputs(false);
    }
    if (!PORT_VALID) {
        tellPortNotAvailable(*this);
        return;
    }
    const std::string v = CmdButton_DF_SOURCE.Tag;
    const bool positionOnInstrument = CmdButton_POSIT_SOURCE.Tag == "GPS";
    if (v == "MAN") {
        if (!positionOnInstrument && !openPortForInstrument(*this)) {
            return;
        }
        dfToInstrument();
    } else if (v == "DF") {
        dfToManual();
        if (!positionOnInstrument) {
            closePortAfterInstrument(*this);
        }
    }
}

void Form_Kestrelmap::markPortBusy() {
    PORT_VALID = false;
    Button& port = OptionsForm.CmdButton_COMM_PORT;
    port.Caption = "COM PORT " + std::to_string(MSComm1.portNumber()) + " : BUSY";
    port.BackColor = Colour::buttonShadow();
}

}  // namespace kestrel
