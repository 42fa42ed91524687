#include "platform/qt/program.h"

#include <QDir>

#include "team/team_status.h"

namespace kestrel::qt {

Program::Program(std::string folder, instruments::RunOptions options)
    : m_platform(std::move(folder)),
      m_facilities(m_platform.platform()),
      m_form(m_facilities, m_platform.folder),
      m_window(m_form),
      m_inputs(m_form, m_platform.serial,
               [this](const std::function<void()>& handler) { m_window.runHandler(handler); }),
      m_options(std::move(options)),
      m_instruments(std::make_unique<InstrumentsWindow>()) {
    // A dialog runs a nested event loop in which timers and the serial line go on: the widgets
    // are brought up to date first, so the operator never sees a stale panel behind it.
    m_platform.setBeforeModal([this]() { m_window.syncAll(); });
    m_window.watchSerial(m_platform.serial);
    m_form.addObserver(m_huntLog);
    m_estimate.onVerdict = [this](const std::string& verdict) {
        m_huntLog.estimateVerdict(verdict);
    };
    QObject::connect(&m_window, &MainWindow::unloaded, &m_inputs, &InstrumentInputs::closeAll);
    m_instruments->setStatusProvider(
        [this](instruments::InputRole role) { return m_inputs.statusText(role); });
    QObject::connect(&m_window.optionsWindow(), &OptionsWindow::instrumentsRequested,
                     m_instruments.get(), [this]() { m_instruments->edit(m_inputs.config()); });
    QObject::connect(m_instruments.get(), &InstrumentsWindow::applied, m_instruments.get(),
                     [this](const instruments::InputConfig& config) { applyInputs(config); });
}

Program::~Program() {
    if (m_inputLog) {
        m_form.removeObserver(*m_inputLog);
    }
}

// Kestrelmap.conf is read first, so that start-up tries the COM line at its chosen rate.
void Program::start() {
    const ConfRead read = readConfFile(confPath(m_platform.folder));
    m_conf = read.settings;
    m_inputs.configure(m_options.applyTo(m_conf.instruments));
    m_form.Form_Load();
    const bool folderExists = QDir(toQString(m_platform.folder)).exists();
    if (!read.problem.empty()) {
        m_platform.messages.show(read.problem, "Kestrelmap", MessageButtons::Ok, false);
    }
    m_inputLog = std::make_unique<hunt_log::InputLog>(
        m_platform.files, m_platform.messages, m_platform.clock,
        hunt_log::inputLogPath(m_form.FILENAME_STRING));
    if (!folderExists) {
        m_inputLog->startQuiet();  // start-up has told the operator about the folder
    }
    m_form.addObserver(*m_inputLog);
    // The night panel as last chosen; a change is kept in Kestrelmap.conf.
    m_form.OptionsForm.setNightPanel(m_conf.night);
    m_form.OptionsForm.nightPanelChanged = [this](bool night) {
        ConfSettings settings = m_conf;
        settings.night = night;
        saveConf(settings);
    };
    startTeam();
    m_window.start();
}

// The team link when Kestrelmap.conf (or the command line) names a team: other vehicles' plots
// go into the plot log and the estimate, and the live map links the team map too.
void Program::startTeam() {
    TeamSession::Made made = TeamSession::create(m_platform.folder, m_form, m_teamOverrides);
    if (!made.error.empty()) {
        m_platform.messages.show("The team link is off: " + made.error, "Kestrelmap",
                                 MessageButtons::Ok, false);
    }
    m_team = std::move(made.session);
    if (!m_team) {
        return;
    }
    m_estimate.setVehicleName(m_team->config().names.vehicle);
    m_team->hunt().onPlotReceived = [this](const team::TeamPlot& received) {
        m_estimate.teamPlotReceived(team::plotRecordFrom(received), received.vehicle);
        m_window.syncAll();
    };
    m_instruments->setTeamStatusProvider([this]() {
        return toQString(team::teamStatusText(m_team->hunt(), m_team->link().brokerText(),
                                              m_platform.clock.utcMilliseconds()));
    });
    m_form.writeLiveHunt(true);
}

void Program::saveConf(const ConfSettings& settings) {
    m_conf = settings;
    if (!QDir(toQString(m_platform.folder)).exists()) {
        return;  // the settings hold for this run; start-up has said why nothing is kept
    }
    std::string reason;
    const std::string path = confPath(m_platform.folder);
    if (!writeConfFile(path, settings, reason)) {
        m_platform.messages.show("Kestrelmap cannot save " + path + " (" + reason + ").",
                                 "Kestrelmap", MessageButtons::Ok, false);
    }
}

void Program::applyInputs(const instruments::InputConfig& config) {
    m_inputs.configure(config);
    ConfSettings settings = m_conf;
    settings.instruments = config;
    saveConf(settings);
}

}  // namespace kestrel::qt
