#include "app/form_kestrelmap.h"

namespace kestrel {

void Form_Kestrelmap::AGRELLO_PARSE() {}

}  // namespace kestrel
