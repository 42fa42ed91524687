#pragma once
// Which input is open for which source state, and the switch that opens and closes them when
// an instrument has an input of its own. The position needs the GPS; the bearing needs the
// direction finder and the GPS (its course turns a relative bearing into a true one). Each
// instrument is reached through the COM line or its own input, as the configuration says.

#include <string>

#include "app/form_kestrelmap.h"
#include "app/input_switch.h"
#include "instruments/input_config.h"

namespace kestrel::instruments {

struct NeededInputs {
    bool line = false;  // the COM line (MSComm1)
    bool gps = false;   // the GPS's own input (a serial port or gpsd)
    bool df = false;    // the direction finder's own serial port
    bool operator==(const NeededInputs&) const = default;
};

NeededInputs neededInputs(const InputConfig& config, bool positOnGps, bool bearingOnDf);

// True when an instrument is configured away from the COM line.
bool usesOwnInputs(const InputConfig& config);

// An input of its own as the switch sees it.
class InstrumentInput {
  public:
    virtual ~InstrumentInput() = default;
    // False, with a short reason ("permission denied: add yourself to the group dialout"),
    // when it cannot be opened. An input that connects in the background (gpsd) opens at once
    // and reports its failures itself.
    virtual bool open(std::string& reason) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // What the operator knows it by: "/dev/ttyUSB0", "gpsd at localhost:2947".
    virtual std::string where() const = 0;
};

// Opens and closes the COM line and the two own inputs for the source switches. The COM line
// keeps its designed rules (PORT_VALID, a port that fails is marked busy); an own input that
// fails gives a message naming the device and the reason.
class InputRouter : public InputSwitch {
  public:
    InputRouter(Form_Kestrelmap& form, InstrumentInput& gps, InstrumentInput& df);

    void setConfig(const InputConfig& config) { m_config = config; }
    bool switchInputs(bool positOnGps, bool bearingOnDf) override;
    bool usesComLine() const override {
        return m_config.gps == GpsFrom::Line || m_config.df == DfFrom::Line;
    }
    // Closes what the sources as they stand no longer need (a source went back to manual
    // without its switch, as the port button does), and opens nothing.
    void closeUnneeded();

  private:
    InstrumentInput& own(InputRole role) { return role == InputRole::Gps ? m_gps : m_df; }

    Form_Kestrelmap& m_form;
    InstrumentInput& m_gps;
    InstrumentInput& m_df;
    InputConfig m_config;
};

}  // namespace kestrel::instruments
