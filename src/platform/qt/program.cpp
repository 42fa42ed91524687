#include "platform/qt/program.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

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
    m_instruments->setFrequencyLister([this]() { return m_inputs.krakenFrequencies(); });
    // An SDR bearing's confidence, power and frequency go with the plots made of it.
    m_inputs.setKrakenQualitySink([this](const instruments::KrakenReading& reading) {
        m_estimate.bearingQuality(reading.confidence, reading.powerDb, reading.frequencyHz,
                                  m_platform.clock.utcMilliseconds());
    });
    QObject::connect(&m_window.optionsWindow(), &OptionsWindow::instrumentsRequested,
                     m_instruments.get(), [this]() { m_instruments->edit(m_inputs.config()); });
    QObject::connect(m_instruments.get(), &InstrumentsWindow::applied, m_instruments.get(),
                     [this](const instruments::InputConfig& config) { applyInputs(config); });
}

Program::~Program() {
    if (m_team) {
        m_form.removeObserver(m_ownPlots);
    }
    if (m_inputLog) {
        m_form.removeObserver(*m_inputLog);
    }
}

// Kestrelmap.conf is read first, so that start-up tries the COM line at its chosen rate.
void Program::start() {
    const ConfRead read = readConfFile(confPath(m_platform.folder));
    m_conf = read.settings;
    m_estimate.setGates(m_conf.estimate);
    m_inputs.configure(m_options.applyTo(m_conf.instruments));
    startLiveMap();  // before start-up, so that the map sees the hunt begin
    m_form.Form_Load();
    const bool folderExists = QDir(toQString(m_platform.folder)).exists();
    if (!read.problem.empty()) {
        m_platform.messages.show(read.problem, "Kestrelmap", MessageButtons::Ok, false);
    }
    if (!m_mapProblem.empty()) {
        m_platform.messages.show("The live map is off: " + m_mapProblem +
                                     ".\nIs another Kestrelmap running? [map] port in "
                                     "Kestrelmap.conf, or --map-port, chooses another port.",
                                 "Kestrelmap", MessageButtons::Ok, false);
    }
    if (m_liveMap && m_liveMap->shareProblem().starts_with("not shared: ")) {
        m_platform.messages.show("The live map is " + m_liveMap->shareProblem() +
                                     ".\nIt is on this computer only ([map] in Kestrelmap.conf).",
                                 "Kestrelmap", MessageButtons::Ok, false);
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
    if (m_liveMap && m_mapOverrides.open) {
        openLiveMap();
    }
}

// The live map unless the command line or Kestrelmap.conf sets its port to 0. A port that
// cannot be had is told once, after start-up, and the program goes on without the map.
void Program::startLiveMap() {
    m_instruments->setMapStatusProvider([this]() { return mapStatusText(); });
    const int port = m_mapOverrides.port.value_or(m_conf.map.port);
    if (port == 0) {
        return;
    }
    live_map::MapSettings settings = m_conf.map;
    settings.share = settings.share || m_mapOverrides.share;
    m_liveMap = std::make_unique<LiveMap>(
        m_form, m_estimate, m_platform.folder,
        (QDir::homePath() + QStringLiteral("/Maps/")).toStdString(), settings);
    if (!m_liveMap->listen(port, m_mapProblem)) {
        m_liveMap.reset();
        return;
    }
    m_instruments->setMapLink([this]() { return m_liveMap->link(); },
                              [this]() {
                                  std::string problem;
                                  if (!m_liveMap->newLink(problem) && !problem.empty()) {
                                      m_platform.messages.show(
                                          "No new link for the live map: " + problem + ".",
                                          "Kestrelmap", MessageButtons::Ok, false);
                                  }
                              });
    m_window.setStatusLineLink([this]() { openLiveMap(); });
    m_liveMap->setReviewer(
        [this](int row, const live_map::ReviewAction& action) { return reviewPlot(row, action); });
}

HuntEstimate::Review Program::reviewPlot(int row, const live_map::ReviewAction& action) {
    const HuntEstimate::Review result =
        action.excluded
            ? m_estimate.setExcluded(row, *action.excluded, m_platform.clock.utcMilliseconds())
            : m_estimate.setNote(row, action.note.value_or(std::string()));
    if (result != HuntEstimate::Review::Changed) {
        return result;
    }
    // Leaving out one of this vehicle's own plots is the team's business; another vehicle's
    // plot is left out of this vehicle's estimate only.
    const auto plot = m_teamPlotOfRow.find(row);
    if (action.excluded && m_team && plot != m_teamPlotOfRow.end() &&
        plot->second.first == m_team->config().names.vehicle) {
        m_team->hunt().setOwnExclusion(plot->second.second, *action.excluded);
    }
    if (m_liveMap) {
        m_liveMap->model().plotReviewed();
    }
    m_window.syncAll();
    return result;
}

void Program::teamExclusion(const std::string& vehicle, int64_t seq, bool excluded) {
    const auto row = m_rowOfTeamPlot.find({vehicle, seq});
    if (row == m_rowOfTeamPlot.end() ||
        m_estimate.setExcluded(row->second, excluded, m_platform.clock.utcMilliseconds()) !=
            HuntEstimate::Review::Changed) {
        return;
    }
    if (m_liveMap) {
        m_liveMap->model().plotReviewed();
    }
    m_window.syncAll();
}

void Program::noteTeamPlot(int row, const std::string& vehicle, int64_t seq) {
    m_teamPlotOfRow[row] = {vehicle, seq};
    m_rowOfTeamPlot[{vehicle, seq}] = row;
}

void Program::openLiveMap() {
    if (m_liveMap) {
        QDesktopServices::openUrl(QUrl(m_liveMap->address()));
    }
}

QString Program::mapStatusText() const {
    if (!m_liveMap) {
        return m_mapProblem.empty()
                   ? QStringLiteral("Off (its port is 0).")
                   : QStringLiteral("Off: %1.").arg(toQString(m_mapProblem).toHtmlEscaped());
    }
    const QString address = m_liveMap->address();
    QString text = QStringLiteral("<a href=\"%1\">%1</a> (pages open: %2)")
                       .arg(address)
                       .arg(m_liveMap->server().pageCount());
    QStringList layers;
    for (const live_map::TileLayer& layer : m_liveMap->tiles().layers()) {
        layers << toQString(layer.name).toHtmlEscaped();
    }
    text +=
        QStringLiteral("<br>Base maps: ") +
        (layers.isEmpty()
             ? QStringLiteral("none in %1maps/").arg(toQString(m_platform.folder).toHtmlEscaped())
             : layers.join(QStringLiteral(", ")));
    for (const std::string& problem : m_liveMap->tiles().problems()) {
        text += QStringLiteral("<br>") + toQString(problem).toHtmlEscaped();
    }
    if (!m_liveMap->shareProblem().empty()) {
        text += QStringLiteral("<br>") + toQString(m_liveMap->shareProblem()).toHtmlEscaped();
    }
    if (const live_map::MapAccess* access = m_liveMap->server().access()) {
        text += m_liveMap->server().tls()
                    ? QStringLiteral("<br>Shared on the network over TLS.")
                    : QStringLiteral(
                          "<br>Shared on the network in plain HTTP: anyone on this "
                          "Wi-Fi can read what the map sends.");
        for (const auto& [address, ms] : access->refused(MapServer::nowMs())) {
            text += QStringLiteral(
                        "<br>%1 is refused for a minute after %2 wrong keys (%3 s "
                        "left).")
                        .arg(toQString(address).toHtmlEscaped())
                        .arg(live_map::kMaxWrongKeys)
                        .arg((ms + 999) / 1000);
        }
    }
    return text;
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
        const PlotRecord record = team::plotRecordFrom(received);
        m_estimate.teamPlotReceived(record, received.vehicle);
        noteTeamPlot(m_estimate.rows(), received.vehicle, received.seq);
        if (m_liveMap) {
            m_liveMap->model().teamPlotReceived(record, received.vehicle);
        }
        m_window.syncAll();
    };
    // Watches after the team link, which numbers each own plot first.
    m_ownPlots.ownPlotNumbered = [this]() {
        noteTeamPlot(m_estimate.rows(), m_team->config().names.vehicle,
                     m_team->hunt().lastOwnSeq());
    };
    m_form.addObserver(m_ownPlots);
    m_team->hunt().onExclusionReceived = [this](const std::string& vehicle, int64_t seq,
                                                bool excluded) {
        teamExclusion(vehicle, seq, excluded);
    };
    if (m_liveMap) {
        m_team->hunt().onTeamChanged = [this, teamMap = m_team->hunt().onTeamChanged]() {
            if (teamMap) {
                teamMap();
            }
            m_liveMap->model().teamChanged(m_team->hunt().vehicles());
        };
    }
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
