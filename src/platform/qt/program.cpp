#include "platform/qt/program.h"

namespace kestrel::qt {

Program::Program(std::string folder)
    : m_platform(std::move(folder)),
      m_facilities(m_platform.platform()),
      m_form(m_facilities, m_platform.folder),
      m_window(m_form) {
    // A dialog runs a nested event loop in which timers and the serial line go on: the widgets
    // are brought up to date first, so the operator never sees a stale panel behind it.
    m_platform.setBeforeModal([this]() { m_window.syncAll(); });
    m_window.watchSerial(m_platform.serial);
}

void Program::start() {
    m_form.Form_Load();
    m_window.start();
}

}  // namespace kestrel::qt
