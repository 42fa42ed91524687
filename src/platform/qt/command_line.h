#pragma once
// kestrelmap's command line. It is read before any window system is touched, so --help,
// --version and --list-ports answer without a display. The values of --gps, --df and --baud
// are checked by the same readers as Kestrelmap.conf and apply to this run only.

#include <QString>
#include <QStringList>
#include <optional>

#include "instruments/input_options.h"
#include "team/team_config.h"

namespace kestrel::qt {

// The live map's options for this run.
struct MapOverrides {
    std::optional<int> port;  // --map-port: 0 switches the map server off
    bool open = false;        // --open-map: the map in the default browser at start
    bool share = false;       // --map-share: on the network addresses too
    bool printLink = false;   // --map-link: print the link for a phone and end
};

struct CommandLineOutcome {
    bool run = true;   // false: print and end with exitCode
    int exitCode = 0;  // 0 after --help, --version, --list-ports; 2 for a bad command line
    QString out;       // for standard output
    QString error;     // one line for standard error
    instruments::RunOptions options;
    team::TeamOverrides team;  // --team, --vehicle, --hunt, --broker
    MapOverrides map;          // --map-port, --open-map, --map-share, --map-link
};

// `arguments` with the program name first, as QCoreApplication::arguments() gives them. Qt's
// own window-system options (-platform, -display, ...) are let through for QApplication.
CommandLineOutcome readCommandLine(const QStringList& arguments);

}  // namespace kestrel::qt
