#pragma once
// Where each instrument's data comes from. The defaults are the designed set-up: the GPS and the
// direction finder share the one serial line (COMn) at 4800 baud.

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel::instruments {

enum class GpsFrom { Line, Serial, Gpsd };
enum class DfFrom { Line, Serial, Kraken };

// The three inputs as the operator sees them: the shared line, the GPS, the direction finder.
enum class InputRole { Line, Gps, Df };

struct SerialSetting {
    std::string device;  // a device path such as /dev/ttyUSB0 or a /dev/serial/by-id/ name
    int baud = 4800;
    bool operator==(const SerialSetting&) const = default;
};

struct InputConfig {
    int lineBaud = 4800;  // the shared serial line
    GpsFrom gps = GpsFrom::Line;
    SerialSetting gpsSerial;
    std::string gpsdHost = "localhost";
    uint16_t gpsdPort = 2947;
    DfFrom df = DfFrom::Line;
    SerialSetting dfSerial;
    // An SDR direction finder's DSP software on the network, and which of its lines to use.
    std::string krakenHost = "localhost";
    uint16_t krakenPort = 8081;
    std::optional<double> dfFrequencyHz;  // the tracked frequency to follow; none: the first
    double dfArrayOffset = 0;  // degrees clockwise from the vehicle's nose to the array's reference
    bool operator==(const InputConfig&) const = default;
};

}  // namespace kestrel::instruments
