#include "platform/qt/serial_ports.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <algorithm>

namespace kestrel::qt {

std::vector<SerialPortEntry> serialPorts(const QString& byIdFolder) {
    // Each by-id entry is a link; what it resolves to is the device it names.
    std::vector<std::pair<QString, QString>> links;  // target, link
    const QDir folder(byIdFolder);
    for (const QFileInfo& link : folder.entryInfoList(QDir::System | QDir::Files, QDir::Name)) {
        const QString target = link.canonicalFilePath();
        if (!target.isEmpty()) {
            links.emplace_back(target, link.absoluteFilePath());
        }
    }
    std::vector<SerialPortEntry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SerialPortEntry entry;
        entry.device = info.systemLocation();
        entry.description = info.description();
        entry.serialNumber = info.serialNumber();
        const QString device = QFileInfo(entry.device).canonicalFilePath();
        for (const auto& [target, link] : links) {
            if (!device.isEmpty() && target == device) {
                entry.byId = link;
                break;
            }
        }
        ports.push_back(entry);
    }
    std::sort(ports.begin(), ports.end(), [](const SerialPortEntry& a, const SerialPortEntry& b) {
        return a.device < b.device;
    });
    return ports;
}

QStringList portParts(const SerialPortEntry& port, const QString& serialLabel) {
    QStringList parts{port.device};
    if (!port.description.isEmpty()) {
        parts << port.description;
    }
    if (!port.serialNumber.isEmpty()) {
        parts << serialLabel + port.serialNumber;
    }
    return parts;
}

QString serialPortsText(const std::vector<SerialPortEntry>& ports) {
    if (ports.empty()) {
        return QStringLiteral("No serial ports found.\n");
    }
    QString text;
    for (const SerialPortEntry& port : ports) {
        QStringList parts = portParts(port, QStringLiteral("serial "));
        if (!port.byId.isEmpty()) {
            parts << port.byId;
        }
        text += parts.join(QStringLiteral("  ")) + u'\n';
    }
    return text;
}

}  // namespace kestrel::qt
