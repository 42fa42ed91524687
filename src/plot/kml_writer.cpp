#include "app/form_kestrelmap.h"

namespace kestrel {

void Form_Kestrelmap::BUILD_KML_FILE() {}

}  // namespace kestrel
