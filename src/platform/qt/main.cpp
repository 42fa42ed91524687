// Kestrelmap: the Qt application around the core. The command line is read before the window
// system is touched, so --help, --version and --list-ports need no display; see
// command_line.h. No environment variables but HOME (through the Kestrelmap folder).

#include <QApplication>
#include <QLoggingCategory>
#include <cstdio>

#include "platform/qt/command_line.h"
#include "platform/qt/conf_file.h"
#include "platform/qt/diagnostics.h"
#include "platform/qt/live_map/map_sharing.h"
#include "platform/qt/program.h"

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(QStringLiteral("kestrelmap"));
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const kestrel::qt::CommandLineOutcome command = kestrel::qt::readCommandLine(arguments);
    std::fputs(command.out.toLocal8Bit().constData(), stdout);
    if (!command.error.isEmpty()) {
        std::fprintf(stderr, "%s\n", command.error.toLocal8Bit().constData());
    }
    if (!command.run) {
        return command.exitCode;
    }
    if (command.map.printLink) {
        // No window system: the link for a terminal, from Kestrelmap.conf and map.key.
        QCoreApplication app(argc, argv);
        const std::string folder = kestrel::qt::kestrelmapFolder();
        kestrel::live_map::MapSettings settings =
            kestrel::qt::readConfFile(kestrel::qt::confPath(folder)).settings.map;
        settings.share = settings.share || command.map.share;
        const kestrel::qt::LinkOutcome link =
            kestrel::qt::mapLinkText(folder, settings, command.map.port.value_or(settings.port));
        std::fputs(link.out.toLocal8Bit().constData(), stdout);
        if (!link.error.isEmpty()) {
            std::fprintf(stderr, "%s\n", link.error.toLocal8Bit().constData());
        }
        return link.exitCode;
    }
    if (command.options.verbose) {
        QLoggingCategory::setFilterRules(QStringLiteral("kestrel.*=true"));
    }

    QApplication app(argc, argv);
    kestrel::qt::installDiagnostics();
    // The program ends when the core has unloaded, not when a window happens to close.
    QApplication::setQuitOnLastWindowClosed(false);
    kestrel::qt::Program program(kestrel::qt::kestrelmapFolder(), command.options);
    program.setTeamOverrides(command.team);
    program.setMapOverrides(command.map);
    QObject::connect(&program.window(), &kestrel::qt::MainWindow::unloaded, &app,
                     []() { QCoreApplication::exit(0); });
    program.start();
    return QApplication::exec();
}
