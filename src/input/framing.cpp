#include "app/form_kestrelmap.h"

namespace kestrel {

void Form_Kestrelmap::serialEvent() {}

void Form_Kestrelmap::MSComm1_OnComm() {}

}  // namespace kestrel
