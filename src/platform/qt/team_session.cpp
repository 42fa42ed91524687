#include "platform/qt/team_session.h"

#include "platform/qt/team_settings_qt.h"

namespace kestrel::qt {

TeamSession::Made TeamSession::create(const std::string& folder, Form_Kestrelmap& form,
                                      kestrel::Platform& platform,
                                      const team::TeamOverrides& overrides) {
    const team::TeamConfigResult read =
        readTeamConfig(folder, overrides, platform.clock.utcMilliseconds());
    if (!read.config) {
        return {nullptr, read.error};
    }
    if (!read.config->enabled) {
        return {};
    }
    std::string error;
    const std::optional<std::string> password = readTeamPassword(*read.config, error);
    if (!password) {
        return {nullptr, "Kestrelmap.conf [team] password_file: " + error};
    }
    return {std::unique_ptr<TeamSession>(
                new TeamSession(*read.config, *password, folder, form, platform)),
            {}};
}

TeamSession::TeamSession(team::TeamConfig config, const std::string& password,
                         const std::string& folder, Form_Kestrelmap& form,
                         kestrel::Platform& platform)
    : m_config(std::move(config)),
      m_folder(folder),
      m_form(form),
      m_link(std::make_unique<QtTeamLink>(teamLinkSettings(m_config, password), platform.messages,
                                          this)),
      m_hunt(std::make_unique<team::TeamHunt>(
          m_config.names, team::journalPath(folder, m_config.names), *m_link, platform.clock,
          platform.messages, team::panelPosition(form))),
      m_platform(platform),
      m_mapNotice(platform.messages, "team map file",
                  "The team's plots are kept; the next change writes it again.") {
    m_hunt->onTeamChanged = [this]() { writeMap(); };
    m_hunt->start();
    m_form.addObserver(*m_hunt);
    m_positionTimer.setInterval(static_cast<int>(team::kPositionIntervalMs));
    connect(&m_positionTimer, &QTimer::timeout, this, [this]() { m_hunt->tick(); });
    m_positionTimer.start();
    m_link->start();
    writeMap();  // what the journal already held
}

TeamSession::~TeamSession() {
    m_positionTimer.stop();
    m_form.removeObserver(*m_hunt);
    m_hunt.reset();
    m_link.reset();
}

void TeamSession::writeMap() {
    if (m_form.stamp().empty()) {
        return;  // before Form_Load: no hunt stamp yet
    }
    const std::string paths[] = {m_form.folder() + m_form.stamp() + "_team.kml",
                                 m_folder + "Current_Team.kml"};
    writeAll(m_platform.files, m_mapNotice, paths, m_hunt->teamDocument(m_form.VECTOR_COLOR));
}

}  // namespace kestrel::qt
