#include "app/form_kestrelmap.h"

namespace kestrel {

void Form_Kestrelmap::Form_Load() {}

}  // namespace kestrel
