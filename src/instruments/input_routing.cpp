#include "instruments/input_routing.h"

#include <array>

namespace kestrel::instruments {

namespace {

constexpr const char* kProgramTitle = "Kestrelmap";
constexpr const char* kPortNotAvailable = "COM port not available";

void tell(Form_Kestrelmap& form, const std::string& text) {
    form.platform().messages.show(text, kProgramTitle, MessageButtons::Ok, false);
}

// Closes again the inputs this switch opened (null: not opened by it).
void closeOpened(const std::array<InstrumentInput*, 2>& opened) {
    for (InstrumentInput* input : opened) {
        if (input != nullptr) {
            input->close();
        }
    }
}

}  // namespace

// The position needs the GPS; the bearing needs the direction finder and the GPS's course.
NeededInputs neededInputs(const InputConfig& config, bool positOnGps, bool bearingOnDf) {
    const bool gps = positOnGps || bearingOnDf;
    const bool df = bearingOnDf;
    const bool gpsOnLine = config.gps == GpsFrom::Line;
    const bool dfOnLine = config.df == DfFrom::Line;
    return {.line = (gps && gpsOnLine) || (df && dfOnLine),
            .gps = gps && !gpsOnLine,
            .df = df && !dfOnLine};
}

bool usesOwnInputs(const InputConfig& config) {
    return config.gps != GpsFrom::Line || config.df != DfFrom::Line;
}

InputRouter::InputRouter(Form_Kestrelmap& form, InstrumentInput& gps, InstrumentInput& df)
    : m_form(form), m_gps(gps), m_df(df) {}

// Everything needed is opened first; when one fails, what this call opened is closed again
// and nothing else changes. Then what is no longer needed is closed.
bool InputRouter::switchInputs(bool positOnGps, bool bearingOnDf) {
    const NeededInputs need = neededInputs(m_config, positOnGps, bearingOnDf);
    bool openedLine = false;
    if (need.line && !m_form.MSComm1.isOpen()) {
        if (!m_form.PORT_VALID) {
            tell(m_form, kPortNotAvailable);
            return false;
        }
        if (!m_form.MSComm1.open()) {
            m_form.markPortBusy();
            tell(m_form, kPortNotAvailable);
            return false;
        }
        openedLine = true;
    }
    std::array<InstrumentInput*, 2> openedOwn{};
    const std::array<std::pair<InputRole, bool>, 2> ownNeeds{
        {{InputRole::Gps, need.gps}, {InputRole::Df, need.df}}};
    for (size_t i = 0; i < ownNeeds.size(); ++i) {
        InstrumentInput& input = own(ownNeeds[i].first);
        if (!ownNeeds[i].second || input.isOpen()) {
            continue;
        }
        std::string reason;
        if (!input.open(reason)) {
            closeOpened(openedOwn);
            if (openedLine) {
                m_form.MSComm1.close();
            }
            const char* name = ownNeeds[i].first == InputRole::Gps ? "GPS" : "Direction finder";
            tell(m_form, std::string(name) + ": cannot open " + input.where() + ": " + reason);
            return false;
        }
        openedOwn[i] = &input;
    }
    if (!need.line && m_form.MSComm1.isOpen()) {
        m_form.MSComm1.close();
    }
    for (const auto& [role, needed] : ownNeeds) {
        if (!needed && own(role).isOpen()) {
            own(role).close();
        }
    }
    return true;
}

void InputRouter::closeUnneeded() {
    const NeededInputs need = neededInputs(m_config, m_form.CmdButton_POSIT_SOURCE.Tag == "GPS",
                                           m_form.CmdButton_DF_SOURCE.Tag == "DF");
    if (!need.gps && m_gps.isOpen()) {
        m_gps.close();
    }
    if (!need.df && m_df.isOpen()) {
        m_df.close();
    }
}

}  // namespace kestrel::instruments
