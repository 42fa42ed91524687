#include "team/team_map_files.h"

namespace kestrel::team {

std::string stampedTeamPath(const std::string& huntFilePath) {
    const std::string_view kml = ".kml";
    const std::string base = huntFilePath.ends_with(kml)
                                 ? huntFilePath.substr(0, huntFilePath.size() - kml.size())
                                 : huntFilePath;
    return base + "_team.kml";
}

std::string currentTeamPath(const std::string& folder) {
    return folder + "Current_Team.kml";
}

bool TeamMapFiles::write(const std::string& stampedPath, const std::string& currentPath,
                         std::string_view document) {
    std::string failedFile;
    std::string reason;
    for (const std::string* path : {&stampedPath, &currentPath}) {
        std::string error;
        if (!m_files.write(*path, document, error) && failedFile.empty()) {
            failedFile = *path;
            reason = error.empty() ? "unknown error" : error;
        }
    }
    if (failedFile.empty()) {
        m_failing = false;
        return true;
    }
    if (!m_failing) {
        m_failing = true;  // set first: the message box runs an event loop
        m_messages.show("The team map file " + failedFile + " could not be written (" + reason +
                            ").\nThe team's plots are kept; the next change writes it again.",
                        "Kestrelmap", MessageButtons::Ok, false);
    }
    return false;
}

}  // namespace kestrel::team
