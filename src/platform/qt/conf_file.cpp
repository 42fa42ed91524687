#include "platform/qt/conf_file.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <vector>

#include "instruments/input_options.h"
#include "platform/qt/qt_platform.h"

namespace kestrel::qt {

namespace {

constexpr const char* kInstruments = "instruments";
constexpr const char* kDisplay = "display";
constexpr const char* kMap = "map";
constexpr const char* kEstimate = "estimate";

QString key(const char* group, const std::string& name) {
    return QString::fromLatin1(group) + u'/' + QString::fromStdString(name);
}

// A key's text; a value of another kind (a list) counts as damage and gives nothing.
std::optional<std::string> textOf(const QSettings& settings, const QString& name,
                                  std::vector<std::string>& problems) {
    const QVariant value = settings.value(name);
    if (!value.isValid()) {
        return std::nullopt;
    }
    if (value.typeId() != QMetaType::QString) {
        problems.push_back(name.section(u'/', 1).toStdString() + ": a list, not one value");
        return std::nullopt;
    }
    return value.toString().toStdString();
}

// Text an INI file can hold: no control characters but TAB, CR and LF. QSettings itself takes
// almost anything (a line of binary noise becomes a key), so a file of noise is caught here.
bool looksLikeText(const QString& file) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray bytes = in.readAll();
    return std::none_of(bytes.begin(), bytes.end(), [](char c) {
        return (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\r' && c != '\n') ||
               c == 0x7f;
    });
}

// Keys of the two groups that Kestrelmap does not know: typing errors, most likely.
void unknownKeys(QSettings& settings, const char* group, const QStringList& known,
                 std::vector<std::string>& problems) {
    settings.beginGroup(QString::fromLatin1(group));
    for (const QString& name : settings.childKeys()) {
        if (!known.contains(name)) {
            problems.push_back(name.toStdString() + ": not a setting of [" + group + "]");
        }
    }
    settings.endGroup();
}

// [map] port, online_tiles, online_attribution, share, address, certificate, private_key; what
// cannot be used keeps its default.
live_map::MapSettings readMapSettings(const QSettings& settings,
                                      std::vector<std::string>& problems) {
    live_map::MapSettings map;
    if (const auto port = textOf(settings, key(kMap, "port"), problems)) {
        const std::optional<int> value = live_map::parsePort(*port);
        if (!value) {
            problems.push_back("port = \"" + *port + "\": expected 0 (off) to 65535");
        }
        map.port = value.value_or(live_map::kDefaultPort);
    }
    if (const auto tiles = textOf(settings, key(kMap, "online_tiles"), problems)) {
        if (live_map::isTileTemplate(*tiles)) {
            if (*tiles != map.onlineTiles) {
                map.onlineAttribution.clear();  // another server's words, if it gives them
            }
            map.onlineTiles = *tiles;
        } else {
            problems.push_back("online_tiles = \"" + *tiles +
                               "\": expected an http or https address with {z}, {x} and {y}");
        }
    }
    if (const auto words = textOf(settings, key(kMap, "online_attribution"), problems)) {
        map.onlineAttribution = *words;
    }
    if (const auto share = textOf(settings, key(kMap, "share"), problems)) {
        const std::optional<bool> flag = instruments::parseFlag(*share);
        if (!flag) {
            problems.push_back("share = \"" + *share + "\": expected true or false");
        }
        map.share = flag.value_or(false);
    }
    if (const auto address = textOf(settings, key(kMap, "address"), problems)) {
        if (live_map::isShareAddress(*address)) {
            map.address = *address;
        } else {
            problems.push_back("address = \"" + *address +
                               "\": expected one of this computer's IP addresses");
        }
    }
    for (auto [name, file] :
         {std::pair{"certificate", &map.certificate}, std::pair{"private_key", &map.privateKey}}) {
        if (const auto path = textOf(settings, key(kMap, name), problems)) {
            *file = *path;
        }
    }
    return map;
}

// [estimate] max_turn_rate, min_confidence; what cannot be used keeps its default.
estimate::Gates readGates(const QSettings& settings, std::vector<std::string>& problems) {
    estimate::Gates gates;
    if (const auto text = textOf(settings, key(kEstimate, "max_turn_rate"), problems)) {
        const std::optional<double> value = estimate::maxTurnRateFromText(*text);
        if (!value) {
            problems.push_back("max_turn_rate = \"" + *text +
                               "\": expected degrees per second, 0 (off) or more");
        }
        gates.maxTurnRateDegPerS = value.value_or(estimate::kDefaultMaxTurnRateDegPerS);
    }
    if (const auto text = textOf(settings, key(kEstimate, "min_confidence"), problems)) {
        const std::optional<double> value = estimate::minConfidenceFromText(*text);
        if (!value) {
            problems.push_back("min_confidence = \"" + *text + "\": expected 0 (off) to 99");
        }
        gates.minConfidence = value.value_or(estimate::kDefaultMinConfidence);
    }
    return gates;
}

}  // namespace

std::string confPath(const std::string& folder) {
    return folder + "Kestrelmap.conf";
}

ConfRead readConfFile(const std::string& path) {
    ConfRead read;
    const QString file = toQString(path);
    if (!QFileInfo(file).isFile()) {
        return read;  // missing: the defaults, quietly
    }
    QSettings settings(file, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError || !looksLikeText(file)) {
        read.problem =
            "Kestrelmap cannot use its file " + path +
            (settings.status() == QSettings::AccessError ? " (it cannot be read)"
                                                         : " (it is not a well-formed INI file)") +
            ".\nThe instruments stay on the one serial line at 4800 baud.";
        return read;
    }
    std::vector<std::string> problems;
    QStringList known;
    for (const instruments::SettingText& setting : instruments::instrumentSettings({})) {
        known << QString::fromStdString(setting.key);
    }
    unknownKeys(settings, kInstruments, known, problems);
    unknownKeys(settings, kDisplay, {QStringLiteral("night")}, problems);
    unknownKeys(
        settings, kMap,
        {QStringLiteral("port"), QStringLiteral("online_tiles"),
         QStringLiteral("online_attribution"), QStringLiteral("share"), QStringLiteral("address"),
         QStringLiteral("certificate"), QStringLiteral("private_key")},
        problems);
    unknownKeys(settings, kEstimate,
                {QStringLiteral("max_turn_rate"), QStringLiteral("min_confidence")}, problems);
    read.settings.map = readMapSettings(settings, problems);
    read.settings.estimate = readGates(settings, problems);
    read.settings.instruments = instruments::readInstrumentSettings(
        [&](const std::string& name) {
            return textOf(settings, key(kInstruments, name), problems);
        },
        problems);
    if (const auto night = textOf(settings, key(kDisplay, "night"), problems)) {
        const std::optional<bool> flag = instruments::parseFlag(*night);
        if (!flag) {
            problems.push_back("night = \"" + *night + "\": expected true or false");
        }
        read.settings.night = flag.value_or(false);
    }
    if (!problems.empty()) {
        read.problem = "Kestrelmap found values it cannot use in " + path +
                       "; the defaults stand in for them:";
        for (const std::string& problem : problems) {
            read.problem += "\n" + problem;
        }
    }
    return read;
}

bool writeConfFile(const std::string& path, const ConfSettings& settings, std::string& error) {
    const QString file = toQString(path);
    if (!QFileInfo(QFileInfo(file).absolutePath()).isDir()) {
        error = "the folder does not exist";
        return false;
    }
    if (QSettings(file, QSettings::IniFormat).status() == QSettings::FormatError) {
        QFile::remove(file);  // what could not be parsed is not carried over: start afresh
    }
    QSettings conf(file, QSettings::IniFormat);
    for (const instruments::SettingText& setting :
         instruments::instrumentSettings(settings.instruments)) {
        conf.setValue(key(kInstruments, setting.key), QString::fromStdString(setting.value));
    }
    conf.setValue(key(kDisplay, "night"),
                  settings.night ? QStringLiteral("true") : QStringLiteral("false"));
    conf.sync();
    if (conf.status() != QSettings::NoError) {
        error = "it cannot be written";
        return false;
    }
    return true;
}

}  // namespace kestrel::qt
