#include "platform/qt/program.h"

#include <QDir>
#include <QSettings>

namespace kestrel::qt {

namespace {
const QString kNightKey = QStringLiteral("display/night");

QString confPath(const std::string& folder) {
    return toQString(folder) + QStringLiteral("Kestrelmap.conf");
}
}  // namespace

bool readNightChoice(const std::string& folder) {
    const QSettings conf(confPath(folder), QSettings::IniFormat);
    return conf.value(kNightKey).toString().trimmed().compare(u"true", Qt::CaseInsensitive) == 0;
}

void writeNightChoice(const std::string& folder, bool night) {
    if (!QDir(toQString(folder)).exists()) {
        return;  // QSettings would make the folder
    }
    QSettings conf(confPath(folder), QSettings::IniFormat);
    conf.setValue(kNightKey, night);
    conf.sync();
    if (conf.status() != QSettings::NoError) {
        qCInfo(lcFiles).noquote() << "the night panel's choice was not kept in" << confPath(folder);
    }
}

Program::Program(std::string folder)
    : m_platform(std::move(folder)),
      m_facilities(m_platform.platform()),
      m_form(m_facilities, m_platform.folder),
      m_window(m_form) {
    // A dialog runs a nested event loop in which timers and the serial line go on: the widgets
    // are brought up to date first, so the operator never sees a stale panel behind it.
    m_platform.setBeforeModal([this]() { m_window.syncAll(); });
    m_window.watchSerial(m_platform.serial);
    m_form.addObserver(m_huntLog);
}

void Program::start() {
    m_form.Form_Load();
    m_form.OptionsForm.setNightPanel(readNightChoice(m_platform.folder));
    m_form.OptionsForm.nightPanelChanged = [folder = m_platform.folder](bool night) {
        writeNightChoice(folder, night);
    };
    m_window.start();
}

}  // namespace kestrel::qt
