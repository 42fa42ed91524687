#pragma once
// Waiting in tests that run Qt's event loop, and a free port on the loopback. Qt Core only, so
// the widget tests, the gpsd tests and the team link's tests share it.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <cstdint>
#include <functional>

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

// A TCP port on 127.0.0.1 that nothing listens on now; 0 when none can be had.
inline uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    ::close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

}  // namespace kestrel::test
