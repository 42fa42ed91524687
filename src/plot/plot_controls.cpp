#include "app/form_kestrelmap.h"

namespace kestrel {

void Form_Kestrelmap::CmdButton_ADD_PLOT_Click() {}

void Form_Kestrelmap::CmdButton_RANGE_Click() {}

void Form_Kestrelmap::CmdButton_TIMER_Click() {}

void Form_Kestrelmap::Timer_PLOT_Timer() {}

}  // namespace kestrel
