// The panel's latency with the live map serving: the real program (the Qt platform, the core,
// both windows and the live map, offscreen) against a pseudo-terminal linked as COM1, timed as
// tests/soak/app_latency.cpp times it (the last byte of an RMC sentence on the pty to the
// digit of the hundredths of a minute shown and painted), first with no client of the map,
// then while kestrel_map_load's clients load tiles and documents as fast as they can. The map
// server runs on the same user-interface thread, so every request it answers is time the
// panel waits.
//
//   QT_QPA_PLATFORM=offscreen kestrel_map_latency --load=PATH/kestrel_map_load
//       --mbtiles=FILE [--sentences=300] [--clients=8]

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "free_port.h"
#include "soak/panel_probe.h"

namespace {

using namespace kestrel;

std::string argument(int argc, char** argv, const char* name, const char* fallback) {
    const size_t n = std::strlen(name);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], name, n) == 0) {
            return argv[i] + n;
        }
    }
    return fallback;
}

struct Figures {
    std::vector<double> micros;
    double at(int percent) const { return micros[micros.size() * size_t(percent) / 100]; }
};

// `count` sentences through the panel; false when one never reached the widget.
bool measure(test::Pty& pty, const qt::GlyphView& digit, int count, int& sentence, Figures& out) {
    if (!test::timeSentences(pty, digit, count, sentence, out.micros)) {
        std::fprintf(stderr, "map_latency: sentence %d never reached the widget\n", sentence);
        return false;
    }
    return true;
}

void print(const char* what, const Figures& f) {
    std::printf(
        "map_latency: %s: %zu sentences, last byte on the pty to the digit shown: median %.0f us, "
        "p95 %.0f us, p99 %.0f us, max %.0f us\n",
        what, f.micros.size(), f.at(50), f.at(95), f.at(99), f.micros.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int sentences = std::atoi(argument(argc, argv, "--sentences=", "300").c_str());
    const std::string clients = argument(argc, argv, "--clients=", "8");
    const QString loadTool = QString::fromStdString(argument(argc, argv, "--load=", ""));
    const std::string mbtiles = argument(argc, argv, "--mbtiles=", "");
    if (loadTool.isEmpty() || mbtiles.empty() || sentences < 10 || sentences > 5000) {
        std::fprintf(stderr, "map_latency: --load=PATH and --mbtiles=FILE needed\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir home;
    if (!home.isValid() || !QDir(home.path()).mkpath("Kestrelmap/maps")) {
        std::fprintf(stderr, "map_latency: no temporary folder\n");
        return 1;
    }
    qputenv("HOME", home.path().toLocal8Bit());
    const std::string folder = home.path().toStdString() + "/Kestrelmap/";
    std::error_code ec;
    std::filesystem::create_symlink(std::filesystem::absolute(mbtiles),
                                    folder + "maps/area.mbtiles", ec);
    test::Pty pty;
    if (ec || !pty.ok() || !test::linkPort(folder, 1, pty.slavePath())) {
        std::fprintf(stderr, "map_latency: no pseudo-terminal or base map\n");
        return 1;
    }
    QApplication app(argc, argv);
    const int port = test::freePort();
    qt::Program program(folder);
    program.setMapOverrides({.port = port});
    program.start();
    std::string problem;
    const qt::GlyphView* digit = test::onInstruments(program, problem);
    if (digit == nullptr || program.liveMap() == nullptr || !program.liveMap()->listening() ||
        program.liveMap()->tiles().layers().empty()) {
        std::fprintf(stderr, "map_latency: %s\n",
                     digit ? "live map or base map not as expected" : problem.c_str());
        return 1;
    }

    int sentence = 0;
    Figures quiet;
    if (!measure(pty, *digit, sentences, sentence, quiet)) {
        return 1;
    }
    print("no map clients", quiet);

    // The load runs a little longer than the sentences take; the event loop keeps serving it
    // until it ends by itself.
    QProcess load;
    load.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const int loadSeconds = 4 + sentences * 30 / 1000;
    load.start(loadTool,
               {QString("--port=%1").arg(port), QString::fromStdString("--clients=" + clients),
                QString("--seconds=%1").arg(loadSeconds), "--mix=all"});
    if (!load.waitForStarted(5000)) {
        std::fprintf(stderr, "map_latency: the load did not start\n");
        return 1;
    }
    test::spinFor(1000);  // the clients connect and reach their pace
    Figures loaded;
    const bool measured = measure(pty, *digit, sentences, sentence, loaded);
    QElapsedTimer guard;
    guard.start();
    while (load.state() != QProcess::NotRunning && guard.elapsed() < (loadSeconds + 10) * 1000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    if (load.state() != QProcess::NotRunning) {
        load.kill();
        load.waitForFinished(2000);
    }
    const QByteArray loadOutput = load.readAllStandardOutput().trimmed();
    if (!measured) {
        return 1;
    }
    print(("while " + clients + " map clients load").c_str(), loaded);
    std::printf("%s\n", loadOutput.constData());
    std::printf("map_latency: p95 with the clients / without: %.2f\n",
                loaded.at(95) / quiet.at(95));
    return 0;
}
