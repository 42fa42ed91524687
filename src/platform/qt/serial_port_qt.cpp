#include "platform/qt/serial_port_qt.h"

#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include "platform/qt/diagnostics.h"

namespace kestrel::qt {

namespace {
constexpr int kRetryIntervalMs = 1000;

// The reason an open failed, in words that say what to do about it.
QString failureText(QSerialPort::SerialPortError error, const QString& qtText) {
    switch (error) {
        case QSerialPort::PermissionError:
#ifdef Q_OS_LINUX
            return QStringLiteral("permission denied: add yourself to the group dialout");
#else
            return QStringLiteral("permission denied");
#endif
        case QSerialPort::DeviceNotFoundError:
            return QStringLiteral("no such device");
        case QSerialPort::OpenError:
            return QStringLiteral("already open");
        case QSerialPort::UnsupportedOperationError:
            return QStringLiteral("not a serial port");
        default:
            return qtText.toLower();
    }
}

// Something other than a terminal device (a plain file, a folder) is refused before Qt tries
// it; a character device that is not a terminal fails in Qt's open.
bool isCharacterDevice(const QString& path) {
#ifdef Q_OS_UNIX
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) != 0 || S_ISCHR(info.st_mode);
#else
    Q_UNUSED(path);
    return true;
#endif
}
}  // namespace

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

void QtSerialPort::setBaudRate(int baud) {
    m_baud = baud;
    if (m_port.isOpen()) {
        m_port.setBaudRate(m_baud);
    }
}

void QtSerialPort::setDevice(const QString& path) {
    m_device = path;
    m_ownDevice = true;
}

QString QtSerialPort::devicePath(int number) const {
    if (m_ownDevice) {
        return m_device;
    }
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

QString QtSerialPort::logName() const {
    return m_ownDevice ? m_device : QStringLiteral("COM%1").arg(m_number);
}

bool QtSerialPort::openDevice() {
    if (!m_ownDevice && m_number < 1) {
        m_openFailure = QStringLiteral("no such port");
        return false;  // no device is named by a port number below 1
    }
    const QString path = devicePath(m_number);
    if (path.isEmpty()) {
        m_openFailure = QStringLiteral("no device chosen");
        return false;
    }
    if (m_baud <= 0) {
        m_openFailure = QStringLiteral("no such rate: %1 baud").arg(m_baud);
        return false;
    }
    if (!isCharacterDevice(path)) {
        m_openFailure = QStringLiteral("not a serial port");
        return false;
    }
    m_port.setPortName(path);
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_openFailure = failureText(m_port.error(), m_port.errorString());
        return false;
    }
    m_openedViaEntry = !m_ownDevice && hasFolderEntry(m_number);
    const bool configured = m_port.setBaudRate(m_baud) && m_port.setDataBits(QSerialPort::Data8) &&
                            m_port.setParity(QSerialPort::NoParity) &&
                            m_port.setStopBits(QSerialPort::OneStop) &&
                            m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        m_openFailure = QStringLiteral("cannot set %1 baud, 8N1: ").arg(m_baud) +
                        failureText(m_port.error(), m_port.errorString());
        m_port.close();
        return false;
    }
    m_openFailure.clear();
    return true;
}

bool QtSerialPort::open() {
    if (m_port.isOpen()) {
        m_wanted = true;
        return true;
    }
    m_retry.stop();
    m_wanted = openDevice();
    if (m_wanted) {
        qCInfo(lcInput).noquote() << QStringLiteral("%1 opened (%2, %3 baud)")
                                         .arg(logName(), m_port.portName())
                                         .arg(m_baud);
    } else {
        qCInfo(lcInput).noquote()
            << QStringLiteral("%1 could not be opened: %2").arg(logName(), m_openFailure);
    }
    return m_wanted;
}

void QtSerialPort::close() {
    if (m_wanted) {
        qCInfo(lcInput).noquote() << QStringLiteral("%1 closed").arg(logName());
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
                                         "%1 lost (%2); looking for it again once a second")
                                         .arg(logName(), m_port.errorString());
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
            << QStringLiteral("%1 reopened (%2)").arg(logName(), m_port.portName());
        m_retry.stop();
        emit portEvent();
    }
}

}  // namespace kestrel::qt
