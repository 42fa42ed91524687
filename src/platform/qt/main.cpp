// Kestrelmap: the Qt application around the core. No command-line options of its own and no
// environment variables but HOME (through the Kestrelmap folder).

#include <QApplication>

#include "platform/qt/diagnostics.h"
#include "platform/qt/program.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    kestrel::qt::installDiagnostics();
    // The program ends when the core has unloaded, not when a window happens to close.
    QApplication::setQuitOnLastWindowClosed(false);
    kestrel::qt::Program program;
    QObject::connect(&program.window(), &kestrel::qt::MainWindow::unloaded, &app,
                     []() { QCoreApplication::exit(0); });
    program.start();
    return QApplication::exec();
}
