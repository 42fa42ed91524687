#pragma once
// One run of Kestrelmap: the Qt platform facilities, the core's main window and the windows
// on screen, wired together. main() builds one; the Qt tests build one per test against a
// temporary HOME. Build it after QApplication.

#include <string>

#include "app/form_kestrelmap.h"
#include "hunt/hunt_estimate.h"
#include "platform/qt/main_window.h"
#include "platform/qt/qt_platform.h"

namespace kestrel::qt {

class Program {
  public:
    // The Kestrelmap folder under the current HOME.
    explicit Program(std::string folder = kestrelmapFolder());
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Start-up (Form_Load), then the main window comes up and is activated.
    void start();

    QtPlatform& platform() { return m_platform; }
    Form_Kestrelmap& form() { return m_form; }
    MainWindow& window() { return m_window; }
    HuntEstimate& estimate() { return m_estimate; }

  private:
    QtPlatform m_platform;
    kestrel::Platform m_facilities;  // references into m_platform, held for the core
    Form_Kestrelmap m_form;
    HuntEstimate m_estimate{m_form};  // the plot log, the estimate map and the status line
    MainWindow m_window;
};

}  // namespace kestrel::qt
