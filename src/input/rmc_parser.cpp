#include "app/form_kestrelmap.h"

namespace kestrel {

void Form_Kestrelmap::GPRMC_PARSE() {}

}  // namespace kestrel
