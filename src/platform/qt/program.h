#pragma once
// One run of Kestrelmap: the Qt platform facilities, the core's main window and the windows
// on screen, wired together. main() builds one; the Qt tests build one per test against a
// temporary HOME. Build it after QApplication.

#include <string>

#include "app/form_kestrelmap.h"
#include "platform/qt/diagnostics.h"
#include "platform/qt/main_window.h"
#include "platform/qt/qt_platform.h"

namespace kestrel::qt {

class Program {
  public:
    // The Kestrelmap folder under the current HOME.
    explicit Program(std::string folder = kestrelmapFolder());
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Start-up (Form_Load) and the night panel as last chosen, then the main window comes up
    // and is activated.
    void start();

    QtPlatform& platform() { return m_platform; }
    Form_Kestrelmap& form() { return m_form; }
    MainWindow& window() { return m_window; }
    HuntLog& huntLog() { return m_huntLog; }

  private:
    QtPlatform m_platform;
    kestrel::Platform m_facilities;  // references into m_platform, held for the core
    HuntLog m_huntLog;               // watches m_form, so it outlives it
    Form_Kestrelmap m_form;
    MainWindow m_window;
};

// The night panel's choice in <folder>Kestrelmap.conf, [display] night=true. Anything but
// "true" there, or no file, is the day panel. The choice is written only into an existing
// folder (never making it).
bool readNightChoice(const std::string& folder);
void writeNightChoice(const std::string& folder, bool night);

}  // namespace kestrel::qt
