#include "platform/qt/team_session.h"

#include "platform/qt/team_settings_qt.h"

namespace kestrel::qt {

TeamSession::Made TeamSession::create(const std::string& folder, Form_Kestrelmap& form,
                                      const team::TeamOverrides& overrides) {
    const team::TeamConfigResult read =
        readTeamConfig(folder, overrides, form.platform().clock.utcMilliseconds());
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
    return {std::unique_ptr<TeamSession>(new TeamSession(*read.config, *password, folder, form)),
            {}};
}

TeamSession::TeamSession(team::TeamConfig config, const std::string& password,
                         const std::string& folder, Form_Kestrelmap& form)
    : m_config(std::move(config)),
      m_form(form),
      m_link(std::make_unique<QtTeamLink>(teamLinkSettings(m_config, password),
                                          form.platform().messages, this)),
      m_hunt(std::make_unique<team::TeamHunt>(
          m_config.names, team::journalPath(folder, m_config.names), *m_link, form.platform().clock,
          form.platform().messages, team::panelPosition(form))),
      m_mapNotice(form.platform().messages, "team map file",
                  "The team's plots are kept; the next change writes it again.") {
    m_hunt->onTeamChanged = [this]() { team::writeTeamMap(*m_hunt, m_form, m_mapNotice); };
    m_hunt->start();
    m_form.addObserver(*m_hunt);
    m_positionTimer.setInterval(static_cast<int>(team::kPositionIntervalMs));
    connect(&m_positionTimer, &QTimer::timeout, this, [this]() { m_hunt->tick(); });
    m_positionTimer.start();
    m_link->start();
    team::writeTeamMap(*m_hunt, m_form, m_mapNotice);  // what the journal already held
}

TeamSession::~TeamSession() {
    m_positionTimer.stop();
    m_form.removeObserver(*m_hunt);
    m_hunt.reset();
    m_link.reset();
}

}  // namespace kestrel::qt
