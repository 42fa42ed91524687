#include "platform/qt/serial_port_qt.h"

#include <QFileInfo>
#include <QtGlobal>

#include "platform/qt/diagnostics.h"

namespace kestrel::qt {

namespace {
constexpr int kRetryIntervalMs = 1000;
}

QtSerialPort::QtSerialPort(std::string folder, QObject* parent)
    : QObject(parent), m_folder(std::move(folder)) {
    m_retry.setInterval(kRetryIntervalMs);
    connect(&m_port, &QSerialPort::readyRead, this, &QtSerialPort::portEvent);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialPort::onError);
    connect(&m_retry, &QTimer::timeout, this, &QtSerialPort::retryOpen);
}

QtSerialPort::~QtSerialPort() {
    // No signal may reach the shell while the members are being torn down.
    m_port.disconnect(this);
    m_retry.stop();
    m_port.close();
}

void QtSerialPort::setPortNumber(int16_t number) {
    m_number = number;
}

QFileInfo QtSerialPort::folderEntry(int number) const {
    return QFileInfo(QString::fromLocal8Bit(m_folder.data(), qsizetype(m_folder.size())) +
                     QStringLiteral("COM%1").arg(number));
}

bool QtSerialPort::hasFolderEntry(int number) const {
    const QFileInfo entry = folderEntry(number);
    return entry.exists() || entry.isSymLink();
}

QString QtSerialPort::devicePath(int number) const {
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(number);
#else
    const QFileInfo entry = folderEntry(number);
    if (entry.exists()) {
        return entry.canonicalFilePath();  // through every link, to the device itself
    }
    if (entry.isSymLink()) {
        // A dangling link: its device is gone, and stays the device asked for (its open
        // fails) rather than some other port's.
        return entry.symLinkTarget();
    }
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
}

bool QtSerialPort::openDevice() {
    if (m_number < 1) {
        return false;  // no device is named by a port number below 1
    }
    m_port.setPortName(devicePath(m_number));
    if (!m_port.open(QIODevice::ReadWrite)) {
        qCInfo(lcInput).noquote() << QStringLiteral("COM%1 (%2) could not be opened: %3")
                                         .arg(m_number)
                                         .arg(m_port.portName(), m_port.errorString());
        return false;
    }
    m_openedViaEntry = hasFolderEntry(m_number);
    const bool configured =
        m_port.setBaudRate(QSerialPort::Baud4800) && m_port.setDataBits(QSerialPort::Data8) &&
        m_port.setParity(QSerialPort::NoParity) && m_port.setStopBits(QSerialPort::OneStop) &&
        m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        qCInfo(lcInput).noquote() << QStringLiteral("COM%1 (%2) refused 4800 8N1: %3")
                                         .arg(m_number)
                                         .arg(m_port.portName(), m_port.errorString());
        m_port.close();
        return false;
    }
    qCInfo(lcInput).noquote()
        << QStringLiteral("COM%1 opened (%2)").arg(m_number).arg(m_port.portName());
    return true;
}

bool QtSerialPort::open() {
    if (m_port.isOpen()) {
        m_wanted = true;
        return true;
    }
    m_retry.stop();
    m_wanted = openDevice();
    return m_wanted;
}

void QtSerialPort::close() {
    if (m_wanted) {
        qCInfo(lcInput).noquote() << QStringLiteral("COM%1 closed").arg(m_number);
    }
    m_wanted = false;
    m_retry.stop();
    m_port.close();
}

std::string QtSerialPort::readAll() {
    if (!m_port.isOpen()) {
        return {};
    }
    const QByteArray bytes = m_port.readAll();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

void QtSerialPort::onError(QSerialPort::SerialPortError error) {
    if (error == QSerialPort::NoError || !m_port.isOpen()) {
        return;  // failures of open() are reported by its result
    }
    if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError) {
        // The device has gone. Left open, Qt repeats this error as fast as it can on the dead
        // descriptor; closed, the program waits quietly and looks again once a second.
        qCInfo(lcInput).noquote() << QStringLiteral(
                                         "COM%1 lost (%2); looking for it again once a second")
                                         .arg(m_number)
                                         .arg(m_port.errorString());
        m_port.close();
        if (m_wanted) {
            m_retry.start();
        }
    } else {
        m_port.clearError();
    }
    emit portEvent();
}

void QtSerialPort::retryOpen() {
    if (!m_wanted) {
        m_retry.stop();
        return;
    }
    // A device reached through <folder>/COMn comes back through that entry; while the entry
    // is missing (the simulator or a udev rule has not put it back yet) the fallback device
    // /dev/ttyS<n-1> is not the one that went away, so it is not tried.
    if (m_openedViaEntry && !hasFolderEntry(m_number)) {
        return;
    }
    if (openDevice()) {
        qCInfo(lcInput).noquote()
            << QStringLiteral("COM%1 reopened (%2)").arg(m_number).arg(m_port.portName());
        m_retry.stop();
        emit portEvent();
    }
}

}  // namespace kestrel::qt
