#pragma once
// The main window on screen, and the shell's event plumbing for both windows: it builds the
// widgets from the layout table, forwards clicks, keys, timer ticks, serial events, activation
// and close requests to the core's handlers, and after each handler mirrors the core's state
// onto the widgets. No rule of behaviour lives here.

#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <set>

#include "app/form_kestrelmap.h"
#include "platform/qt/options_window.h"
#include "platform/qt/window_controls.h"

class QKeyEvent;
class QSessionManager;
class QWindow;

namespace kestrel::qt {

class QtSerialPort;

class MainWindow : public QWidget {
    Q_OBJECT
  public:
    explicit MainWindow(Form_Kestrelmap& form);
    ~MainWindow() override;

    // Run after Form_Load: mirrors the core, shows the window and raises the first activation.
    void start();
    // Mirrors every control of both windows, the captions, the timers and the options
    // window's visibility. Also the hook to run before any modal dialog.
    void syncAll();
    // Runs one core handler, then re-syncs, or ends the program when the core has unloaded.
    void runHandler(const std::function<void()>& handler);
    // Port events of `port` run the core's serial handler.
    void watchSerial(QtSerialPort& port);

    // The widget of a main-window control, by its design name; null when there is none.
    QWidget* control(const std::string& name) const { return m_controls.widget(name); }
    OptionsWindow& optionsWindow() { return *m_options; }
    // A click on the status line (Label_IDENT) runs `open` from now on, and the line's spoken
    // name says so; nothing else of the panel changes.
    void setStatusLineLink(std::function<void()> open);
    // The real timer behind Timer_TIMEOUT, Timer_BLINK or Timer_PLOT (in that order).
    const QTimer& timer(int index) const { return *m_timers[size_t(index)].timer; }

  signals:
    // The core has unloaded: both windows are gone and the program should end.
    void unloaded();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    enum class Active { None, Main, Options };

    struct TimerBinding {
        Timer Form_Kestrelmap::*core;
        void (Form_Kestrelmap::*tick)();
        QTimer* timer = nullptr;
        uint32_t restarts = 0;
        int interval = 0;
        bool ticking = false;  // its handler is running (a nested dialog loop may tick again)
    };

    void syncWindow();
    void syncTimers();
    void syncOptionsVisibility();
    void syncStatusLineName();
    void onTick(TimerBinding& binding);
    void onSerialEvent();
    void onFocusWindowChanged(QWindow* window);
    void onCommitDataRequest(QSessionManager& manager);
    void raiseActivate();
    bool handleKey(QKeyEvent& event, bool optionsWindow);
    void shutDown();

    Form_Kestrelmap& m_form;
    WindowControls<Form_Kestrelmap> m_controls;
    std::unique_ptr<OptionsWindow> m_options;
    std::array<TimerBinding, 3> m_timers;
    Active m_lastActive = Active::None;
    bool m_optionsPlaced = false;  // centred once, then left where the operator puts it
    bool m_activating = false;
    bool m_inSerial = false;
    bool m_serialAgain = false;
    bool m_shutDown = false;
    bool m_forwardingKey = false;
    std::set<int> m_swallowedKeys;  // keys whose press was swallowed; their release is too
    std::function<void()> m_openStatusLink;
};

}  // namespace kestrel::qt
