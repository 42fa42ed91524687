#include "platform/qt/options_window.h"

#include <QCloseEvent>
#include <QScreen>

#include "platform/qt/program_icon.h"

namespace kestrel::qt {

namespace {

// Under the COMM PORT frame (which ends at 113), above HIDE OPTIONS (from 128), in the right half.
const QRect kInstrumentsButton(317, 113, 76, 14);

}  // namespace

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
    setAccessibleName(QStringLiteral("Kestrelmap options"));

    // Not one of the window's own controls: it sits in the right half of the only free strip,
    // the 15 pixels between the COMM PORT frame and HIDE OPTIONS (the night switch has the left
    // half), and leaves every other control where it is.
    m_instruments = new PanelButton(this);
    m_instruments->setObjectName(QStringLiteral("instrumentsButton"));
    m_instruments->setGeometry(kInstrumentsButton);
    QFont small = font();
    small.setPixelSize(9);
    m_instruments->setFont(small);
    m_instruments->setCaption(QStringLiteral("INSTRUMENTS"));
    m_instruments->setFocusPolicy(Qt::NoFocus);  // the window's keys belong to its handlers
    m_instruments->setAccessibleName(
        QStringLiteral("Instruments: where GPS and bearing come from"));
    connect(m_instruments, &PanelButton::clicked, this, &OptionsWindow::instrumentsRequested);
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
    const bool night = m_form.nightPanel();
    m_controls.sync(night);
    m_instruments->setNight(night);
    m_instruments->setBackColour(toQColor(shownColour(m_form.cmdbutton_EXIT.BackColor, night)));
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
