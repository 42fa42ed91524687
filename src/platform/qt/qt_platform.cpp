#include "platform/qt/qt_platform.h"

#include <QApplication>
#include <QColorDialog>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <cerrno>

#include "platform/qt/diagnostics.h"

namespace kestrel::qt {

std::string kestrelmapFolder() {
#ifdef Q_OS_WIN
    return "c:\\Kestrelmap\\";
#else
    return QFile::encodeName(QDir::homePath()).toStdString() + "/Kestrelmap/";
#endif
}

QString toQString(const std::string& text) {
    return QFile::decodeName(QByteArray(text.data(), qsizetype(text.size())));
}

std::optional<std::string> QtTextFiles::read(const std::string& path) {
    QFile file(toQString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return std::nullopt;
    }
    return std::string(bytes.constData(), size_t(bytes.size()));
}

bool QtTextFiles::write(const std::string& path, std::string_view content, std::string& error) {
    if (!writeFile(path, content, error)) {
        qCInfo(lcFiles).noquote() << QStringLiteral("cannot write %1: %2")
                                         .arg(toQString(path), QString::fromStdString(error));
        return false;
    }
    return true;
}

bool QtTextFiles::writeFile(const std::string& path, std::string_view content, std::string& error) {
    QSaveFile file(toQString(path));
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString().toStdString();
        return false;
    }
    if (file.write(content.data(), qint64(content.size())) != qint64(content.size())) {
        error = file.errorString().toStdString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString().toStdString();
        return false;
    }
    return true;
}

bool QtTextFiles::append(const std::string& path, std::string_view text, std::string& error) {
    QFile file(toQString(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        error = file.errorString().toStdString();
        return false;
    }
    const qint64 oldSize = file.size();
    if (file.write(text.data(), qint64(text.size())) != qint64(text.size()) || !file.flush()) {
        error = file.errorString().toStdString();
        file.resize(oldSize);  // no half line for the next append to follow
        return false;
    }
    return true;
}

bool QtTextFiles::folderExists(const std::string& path) {
    return QFileInfo(toQString(path)).isDir();
}

bool QtTextFiles::makeFolder(const std::string& path, std::string& error) {
    const QString folder = QDir::cleanPath(toQString(path));
    if (QDir().mkdir(folder)) {
        qCInfo(lcFiles).noquote() << QStringLiteral("made the folder %1").arg(folder);
        return true;
    }
    const int mkdirErrno = errno;
    const QFileInfo info(folder);
    if (info.isDir()) {
        return true;  // made meanwhile by someone else
    }
    if (info.exists() || info.isSymLink()) {
        error = "a file of that name is in the way";
    } else if (!info.dir().exists()) {
        error = "its parent folder does not exist";
    } else {
        error = qt_error_string(mkdirErrno).toStdString();
    }
    qCInfo(lcFiles).noquote() << QStringLiteral("cannot make the folder %1: %2")
                                     .arg(folder, QString::fromStdString(error));
    return false;
}

kestrel::MessageResult QtMessageBox::show(const std::string& text, const std::string& title,
                                          kestrel::MessageButtons buttons, bool cancelIsDefault) {
    if (beforeModal) {
        beforeModal();
    }
    QMessageBox box(QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowTitle(QString::fromStdString(title));
    box.setText(QString::fromStdString(text));
    box.setTextFormat(Qt::PlainText);
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    QPushButton* cancel = nullptr;
    if (buttons == kestrel::MessageButtons::OkCancel) {
        cancel = box.addButton(QMessageBox::Cancel);
        box.setEscapeButton(cancel);
        box.setDefaultButton(cancelIsDefault ? cancel : ok);
    } else {
        box.setEscapeButton(ok);
        box.setDefaultButton(ok);
    }
    box.exec();
    // Closing the box any other way (the window's close button) counts as its escape button.
    if (cancel != nullptr && box.clickedButton() != ok) {
        return kestrel::MessageResult::Cancel;
    }
    return kestrel::MessageResult::Ok;
}

int32_t QtColourPicker::pick(int32_t startRgb, int /*flags*/) {
    if (beforeModal) {
        beforeModal();
    }
    const QColor start(startRgb & 0xff, (startRgb >> 8) & 0xff, (startRgb >> 16) & 0xff);
    const QColor chosen = QColorDialog::getColor(start, QApplication::activeWindow());
    if (!chosen.isValid()) {
        return startRgb;  // cancelled
    }
    return int32_t(chosen.red()) | (int32_t(chosen.green()) << 8) | (int32_t(chosen.blue()) << 16);
}

void QtBeeper::beep() {
    QApplication::beep();
}

kestrel::LocalTime QtClock::now() {
    const QDateTime local = QDateTime::currentDateTime();
    const QDate date = local.date();
    const QTime time = local.time();
    return {date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second()};
}

int64_t QtClock::utcMilliseconds() {
    return QDateTime::currentMSecsSinceEpoch();
}

QtPlatform::QtPlatform(std::string kestrelFolder)
    : folder(std::move(kestrelFolder)), serial(folder) {}

void QtPlatform::setBeforeModal(const std::function<void()>& hook) {
    messages.beforeModal = hook;
    colourPicker.beforeModal = hook;
}

kestrel::Platform QtPlatform::platform() {
    return {serial, messages, colourPicker, beeper, clock, files};
}

}  // namespace kestrel::qt
