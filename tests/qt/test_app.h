#pragma once
// The one QApplication of the Qt test binary, created on first use under the offscreen
// platform unless the environment names another.

#include <QApplication>

namespace kestrel::test {

inline QApplication* testApp() {
    if (QCoreApplication::instance() == nullptr) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        static int argc = 1;
        static char name[] = "kestrel_qt_tests";
        static char* argv[] = {name, nullptr};
        static QApplication* app = new QApplication(argc, argv);
        return app;
    }
    return qobject_cast<QApplication*>(QCoreApplication::instance());
}

}  // namespace kestrel::test
