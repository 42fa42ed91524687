#pragma once
// The team link of one run, assembled: the [team] settings (with the command line's overrides),
// the password file, the MQTT client, the TeamHunt observing the main window's plots, the
// 10-s position timer and the team map files. The program makes one after Form_Load when a
// team is configured; it only wires parts together and holds no rule of its own.

#include <QObject>
#include <QTimer>
#include <memory>
#include <string>

#include "app/form_kestrelmap.h"
#include "app/write_notice.h"
#include "platform/qt/team_link_qt.h"
#include "team/team_config.h"
#include "team/team_hunt.h"

namespace kestrel::qt {

class TeamSession : public QObject {
    Q_OBJECT
  public:
    struct Made {
        std::unique_ptr<TeamSession> session;  // none: no team, or `error`
        std::string error;                     // for the operator: the key or file at fault
    };
    // Reads <folder>Kestrelmap.conf and keeps the journal there; `folder` with its trailing
    // separator. Call after Form_Load (the team map carries the hunt's stamp). The form must
    // outlive the session.
    static Made create(const std::string& folder, Form_Kestrelmap& form,
                       const team::TeamOverrides& overrides);
    ~TeamSession() override;

    team::TeamHunt& hunt() { return *m_hunt; }
    QtTeamLink& link() { return *m_link; }
    const team::TeamConfig& config() const { return m_config; }

  private:
    TeamSession(team::TeamConfig config, const std::string& password, const std::string& folder,
                Form_Kestrelmap& form);

    team::TeamConfig m_config;
    Form_Kestrelmap& m_form;
    std::unique_ptr<QtTeamLink> m_link;
    std::unique_ptr<team::TeamHunt> m_hunt;  // declared after the link: let go of first
    WriteNotice m_mapNotice;
    QTimer m_positionTimer;
};

}  // namespace kestrel::qt
