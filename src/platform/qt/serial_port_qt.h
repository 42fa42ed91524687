#pragma once
// The instrument serial line through Qt SerialPort: port n is the device that <folder>/COMn
// names (the link's target), else /dev/ttyS<n-1>; COMn on Windows. 4800 baud unless another
// rate is set, 8N1, no flow control. An instrument on a port of its own uses the same class
// with a device path in place of the port number. It only moves bytes; what they mean is the
// core's business.
//
// A device that vanishes while open (USB cable pulled) is closed at once, and reopened once a
// second until it is back; meanwhile isOpen() stays true, because the core's "open" means "a
// source is on the instrument", and readAll() yields nothing.

#include <QFileInfo>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>
#include <string>

#include "platform/platform.h"

namespace kestrel::qt {

class QtSerialPort : public QObject, public kestrel::SerialPort {
    Q_OBJECT
  public:
    // `folder` is the Kestrelmap folder with its trailing separator (see kestrelmapFolder()).
    explicit QtSerialPort(std::string folder, QObject* parent = nullptr);
    ~QtSerialPort() override;

    void setPortNumber(int16_t number) override;
    int16_t portNumber() const override { return m_number; }
    bool open() override;   // false when the device cannot be opened
    void close() override;  // also ends any retrying
    bool isOpen() const override { return m_wanted; }
    std::string readAll() override;  // the waiting bytes, unchanged; empty while the device is gone

    // The line rate for the next open; an open port changes at once. 4800 by default.
    void setBaudRate(int baud);
    // An instrument's own device in place of the numbered port, from now on (an empty path
    // names no device: opening fails).
    void setDevice(const QString& path);
    // Why the last open failed, as the operator can act on it ("no such device").
    const QString& openFailure() const { return m_openFailure; }

    // The device path port `number` maps to right now (a link is followed to its target).
    QString devicePath(int number) const;
    // True while the port is wanted open but its device has gone and is being retried.
    bool deviceLost() const { return m_wanted && !m_port.isOpen(); }

  signals:
    // Bytes arrived, an error happened or the device went away: the shell runs the core's
    // serial handler. Never emitted in a busy loop.
    void portEvent();

  private:
    void onError(QSerialPort::SerialPortError error);
    // The port in the log: "COM1", or an instrument's own device path.
    QString logName() const;
    bool openDevice();
    void retryOpen();
    QFileInfo folderEntry(int number) const;
    bool hasFolderEntry(int number) const;

    std::string m_folder;
    int16_t m_number = 1;
    int m_baud = 4800;
    QString m_device;          // an instrument's own device (possibly none yet)
    bool m_ownDevice = false;  // m_device, never the numbered port
    QString m_openFailure;
    bool m_wanted = false;          // opened by the core and not yet closed by it
    bool m_openedViaEntry = false;  // the last open went through <folder>/COMn
    QSerialPort m_port;
    QTimer m_retry;  // once a second while the device is gone
};

}  // namespace kestrel::qt
