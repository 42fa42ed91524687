#pragma once
// The serial ports that exist now, as the operator should see them: the device, what the
// driver calls it, its serial number, and its name under /dev/serial/by-id/, which stays the
// same when a USB adapter is plugged in again and gets another number.

#include <QString>
#include <QStringList>
#include <vector>

namespace kestrel::qt {

struct SerialPortEntry {
    QString device;        // /dev/ttyUSB0
    QString description;   // may be empty
    QString serialNumber;  // may be empty
    QString byId;          // /dev/serial/by-id/usb-...; empty when there is none
    // The name to keep in the settings: the by-id one where there is one.
    QString lastingName() const { return byId.isEmpty() ? device : byId; }
};

// Every port QSerialPortInfo finds, by device name, each with the entry of `byIdFolder` that
// links to it.
std::vector<SerialPortEntry> serialPorts(
    const QString& byIdFolder = QStringLiteral("/dev/serial/by-id"));

// The port's device, then its description and serial number where it has them, the serial
// number after `serialLabel` ("serial number A1B2C3").
QStringList portParts(const SerialPortEntry& port, const QString& serialLabel);

// One line a port ("/dev/ttyUSB0  FT232R USB UART  serial A1B2C3  /dev/serial/by-id/..."), or
// a line saying there is none.
QString serialPortsText(const std::vector<SerialPortEntry>& ports);

}  // namespace kestrel::qt
