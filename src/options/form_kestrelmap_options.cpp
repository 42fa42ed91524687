#include "options/form_kestrelmap_options.h"

#include "app/form_kestrelmap.h"

namespace kestrel {

Form_Kestrelmap_Options::Form_Kestrelmap_Options(Form_Kestrelmap& main) : m_main(main) {
    Frame_COLORS.Caption = "COLORS";
    frame_COMM.Caption = "COMM PORT";
    cmdbutton_DISPLAY_BACKGROUND_COLOR.Caption = "DISPLAY BACKGROUND";
    cmdbutton_BUTTON_BACKGROUND_COLOR.Caption = "BUTTON BACKGROUND";
    cmdbutton_LEGEND_TEXT_COLOR.Caption = "LEGEND TEXT";
    CmdButton_VECTOR_COLOR.Caption = "VECTORS";
    CmdButton_DEFAULT_COLORS.Caption = "RESTORE DEFAULT COLORS";
    CmdButton_COMM_PORT.Caption = "COMM PORT SELECT";
    cmdbutton_EXIT.Caption = "HIDE OPTIONS";
    CmdButton_NIGHT_PANEL.Caption = "NIGHT PANEL";
}

void Form_Kestrelmap_Options::Load() {
    Loaded = true;
}

void Form_Kestrelmap_Options::Unload() {
    Loaded = false;
    Visible = false;
}

void Form_Kestrelmap_Options::Show() {
    Load();
    Visible = true;
}

void Form_Kestrelmap_Options::cmdbutton_EXIT_Click() {
    Visible = false;
}

}  // namespace kestrel
