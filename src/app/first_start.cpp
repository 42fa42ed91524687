#include "app/form_kestrelmap.h"

namespace kestrel {

// A start without the Kestrelmap folder asks whether to make it. Only a yes makes it; a failure
// to make it is told here, once, and the hunt goes on in memory as after a no. Returns true
// when the operator has heard that nothing will be kept (so start-up tells no more of it).
bool Form_Kestrelmap::offerFolder() {
    if (m_platform.files.folderExists(m_folder)) {
        return false;
    }
    const MessageResult answer = m_platform.messages.show(
        "The folder " + m_folder +
            " where Kestrelmap keeps its settings and hunt maps does not exist.\n\n"
            "OK: create the folder now and keep this hunt.\n"
            "Cancel: go on without keeping anything.",
        "Kestrelmap", MessageButtons::OkCancel, false);
    if (answer != MessageResult::Ok) {
        return true;
    }
    std::string reason;
    if (m_platform.files.makeFolder(m_folder, reason)) {
        return false;
    }
    m_platform.messages.show("Kestrelmap could not create the folder " + m_folder + " (" +
                                 (reason.empty() ? "unknown error" : reason) +
                                 ").\nThe hunt goes on in memory; nothing will be kept.",
                             "Kestrelmap", MessageButtons::Ok, false);
    return true;
}

}  // namespace kestrel
