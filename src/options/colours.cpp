#include "app/form_kestrelmap.h"

namespace kestrel {

void Form_Kestrelmap_Options::cmdbutton_DISPLAY_BACKGROUND_COLOR_Click() {}

void Form_Kestrelmap_Options::cmdbutton_BUTTON_BACKGROUND_COLOR_Click() {}

void Form_Kestrelmap_Options::cmdbutton_LEGEND_TEXT_COLOR_Click() {}

void Form_Kestrelmap_Options::CmdButton_VECTOR_COLOR_Click() {}

void Form_Kestrelmap_Options::CmdButton_DEFAULT_COLORS_Click() {}

void Form_Kestrelmap_Options::Picture_BUTTON_BACKGROUND_COLOR_Click() {}

void Form_Kestrelmap_Options::Picture_LEGEND_TEXT_COLOR_Click() {}

}  // namespace kestrel
