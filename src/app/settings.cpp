#include "app/form_kestrelmap.h"

namespace kestrel {

void Form_Kestrelmap::LOAD_SETTINGS() {}

void Form_Kestrelmap::SAVE_SETTINGS() {}

}  // namespace kestrel
