#include "platform/qt/options_window.h"

#include <QCloseEvent>
#include <QScreen>

#include "platform/qt/program_icon.h"

namespace kestrel::qt {

OptionsWindow::OptionsWindow(Form_Kestrelmap_Options& form, const HandlerRunner& run,
                             QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_form(form),
      m_run(run),
      m_controls(*this, form, optionsWindowLayout(), run) {
    setObjectName(QStringLiteral("Form_Kestrelmap_Options"));
    setWindowIcon(programIcon());
    setFont(fontFor(FontRole::Default));
    setFixedSize(kOptionsClientWidth, kOptionsClientHeight);
    setAutoFillBackground(true);
}

void OptionsWindow::sync() {
    const QString title = QString::fromStdString(m_form.Caption);
    if (windowTitle() != title) {
        setWindowTitle(title);
    }
    const QColor back = toQColor(m_form.BackColor);
    if (palette().color(QPalette::Window) != back) {
        QPalette pal = palette();
        pal.setColor(QPalette::Window, back);
        setPalette(pal);
    }
    m_controls.sync();
}

void OptionsWindow::centreOnScreen(const QWidget& reference) {
    const QScreen* screen = reference.screen();
    if (screen == nullptr) {
        return;
    }
    const QRect available = screen->availableGeometry();
    move(available.center() - QPoint(width() / 2, height() / 2));
}

void OptionsWindow::closeEvent(QCloseEvent* event) {
    if (m_closeAllowed) {
        event->accept();
        return;
    }
    // The close box hides the window, as HIDE OPTIONS does; the window itself stays.
    event->ignore();
    m_run([this]() { m_form.cmdbutton_EXIT_Click(); });
}

}  // namespace kestrel::qt
