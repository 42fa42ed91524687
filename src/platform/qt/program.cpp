#include "platform/qt/program.h"

namespace kestrel::qt {

Program::Program(std::string folder)
    : m_platform(std::move(folder)),
      m_facilities(m_platform.platform()),
      m_form(m_facilities, m_platform.folder),
      m_window(m_form),
      m_inputs(m_form, m_platform.serial,
               [this](const std::function<void()>& handler) { m_window.runHandler(handler); }) {
    // A dialog runs a nested event loop in which timers and the serial line go on: the widgets
    // are brought up to date first, so the operator never sees a stale panel behind it.
    m_platform.setBeforeModal([this]() { m_window.syncAll(); });
    m_window.watchSerial(m_platform.serial);
    QObject::connect(&m_window, &MainWindow::unloaded, &m_inputs, &InstrumentInputs::closeAll);
}

void Program::start() {
    m_form.Form_Load();
    m_window.start();
}

}  // namespace kestrel::qt
