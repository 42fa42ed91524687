#include "platform/qt/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSessionManager>
#include <QWindow>

#include "accessibility/spoken_panel.h"
#include "platform/qt/program_icon.h"
#include "platform/qt/serial_port_qt.h"

namespace kestrel::qt {

namespace {

using F = Form_Kestrelmap;

// The key code the handlers know: upper-case ASCII for letters, ASCII for digits and the space
// bar, the usual codes for the named keys; any other key gets a stable code of its own.
int keyCode(const QKeyEvent& event) {
    const int key = event.key();
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || key == Qt::Key_Space) {
        return key;
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        const bool keypad = (event.modifiers() & Qt::KeypadModifier) != 0;
        return keypad ? 96 + (key - Qt::Key_0) : key;
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) {
        return 112 + (key - Qt::Key_F1);
    }
    struct Named {
        int qtKey;
        int code;
    };
    static constexpr Named kNamed[] = {
        {Qt::Key_Backspace, 8},      {Qt::Key_Tab, 9},           {Qt::Key_Backtab, 9},
        {Qt::Key_Return, 13},        {Qt::Key_Enter, 13},        {Qt::Key_Shift, 16},
        {Qt::Key_Control, 17},       {Qt::Key_Alt, 18},          {Qt::Key_Pause, 19},
        {Qt::Key_CapsLock, 20},      {Qt::Key_Escape, 27},       {Qt::Key_PageUp, 33},
        {Qt::Key_PageDown, 34},      {Qt::Key_End, 35},          {Qt::Key_Home, 36},
        {Qt::Key_Left, 37},          {Qt::Key_Up, 38},           {Qt::Key_Right, 39},
        {Qt::Key_Down, 40},          {Qt::Key_Insert, 45},       {Qt::Key_Delete, 46},
        {Qt::Key_Meta, 91},          {Qt::Key_Menu, 93},         {Qt::Key_Asterisk, 106},
        {Qt::Key_Plus, 107},         {Qt::Key_Minus, 109},       {Qt::Key_Period, 190},
        {Qt::Key_Slash, 191},        {Qt::Key_NumLock, 144},     {Qt::Key_ScrollLock, 145},
        {Qt::Key_Semicolon, 186},    {Qt::Key_Equal, 187},       {Qt::Key_Comma, 188},
        {Qt::Key_QuoteLeft, 192},    {Qt::Key_BracketLeft, 219}, {Qt::Key_Backslash, 220},
        {Qt::Key_BracketRight, 221}, {Qt::Key_Apostrophe, 222},
    };
    for (const Named& named : kNamed) {
        if (named.qtKey == key) {
            return named.code;
        }
    }
    return 0x10000 | (key & 0xffff);
}

// The shift state the handlers know: 1 Shift, 2 Ctrl, 4 Alt.
int shiftState(Qt::KeyboardModifiers modifiers) {
    return ((modifiers & Qt::ShiftModifier) != 0 ? 1 : 0) |
           ((modifiers & Qt::ControlModifier) != 0 ? 2 : 0) |
           ((modifiers & Qt::AltModifier) != 0 ? 4 : 0);
}

}  // namespace

MainWindow::MainWindow(Form_Kestrelmap& form)
    : m_form(form),
      m_controls(*this, form, mainWindowLayout(),
                 [this](const std::function<void()>& handler) { runHandler(handler); }),
      m_options(std::make_unique<OptionsWindow>(
          form.OptionsForm, [this](const std::function<void()>& handler) { runHandler(handler); })),
      m_timers{{{&F::Timer_TIMEOUT, &F::Timer_TIMEOUT_Timer},
                {&F::Timer_BLINK, &F::Timer_BLINK_Timer},
                {&F::Timer_PLOT, &F::Timer_PLOT_Timer}}} {
    setObjectName(QStringLiteral("Form_Kestrelmap"));
    setWindowIcon(programIcon());
    setFont(fontFor(FontRole::Default));
    setFixedSize(kMainClientWidth, kMainClientHeight);
    setAutoFillBackground(true);
    for (TimerBinding& binding : m_timers) {
        binding.timer = new QTimer(this);
        // The one-second count of the data time-outs should not drift by the coarse 5 %.
        binding.timer->setTimerType(Qt::PreciseTimer);
        connect(binding.timer, &QTimer::timeout, this, [this, &binding]() { onTick(binding); });
    }
    qApp->installEventFilter(this);
    connect(qApp, &QGuiApplication::focusWindowChanged, this, &MainWindow::onFocusWindowChanged);
    connect(qApp, &QGuiApplication::commitDataRequest, this, &MainWindow::onCommitDataRequest);
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
}

void MainWindow::start() {
    syncAll();
    show();
    m_lastActive = Active::Main;
    // After the window has come up, so a message box of the activation appears over it.
    QTimer::singleShot(0, this, &MainWindow::raiseActivate);
}

void MainWindow::watchSerial(QtSerialPort& port) {
    connect(&port, &QtSerialPort::portEvent, this, &MainWindow::onSerialEvent);
}

void MainWindow::runHandler(const std::function<void()>& handler) {
    if (m_shutDown) {
        return;
    }
    handler();
    if (!m_form.Unloaded) {
        m_form.afterEvent();
    }
    if (m_form.Unloaded) {
        shutDown();
    } else {
        syncAll();
    }
}

void MainWindow::syncAll() {
    if (m_shutDown) {
        return;
    }
    syncWindow();
    m_controls.sync(m_form.OptionsForm.nightPanel());
    syncStatusLineName();
    m_options->sync();
    syncTimers();
    syncOptionsVisibility();
}

void MainWindow::syncWindow() {
    const QString title = QString::fromStdString(m_form.Caption);
    if (windowTitle() != title) {
        setWindowTitle(title);
    }
    const QColor back = toQColor(m_form.BackColor);
    const QColor text = toQColor(m_form.ForeColor);
    if (palette().color(QPalette::Window) != back ||
        palette().color(QPalette::WindowText) != text) {
        QPalette pal = palette();
        pal.setColor(QPalette::Window, back);
        pal.setColor(QPalette::WindowText, text);
        setPalette(pal);
    }
}

void MainWindow::syncTimers() {
    for (TimerBinding& binding : m_timers) {
        const Timer& core = m_form.*binding.core;
        const bool run = core.Enabled && core.Interval > 0;
        if (run == binding.timer->isActive() && core.restarts == binding.restarts &&
            core.Interval == binding.interval) {
            continue;
        }
        binding.restarts = core.restarts;
        binding.interval = core.Interval;
        if (run) {
            binding.timer->start(core.Interval);
        } else {
            binding.timer->stop();
        }
    }
}

void MainWindow::syncOptionsVisibility() {
    const Form_Kestrelmap_Options& options = m_form.OptionsForm;
    const bool wanted = options.Loaded && options.Visible;
    if (wanted && !m_options->isVisible()) {
        if (!m_optionsPlaced) {
            m_options->centreOnScreen(*this);
            m_optionsPlaced = true;
        }
        m_options->show();
        m_options->raise();
        m_options->activateWindow();
    } else if (!wanted && m_options->isVisible()) {
        const bool wasActive = m_options->isActiveWindow();
        m_options->hide();
        // The operator is back on the main window, whatever the window manager would pick.
        if (wasActive && isVisible()) {
            activateWindow();
        }
    }
}

void MainWindow::onTick(TimerBinding& binding) {
    // A tick while the same handler waits in a dialog is dropped, never run inside itself.
    if (binding.ticking) {
        return;
    }
    binding.ticking = true;
    // The form and the handler are captured by value: GCC 12 with -fsanitize=vptr miscompiles
    // the call through the member pointer when it is reached through `this` in the lambda.
    Form_Kestrelmap* form = &m_form;
    const auto tick = binding.tick;
    runHandler([form, tick]() { (form->*tick)(); });
    binding.ticking = false;
}

void MainWindow::onSerialEvent() {
    if (m_inSerial) {
        m_serialAgain = true;  // taken up when the running handler returns
        return;
    }
    m_inSerial = true;
    do {
        m_serialAgain = false;
        runHandler([this]() { m_form.serialEvent(); });
    } while (m_serialAgain && !m_shutDown);
    m_inSerial = false;
}

void MainWindow::onFocusWindowChanged(QWindow* window) {
    // Another program (null) or a dialog of ours (anything else) leaves the record alone.
    if (window == nullptr || m_shutDown) {
        return;
    }
    if (window == windowHandle()) {
        const bool fromOptions = m_lastActive == Active::Options;
        m_lastActive = Active::Main;
        if (fromOptions) {
            raiseActivate();
        }
    } else if (window == m_options->windowHandle()) {
        m_lastActive = Active::Options;
    }
}

void MainWindow::raiseActivate() {
    if (m_activating) {
        return;
    }
    m_activating = true;
    runHandler([this]() { m_form.Form_Activate(); });
    m_activating = false;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_shutDown) {
        event->accept();
        return;
    }
    // Ignored either way: when the core unloads, shutDown() has already taken the window down.
    event->ignore();
    runHandler([this]() { m_form.requestClose(CloseReason::Operator); });
}

void MainWindow::onCommitDataRequest(QSessionManager& manager) {
    if (m_shutDown) {
        return;
    }
    manager.allowsInteraction();
    bool closed = false;
    runHandler([this, &closed]() { closed = m_form.requestClose(CloseReason::System); });
    if (!closed) {
        manager.cancel();
    }
}

void MainWindow::setStatusLineLink(std::function<void()> open) {
    m_openStatusLink = std::move(open);
    if (QWidget* line = control("Label_IDENT")) {
        line->setCursor(Qt::PointingHandCursor);
        line->setToolTip(QStringLiteral("Open the live map in the web browser"));
    }
    syncStatusLineName();
}

// The name the window controls give the line, and what a click on it does.
void MainWindow::syncStatusLineName() {
    QWidget* line = control("Label_IDENT");
    if (!m_openStatusLink || !line) {
        return;
    }
    const QString name = QString::fromStdString(spokenName(PanelWindow::Main, "Label_IDENT",
                                                           m_form.Label_IDENT.Caption)) +
                         QStringLiteral(" (click to open the live map)");
    if (line->accessibleName() != name) {
        line->setAccessibleName(name);
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonRelease && m_openStatusLink && !m_shutDown &&
        watched == control("Label_IDENT") &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        m_openStatusLink();
        return true;
    }
    if ((type != QEvent::KeyPress && type != QEvent::KeyRelease) || m_forwardingKey || m_shutDown ||
        !watched->isWidgetType()) {
        return false;
    }
    const QWidget* top = static_cast<QWidget*>(watched)->window();
    if (top != this && top != m_options.get()) {
        return false;
    }
    auto& key = static_cast<QKeyEvent&>(*event);
    if (type == QEvent::KeyRelease) {
        const auto it = m_swallowedKeys.find(key.key());
        if (it == m_swallowedKeys.end()) {
            return false;
        }
        if (!key.isAutoRepeat()) {
            m_swallowedKeys.erase(it);
        }
        return true;
    }
    if (handleKey(key, top == m_options.get())) {
        m_swallowedKeys.insert(key.key());
        return true;
    }
    // The handlers let the key through: deliver it to the control once, past this filter.
    m_forwardingKey = true;
    QCoreApplication::sendEvent(watched, event);
    m_forwardingKey = false;
    return true;
}

bool MainWindow::handleKey(QKeyEvent& event, bool optionsWindow) {
    int code = keyCode(event);
    const int shift = shiftState(event.modifiers());
    runHandler([&]() {
        if (optionsWindow) {
            m_form.OptionsForm.Form_KeyDown(code, shift);
        } else {
            m_form.Form_KeyDown(code, shift);
        }
    });
    bool swallow = code == 0;
    if (!event.text().isEmpty()) {
        int character = event.text().at(0).unicode();
        runHandler([&]() {
            if (optionsWindow) {
                m_form.OptionsForm.Form_KeyPress(character);
            } else {
                m_form.Form_KeyPress(character);
            }
        });
        swallow = swallow || character == 0;
    }
    return swallow || m_shutDown;
}

void MainWindow::shutDown() {
    if (m_shutDown) {
        return;
    }
    m_shutDown = true;
    for (TimerBinding& binding : m_timers) {
        binding.timer->stop();
    }
    m_options->allowClose();
    m_options->close();
    hide();
    emit unloaded();
}

}  // namespace kestrel::qt
