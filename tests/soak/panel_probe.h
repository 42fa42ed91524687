#pragma once
// The real program's panel, timed: a started Program with a pseudo-terminal as COM1, GPS POS
// and DF BRG clicked through the window, and RMC sentences each timed from their carriage
// return to the digit of the hundredths of a minute shown and painted. Shared by the latency
// measurement of tests/soak and the live map's benchmark.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "display/glyphs.h"
#include "platform/qt/control_widgets.h"
#include "platform/qt/program.h"
#include "qt/pty_helpers.h"
#include "soak/sentences.h"

namespace kestrel::test {

inline void spinFor(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

// Both sources on the instruments, as the operator clicks them; the digit widget to watch, or
// null with `error` saying what was not as expected.
inline qt::GlyphView* onInstruments(qt::Program& program, std::string& error) {
    spinFor(200);
    Form_Kestrelmap& f = program.form();
    auto* posit = program.window().findChild<qt::PanelButton*>("CmdButton_POSIT_SOURCE");
    auto* df = program.window().findChild<qt::PanelButton*>("CmdButton_DF_SOURCE");
    auto* digit = program.window().findChild<qt::GlyphView*>("Picture_LAT_MINX001");
    if (posit == nullptr || df == nullptr || digit == nullptr || !f.PORT_VALID) {
        error = "window or port not as expected";
        return nullptr;
    }
    posit->click();
    df->click();
    spinFor(100);
    if (!f.MSComm1.isOpen()) {
        error = "the port did not open";
        return nullptr;
    }
    return digit;
}

// `count` sentences from number `sentence` on (it counts on), their latencies in microseconds
// added to `micros` (sorted afterwards); false when one never reached the widget.
inline bool timeSentences(Pty& pty, const qt::GlyphView& digit, int count, int& sentence,
                          std::vector<double>& micros) {
    using SteadyClock = std::chrono::steady_clock;
    Fix fix;
    for (int i = 0; i < count; ++i, ++sentence) {
        fix.latDeg = 34 + (25 + (sentence % 10) * 0.01 + 0.001) / 60;  // hundredths digit
        fix.second = sentence % 60;
        const std::string s = rmcSentence(fix);  // ends in CR LF
        const GlyphImage* want = &glyphImage(digitGlyph(sentence % 10));
        if (digit.image() == want) {
            continue;
        }
        pty.write(std::string_view(s).substr(0, s.size() - 2));
        spinFor(15);  // the sentence waits for its carriage return
        const auto start = SteadyClock::now();
        pty.write("\r\n");
        QElapsedTimer guard;
        guard.start();
        while (digit.image() != want && guard.elapsed() < 2000) {
            QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();  // the paint of the changed widgets
        const auto end = SteadyClock::now();
        if (digit.image() != want) {
            return false;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        spinFor(5);
    }
    std::sort(micros.begin(), micros.end());
    return !micros.empty();
}

}  // namespace kestrel::test
