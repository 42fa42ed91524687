#pragma once
// The options window on screen: a top-level widget built from the options layout table. It is
// created with the main window and only ever shown and hidden; its close box hides it through
// the HIDE OPTIONS handler. Keys reach its handlers through the main window's key gate.

#include <QWidget>

#include "options/form_kestrelmap_options.h"
#include "platform/qt/window_controls.h"

namespace kestrel::qt {

class OptionsWindow : public QWidget {
    Q_OBJECT
  public:
    OptionsWindow(Form_Kestrelmap_Options& form, const HandlerRunner& run,
                  QWidget* parent = nullptr);

    // Mirrors the core's controls, caption and background; shows or hides nothing.
    void sync();
    // The widget of a control, by its design name; null when there is none.
    QWidget* control(const std::string& name) const { return m_controls.widget(name); }
    // From now on a close really closes (the program is ending).
    void allowClose() { m_closeAllowed = true; }
    // Places the window in the middle of the screen the main window is on.
    void centreOnScreen(const QWidget& reference);
    // The button to the instruments window, in the strip between COMM PORT and HIDE OPTIONS.
    QWidget* instrumentsButton() const { return m_instruments; }

  signals:
    void instrumentsRequested();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    Form_Kestrelmap_Options& m_form;
    HandlerRunner m_run;
    WindowControls<Form_Kestrelmap_Options> m_controls;
    bool m_closeAllowed = false;
    PanelButton* m_instruments = nullptr;
};

}  // namespace kestrel::qt
