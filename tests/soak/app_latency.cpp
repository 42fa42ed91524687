// Measures the real program's receive path end to end: a pseudo-terminal linked as COM1, the
// Qt serial port, the framing and the parser, and the widgets. For each RMC sentence the time
// runs from writing its last byte (the carriage return ends the sentence) until the widget of
// the hundredths of a minute holds the new digit and the window has been painted. Then, with
// --rss-minutes=N, it hunts on for N minutes with sentences at ten times the line rate and a
// remote plot every four seconds, and prints its resident memory.
//
//   QT_QPA_PLATFORM=offscreen build/tests/kestrel_latency [--sentences=N] [--rss-minutes=N]

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "soak/panel_probe.h"

namespace {

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

int argument(int argc, char** argv, const char* name, int fallback) {
    const size_t n = std::strlen(name);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], name, n) == 0) {
            return std::atoi(argv[i] + n);
        }
    }
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kestrel;
    const int sentences = argument(argc, argv, "--sentences=", 500);
    const int rssMinutes = argument(argc, argv, "--rss-minutes=", 0);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir home;
    if (!home.isValid() || !QDir(home.path()).mkdir("Kestrelmap")) {
        std::fprintf(stderr, "latency: no temporary folder\n");
        return 1;
    }
    qputenv("HOME", home.path().toLocal8Bit());
    const std::string folder = home.path().toStdString() + "/Kestrelmap/";
    test::Pty pty;
    if (!pty.ok() || !test::linkPort(folder, 1, pty.slavePath())) {
        std::fprintf(stderr, "latency: no pseudo-terminal\n");
        return 1;
    }
    QApplication app(argc, argv);
    qt::Program program(folder);
    program.setMapOverrides({.port = 0});
    program.start();
    Form_Kestrelmap& f = program.form();
    std::string problem;
    const qt::GlyphView* digit = test::onInstruments(program, problem);
    if (digit == nullptr) {
        std::fprintf(stderr, "latency: %s\n", problem.c_str());
        return 1;
    }
    test::Fix fix;
    std::vector<double> micros;
    int sentence = 0;
    if (!test::timeSentences(pty, *digit, sentences, sentence, micros)) {
        std::fprintf(stderr, "latency: sentence %d never reached the widget\n", sentence);
        return 1;
    }
    const auto at = [&micros](int percent) { return micros[micros.size() * percent / 100]; };
    std::printf(
        "latency: %zu sentences, last byte on the pty to the digit shown: median %.0f us,"
        " p90 %.0f us, p99 %.0f us, max %.0f us\n",
        micros.size(), at(50), at(90), at(99), micros.back());

    if (rssMinutes > 0) {
        // Ten seconds of the line each second, a remote plot every four seconds.
        QElapsedTimer run;
        run.start();
        long second = 0;
        while (run.elapsed() < rssMinutes * 60000LL) {
            for (int k = 0; k < 10; ++k, ++second) {
                fix.latDeg = 34.4 + static_cast<double>(second % 3000) * 1e-5;
                fix.second = static_cast<int>(second % 60);
                std::string block = test::rmcSentence(fix);
                for (int b = 0; b < 4; ++b) {
                    block += test::bearingLine(static_cast<int>((second * 7 + b) % 360));
                }
                if (second % 40 == 0) {
                    block += test::plotCommand();
                }
                pty.write(block);
            }
            test::spinFor(1000);
        }
        std::printf(
            "rss: after %d minutes of hunting (%ld simulated seconds, %d plots held): "
            "resident %ld KiB\n",
            rssMinutes, second, int(f.NUMBER_OF_PLOTS), residentKiB());
    } else {
        std::printf("rss: resident %ld KiB\n", residentKiB());
    }
    return 0;
}
