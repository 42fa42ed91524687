#pragma once
// What opens and closes the instruments' inputs when a source switches, for set-ups other
// than the designed one (both instruments on the COM line): the instruments module. The
// window knows it only through this interface.

namespace kestrel {

class InputSwitch {
  public:
    virtual ~InputSwitch() = default;
    // The sources are about to become: position on the GPS `positOnGps`, bearing on the
    // direction finder `bearingOnDf`. Opens what they need and closes what they no longer
    // need. False when a needed input cannot be opened: the operator has been told, nothing
    // was closed, and the switch must not happen.
    virtual bool switchInputs(bool positOnGps, bool bearingOnDf) = 0;
    // An instrument is set up on the COM line, so a COM port that cannot be opened matters.
    virtual bool usesComLine() const = 0;
};

}  // namespace kestrel
