#pragma once
// The trial of a serial port and the captions of the options window's port button, shared by
// start-up and the port button.

#include <string>

#include "platform/platform.h"

namespace kestrel {

// "COM PORT 3 : FREE" or "COM PORT 3 : BUSY".
std::string portCaption(int number, bool free);

// Opens the port and closes it again at once. When opening fails the port is closed if it is
// open. True when it could be opened.
bool tryPort(SerialPort& port);

}  // namespace kestrel
