#pragma once
// One run of Kestrelmap: the Qt platform facilities, the core's main window and the windows
// on screen, wired together. main() builds one; the Qt tests build one per test against a
// temporary HOME. Build it after QApplication.

#include <string>

#include "app/form_kestrelmap.h"
#include "platform/qt/instrument_inputs.h"
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
    // The instruments' inputs: where each instrument's data comes from, and their status.
    InstrumentInputs& inputs() { return m_inputs; }

  private:
    QtPlatform m_platform;
    kestrel::Platform m_facilities;  // references into m_platform, held for the core
    Form_Kestrelmap m_form;
    MainWindow m_window;
    InstrumentInputs m_inputs;
};

}  // namespace kestrel::qt
