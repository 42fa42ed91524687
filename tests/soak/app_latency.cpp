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

#include "display/glyphs.h"
#include "platform/qt/control_widgets.h"
#include "platform/qt/program.h"
#include "qt/pty_helpers.h"
#include "soak/sentences.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

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

void spinFor(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
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
    spinFor(200);
    // The operator's clicks, through the window so the widgets follow.
    Form_Kestrelmap& f = program.form();
    auto* posit = program.window().findChild<qt::PanelButton*>("CmdButton_POSIT_SOURCE");
    auto* df = program.window().findChild<qt::PanelButton*>("CmdButton_DF_SOURCE");
    auto* digit = program.window().findChild<qt::GlyphView*>("Picture_LAT_MINX001");
    if (posit == nullptr || df == nullptr || digit == nullptr || !f.PORT_VALID) {
        std::fprintf(stderr, "latency: window or port not as expected\n");
        return 1;
    }
    posit->click();
    df->click();
    spinFor(100);
    if (!f.MSComm1.isOpen()) {
        std::fprintf(stderr, "latency: the port did not open\n");
        return 1;
    }

    test::Fix fix;
    std::vector<double> micros;
    for (int i = 0; i < sentences; ++i) {
        fix.latDeg = 34 + (25 + (i % 10) * 0.01 + 0.001) / 60;  // hundredths digit i % 10
        fix.second = i % 60;
        const std::string s = test::rmcSentence(fix);  // ends in CR LF
        const GlyphImage* want = &glyphImage(digitGlyph(i % 10));
        if (digit->image() == want) {
            continue;
        }
        pty.write(std::string_view(s).substr(0, s.size() - 2));
        spinFor(15);  // the sentence waits for its carriage return
        const auto start = SteadyClock::now();
        pty.write("\r\n");
        QElapsedTimer guard;
        guard.start();
        while (digit->image() != want && guard.elapsed() < 2000) {
            QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();  // the paint of the changed widgets
        const auto end = SteadyClock::now();
        if (digit->image() != want) {
            std::fprintf(stderr, "latency: sentence %d never reached the widget\n", i);
            return 1;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        spinFor(5);
    }
    std::sort(micros.begin(), micros.end());
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
            spinFor(1000);
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
