#include "platform/qt/team_settings_qt.h"

#include <QFile>
#include <QSettings>
#include <QStringList>

#include "platform/qt/qt_platform.h"

namespace kestrel::qt {

team::TeamKeys readTeamKeys(const std::string& confPath) {
    QSettings settings(toQString(confPath), QSettings::IniFormat);
    team::TeamKeys keys;
    settings.beginGroup("team");
    for (const QString& key : settings.childKeys()) {
        const QVariant value = settings.value(key);
        // An unquoted value with commas comes back as a list: it is the text as written.
        const QString text = value.typeId() == QMetaType::QStringList
                                 ? value.toStringList().join(QLatin1Char(','))
                                 : value.toString();
        keys[key.toStdString()] = text.toStdString();
    }
    settings.endGroup();
    return keys;
}

team::TeamConfigResult readTeamConfig(const std::string& folder,
                                      const team::TeamOverrides& overrides,
                                      int64_t utcMilliseconds) {
    return team::parseTeamConfig(
        team::withOverrides(readTeamKeys(folder + "Kestrelmap.conf"), overrides), folder,
        utcMilliseconds);
}

std::optional<std::string> readTeamPassword(const team::TeamConfig& config, std::string& error) {
    if (config.passwordFile.empty()) {
        return std::string();
    }
    QFile file(toQString(config.passwordFile));
    if (!file.open(QIODevice::ReadOnly)) {
        error = "the password file " + config.passwordFile + " cannot be read (" +
                file.errorString().toStdString() + ")";
        return std::nullopt;
    }
    const QByteArray text = file.read(4096);
    auto password = team::passwordFromFileText(std::string_view(text.constData(), text.size()));
    if (!password) {
        error = "the password file " + config.passwordFile + " is empty";
    }
    return password;
}

}  // namespace kestrel::qt
