#include "app/form_kestrelmap.h"

namespace kestrel {

void Form_Kestrelmap::Timer_TIMEOUT_Timer() {}

void Form_Kestrelmap::Timer_BLINK_Timer() {}

}  // namespace kestrel
