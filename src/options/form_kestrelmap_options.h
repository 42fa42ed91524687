#pragma once
// The options window: the serial-port selector and the four colour settings. It exists from
// start-up, hidden, and is only shown and hidden afterwards. Its four preview boxes are the
// record of the colour settings. It reaches into the main window directly.

#include <functional>
#include <string>

#include "app/controls.h"

namespace kestrel {

class Form_Kestrelmap;

class Form_Kestrelmap_Options {
  public:
    explicit Form_Kestrelmap_Options(Form_Kestrelmap& main);
    Form_Kestrelmap_Options(const Form_Kestrelmap_Options&) = delete;
    Form_Kestrelmap_Options& operator=(const Form_Kestrelmap_Options&) = delete;

    // ---- The window itself ----
    std::string Caption = "Kestrelmap_Options";
    Colour BackColor = Colour::buttonFace();
    bool Loaded = false;  // created (hidden) at start-up, unloaded at close
    bool Visible = false;

    // ---- Frames ----
    Frame Frame_COLORS;
    Frame frame_COMM;

    // ---- Colour rows: button and preview box ----
    Button cmdbutton_DISPLAY_BACKGROUND_COLOR;
    Button cmdbutton_BUTTON_BACKGROUND_COLOR;
    Button cmdbutton_LEGEND_TEXT_COLOR;
    Button CmdButton_VECTOR_COLOR;
    Button CmdButton_DEFAULT_COLORS;
    PictureBox Picture_DISPLAY_BACKGROUND_COLOR;
    PictureBox Picture_BUTTON_BACKGROUND_COLOR;
    PictureBox Picture_LEGEND_TEXT_COLOR;
    PictureBox Picture_VECTOR_COLOR;

    // ---- Port selection and HIDE OPTIONS ----
    Button CmdButton_COMM_PORT;
    Button cmdbutton_EXIT;

    // Creates the window, hidden, if it does not exist yet.
    void Load();
    // Destroys it (at the main window's unload).
    void Unload();
    void Show();

    // ---- Handlers ----
    void cmdbutton_DISPLAY_BACKGROUND_COLOR_Click();
    void cmdbutton_BUTTON_BACKGROUND_COLOR_Click();
    void cmdbutton_LEGEND_TEXT_COLOR_Click();
    void CmdButton_VECTOR_COLOR_Click();
    void CmdButton_DEFAULT_COLORS_Click();
    void Picture_BUTTON_BACKGROUND_COLOR_Click();
    void Picture_LEGEND_TEXT_COLOR_Click();
    void cmdbutton_EXIT_Click();
    void CmdButton_COMM_PORT_Click();
    void Form_KeyDown(int& KeyCode, int Shift);
    void Form_KeyPress(int& KeyAscii);

    // ---- Beside the designed window: the night panel (options/night_panel.cpp) ----
    // Its caption says what a click does: NIGHT PANEL by day, DAY PANEL at night.
    Button CmdButton_NIGHT_PANEL;
    bool nightPanel() const { return m_night; }
    // Paints both windows in the night colours or the day colours again (the colour settings
    // are left as they are). Tells nightPanelChanged when the choice changes.
    void setNightPanel(bool night);
    void CmdButton_NIGHT_PANEL_Click();
    // Where the choice is kept across starts; may be empty.
    std::function<void(bool night)> nightPanelChanged;

  private:
    Form_Kestrelmap& m_main;
    bool m_night = false;
    Colour m_dayIdentBack = Colour::windowBackground();  // Label_IDENT's before the night
};

}  // namespace kestrel
