#include "platform/qt/command_line.h"

#include <QCommandLineParser>

#include "live_map/map_settings.h"
#include "platform/qt/serial_ports.h"

namespace kestrel::qt {

namespace {

constexpr const char* kDescription =
    "Finds a hidden radio transmitter from a vehicle: the GPS position and the direction\n"
    "finder's bearing on a panel of large digits, each plot drawn into a KML map.\n"
    "\n"
    "Without options the GPS and the direction finder share one serial line (COM1 at 4800\n"
    "baud), or whatever the instruments window saved in ~/Kestrelmap/Kestrelmap.conf.\n"
    "The options below change that for this run only.\n"
    "\n"
    "SOURCE for --gps: line | gpsd[:HOST[:PORT]] | serial:DEVICE[@BAUD]\n"
    "SOURCE for --df:  line | serial:DEVICE[@BAUD] | kraken:HOST[:PORT]\n"
    "BAUD: 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600\n"
    "Examples: --gps gpsd   --gps serial:/dev/ttyACM0@9600   --df serial:/dev/ttyUSB0";

// Options QApplication takes for itself; they pass through with their values.
const QStringList kQtValueOptions = {"platform",      "display",     "geometry",
                                     "style",         "stylesheet",  "qwindowgeometry",
                                     "qwindowtitle",  "qwindowicon", "platformpluginpath",
                                     "platformtheme", "plugin",      "session"};
const QStringList kQtFlags = {"reverse", "nograb", "dograb", "sync"};

}  // namespace

CommandLineOutcome readCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help({"h", "help"}, "Show this text and end.");
    const QCommandLineOption version({"v", "version"}, "Show the version and end.");
    const QCommandLineOption listPorts("list-ports",
                                       "List the serial ports that exist (device, description, "
                                       "serial number, /dev/serial/by-id/ name) and end.");
    const QCommandLineOption gps("gps", "Where the GPS comes from, for this run.", "SOURCE");
    const QCommandLineOption df("df", "Where the direction finder comes from, for this run.",
                                "SOURCE");
    const QCommandLineOption baud("baud", "Baud rate of the shared serial line, for this run.",
                                  "BAUD");
    const QCommandLineOption verbose("verbose", "Log what the inputs do to standard error.");
    const QCommandLineOption team("team", "Hunt as a member of this team, for this run.", "NAME");
    const QCommandLineOption vehicle("vehicle", "This vehicle's name in the team, for this run.",
                                     "NAME");
    const QCommandLineOption hunt("hunt", "The team's hunt (default: today's UTC date).", "NAME");
    const QCommandLineOption broker("broker", "The team's MQTT broker, for this run.",
                                    "HOST[:PORT]");
    const QCommandLineOption mapPort(
        "map-port", "The live map's port on this computer, for this run (0: no live map).", "N");
    const QCommandLineOption openMap("open-map", "Open the live map in the web browser at start.");
    const QCommandLineOption mapShare(
        "map-share", "Share the live map on this computer's network addresses, for this run.");
    const QCommandLineOption mapLink("map-link",
                                     "Print the shared live map's link (with its key) and end.");
    parser.addOptions({help, version, listPorts, gps, df, baud, verbose, team, vehicle, hunt,
                       broker, mapPort, openMap, mapShare, mapLink});
    for (const QString& name : kQtValueOptions) {
        QCommandLineOption option(name, QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const QString& name : kQtFlags) {
        QCommandLineOption option(name);
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    CommandLineOutcome outcome;
    const auto refuse = [&](const QString& why) {
        outcome.run = false;
        outcome.exitCode = 2;
        outcome.error = QStringLiteral("kestrelmap: ") + why + QStringLiteral(" (see --help)");
        return outcome;
    };
    if (!parser.parse(arguments)) {
        QString why = parser.errorText();
        if (why.endsWith(u'.')) {
            why.chop(1);
        }
        return refuse(why);
    }
    if (!parser.positionalArguments().isEmpty()) {
        return refuse(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
    }
    if (parser.isSet(help)) {
        outcome.run = false;
        // Read before any application object exists, the parser does not know the name.
        outcome.out = parser.helpText().replace(QStringLiteral("<executable_name>"),
                                                QStringLiteral("kestrelmap"));
        return outcome;
    }
    if (parser.isSet(version)) {
        outcome.run = false;
        outcome.out = QStringLiteral("kestrelmap " KESTREL_VERSION "\n");
        return outcome;
    }
    if (parser.isSet(listPorts)) {
        outcome.run = false;
        outcome.out = serialPortsText(serialPorts());
        return outcome;
    }
    for (const QCommandLineOption* option : {&gps, &df, &baud}) {
        const QString name = option->names().first();
        if (!parser.isSet(*option)) {
            continue;
        }
        // The last one given counts, as with most programs.
        const std::string value = parser.values(*option).last().toStdString();
        if (const auto error =
                instruments::setRunOption(outcome.options, name.toStdString(), value)) {
            return refuse(QString::fromStdString(*error));
        }
    }
    outcome.options.verbose = parser.isSet(verbose);
    // The team's names become topic levels and file names; the password never comes from here.
    const std::pair<const QCommandLineOption*, std::optional<std::string>*> teamOptions[] = {
        {&team, &outcome.team.team},
        {&vehicle, &outcome.team.vehicle},
        {&hunt, &outcome.team.hunt},
        {&broker, &outcome.team.broker}};
    for (const auto& [option, value] : teamOptions) {
        if (!parser.isSet(*option)) {
            continue;
        }
        *value = parser.values(*option).last().toStdString();
        const QString name = option->names().first();
        if (option != &broker && !team::isSafeName(**value)) {
            return refuse(QStringLiteral("--%1 takes a name of 1 to 64 characters without "
                                         "\"+\", \"#\" or \"/\"")
                              .arg(name));
        }
    }
    if (parser.isSet(mapPort)) {
        outcome.map.port = live_map::parsePort(parser.values(mapPort).last().toStdString());
        if (!outcome.map.port) {
            return refuse(QStringLiteral("--map-port takes a port from 0 (off) to 65535"));
        }
    }
    outcome.map.open = parser.isSet(openMap);
    outcome.map.share = parser.isSet(mapShare);
    outcome.map.printLink = parser.isSet(mapLink);
    if (outcome.team.broker) {
        if (!team::parseBrokerAddress(*outcome.team.broker)) {
            return refuse(QStringLiteral("--broker takes HOST or HOST:PORT"));
        }
    }
    return outcome;
}

}  // namespace kestrel::qt
