#include "app/form_kestrelmap.h"

namespace kestrel {

void Form_Kestrelmap::POSITION() {}

}  // namespace kestrel
