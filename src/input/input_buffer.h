#pragma once
// The receive state of an instrument input beside the COM line (a GPS or a direction finder on
// a port of its own, or gpsd): the same framing as the COM line's, on buffers of its own, so
// lines from two devices never mix.

#include <cstddef>
#include <string>

namespace kestrel {

struct InputBuffer {
    // What the input carries: RMC and heading sentences (a GPS) or bearing lines and "@PLOT"
    // (a direction finder). Other lines are ignored, as unknown lines are on the COM line.
    enum class Carries { Position, Bearing };

    InputBuffer(std::string inputName, Carries carried)
        : name(std::move(inputName)), carries(carried) {}

    // Forgets everything received so far (a device opened again after it was lost).
    void clear() {
        window.clear();
        pending.clear();
        taken = 0;
        line.clear();
    }

    std::string name;  // "GPS" or "DF", as announced with each line
    Carries carries;
    std::string window;     // the last 100 characters, as INBUFF is for the COM line
    std::string pending;    // received, not yet handed to the framing
    std::size_t taken = 0;  // characters of `pending` already handed over
    std::string line;       // the line being received, for the announcement
};

}  // namespace kestrel
