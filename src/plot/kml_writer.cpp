#include "app/form_kestrelmap.h"

namespace kestrel {

void Form_Kestrelmap::BUILD_KML_FILE() {}

bool Form_Kestrelmap::writeHuntFiles(std::string& /*failedFile*/, std::string& /*reason*/) {
    return true;
}

}  // namespace kestrel
