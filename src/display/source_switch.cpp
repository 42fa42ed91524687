#include "app/form_kestrelmap.h"

namespace kestrel {

void Form_Kestrelmap::CmdButton_POSIT_SOURCE_Click() {}

void Form_Kestrelmap::CmdButton_DF_SOURCE_Click() {}

void Form_Kestrelmap::POSIT_SAVE() {}

void Form_Kestrelmap::POSIT_RESTORE() {}

void Form_Kestrelmap::DF_SAVE() {}

void Form_Kestrelmap::DF_RESTORE() {}

void Form_Kestrelmap::markPortBusy() {}

}  // namespace kestrel
