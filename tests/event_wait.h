#pragma once
// Waiting in tests that run Qt's event loop, and a free port on the loopback (free_port.h).
// Qt Core only, so the widget tests, the gpsd tests and the team link's tests share it.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <cstdint>
#include <functional>

#include "free_port.h"

namespace kestrel::test {

// Runs the event loop until `done` holds or `timeoutMs` has passed; true when it held. It
// sleeps only until the next event (looking at `done` at least every 5 ms), so a test that
// times how soon something shows is not slowed by the wait.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs, Qt::PreciseTimer);
    QTimer wake;  // so that each wait below ends
    wake.start(5);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

// Runs the event loop for `ms` milliseconds.
inline void runFor(int ms) {
    waitFor([] { return false; }, ms);
}

}  // namespace kestrel::test
