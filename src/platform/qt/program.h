#pragma once
// One run of Kestrelmap: the Qt platform facilities, the core's main window and the windows
// on screen, wired together, with what attaches beside them: Kestrelmap.conf, the instruments
// window and the recorded hunt. main() builds one; the Qt tests build one per test against a
// temporary HOME. Build it after QApplication.

#include <map>
#include <memory>
#include <string>

#include "app/form_kestrelmap.h"
#include "hunt/hunt_estimate.h"
#include "hunt_log/input_log.h"
#include "instruments/input_options.h"
#include "platform/qt/command_line.h"
#include "platform/qt/conf_file.h"
#include "platform/qt/diagnostics.h"
#include "platform/qt/instrument_inputs.h"
#include "platform/qt/instruments_window.h"
#include "platform/qt/live_map/live_map.h"
#include "platform/qt/main_window.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/team_session.h"

namespace kestrel::qt {

class Program {
  public:
    // The Kestrelmap folder under the current HOME; `options` from the command line.
    explicit Program(std::string folder = kestrelmapFolder(), instruments::RunOptions options = {});
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    ~Program();

    // Kestrelmap.conf (a damaged one is told once) and the inputs it names, start-up
    // (Form_Load), the night panel as last chosen and the recorded hunt; then the main window
    // comes up and is activated.
    void start();

    QtPlatform& platform() { return m_platform; }
    Form_Kestrelmap& form() { return m_form; }
    MainWindow& window() { return m_window; }
    HuntEstimate& estimate() { return m_estimate; }
    InstrumentsWindow& instrumentsWindow() { return *m_instruments; }
    // What Kestrelmap.conf said (as last saved).
    const ConfSettings& conf() const { return m_conf; }
    // Saves `settings` to Kestrelmap.conf (not when the folder is missing); a failure is told.
    void saveConf(const ConfSettings& settings);
    hunt_log::InputLog* inputLog() { return m_inputLog.get(); }
    // The instruments' inputs: where each instrument's data comes from (the file's
    // [instruments] with the command line laid over them, then whatever the window applied),
    // and their status.
    InstrumentInputs& inputs() { return m_inputs; }
    HuntLog& huntLog() { return m_huntLog; }
    // The team link of this run; null without a team (or when its settings were refused).
    TeamSession* team() { return m_team.get(); }
    // --team, --vehicle, --hunt, --broker: set before start().
    void setTeamOverrides(team::TeamOverrides overrides) { m_teamOverrides = std::move(overrides); }
    // --map-port, --open-map: set before start().
    void setMapOverrides(MapOverrides overrides) { m_mapOverrides = overrides; }
    // The live map of this run; null when it is off or its port could not be had.
    LiveMap* liveMap() { return m_liveMap.get(); }
    // The live map in the default web browser.
    void openLiveMap();

  private:
    void applyInputs(const instruments::InputConfig& config);
    void startTeam();
    void startLiveMap();
    QString mapStatusText() const;
    // A plot left out, used again or given a note from the map: the estimate, the map and the
    // panel follow at once; the team hears when one of this vehicle's own plots is left out.
    HuntEstimate::Review reviewPlot(int row, const live_map::ReviewAction& action);
    // Another vehicle left one of its plots out, or took it back.
    void teamExclusion(const std::string& vehicle, int64_t seq, bool excluded);

    QtPlatform m_platform;
    kestrel::Platform m_facilities;  // references into m_platform, held for the core
    HuntLog m_huntLog;               // watches m_form, so it outlives it
    Form_Kestrelmap m_form;
    HuntEstimate m_estimate{m_form};  // the plot log, the estimate map and the status line
    MainWindow m_window;
    InstrumentInputs m_inputs;
    instruments::RunOptions m_options;
    ConfSettings m_conf;
    std::unique_ptr<InstrumentsWindow> m_instruments;
    std::unique_ptr<hunt_log::InputLog> m_inputLog;
    team::TeamOverrides m_teamOverrides;
    MapOverrides m_mapOverrides;
    std::unique_ptr<LiveMap> m_liveMap;  // watches m_form; the team session feeds it
    std::string m_mapProblem;            // why the live map is off, when it should be on
    std::unique_ptr<TeamSession> m_team;
    // The team's plots in the plot log: row to (vehicle, seq) and back; own plots under the
    // own vehicle's name, noted after the team link has numbered them.
    struct TeamPlotsOfRows : HuntObserver {
        std::function<void()> ownPlotNumbered;
        void plotMade(const PlotRecord&) override { ownPlotNumbered(); }
    };
    TeamPlotsOfRows m_ownPlots;
    std::map<int, std::pair<std::string, int64_t>> m_teamPlotOfRow;
    std::map<std::pair<std::string, int64_t>, int> m_rowOfTeamPlot;
    void noteTeamPlot(int row, const std::string& vehicle, int64_t seq);
};

}  // namespace kestrel::qt
