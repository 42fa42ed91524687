#pragma once
// Writes the team map to its two files, <stamp>_team.kml beside the hunt's <stamp>.kml and
// Current_Team.kml, as the hunt files are written: whole and atomically through the platform,
// the time-stamped one first, and one message at the first failure of a run of failures.

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace kestrel::team {

// "<folder>120826_142107.kml" -> "<folder>120826_142107_team.kml"; the current one is
// "<folder>Current_Team.kml".
std::string stampedTeamPath(const std::string& huntFilePath);
std::string currentTeamPath(const std::string& folder);

class TeamMapFiles {
  public:
    TeamMapFiles(TextFiles& files, MessageBox& messages) : m_files(files), m_messages(messages) {}
    // True when both were written.
    bool write(const std::string& stampedPath, const std::string& currentPath,
               std::string_view document);

  private:
    TextFiles& m_files;
    MessageBox& m_messages;
    bool m_failing = false;
};

}  // namespace kestrel::team
