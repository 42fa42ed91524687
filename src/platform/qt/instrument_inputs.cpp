#include "platform/qt/instrument_inputs.h"

#include <QMetaObject>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/qt/qt_platform.h"

namespace kestrel::qt {

namespace {
constexpr int kGpsdSteadyMs = 10000;
}  // namespace

// One own input: a serial port, or for the GPS gpsd, with its receive buffers and status.
class InstrumentInputs::OwnInput : public instruments::InstrumentInput {
  public:
    OwnInput(InstrumentInputs& owner, InputRole role, const char* name,
             InputBuffer::Carries carries)
        : buffer(name, carries), monitor(role), serial(owner.m_form.folder()), m_owner(owner) {}

    bool open(std::string& reason) override {
        buffer.clear();
        pending.clear();
        if (useGpsd || useKraken) {
            if (useKraken) {  // a new run: its first failure is told again
                m_owner.m_krakenFailing = false;
                m_owner.m_krakenSinceMs = m_owner.nowMs();
                m_owner.m_krakenTimeMs.reset();
                m_owner.m_krakenLast.reset();
            }
            useGpsd ? gpsd.start() : kraken.start();
            monitor.opened(m_owner.nowMs());
            return true;
        }
        if (!serial.open()) {
            reason = serial.openFailure().toStdString();
            monitor.closed();
            monitor.failed("cannot open " + where() + ": " + reason);
            return false;
        }
        lost = false;
        monitor.opened(m_owner.nowMs());
        return true;
    }
    void close() override {
        gpsd.stop();
        kraken.stop();
        serial.close();
        monitor.closed();
        lost = false;
    }
    bool isOpen() const override {
        return useGpsd ? gpsd.isStarted() : useKraken ? kraken.isStarted() : serial.isOpen();
    }
    std::string where() const override {
        const QString path = serial.devicePath(0);
        return (useGpsd          ? gpsd.where()
                : useKraken      ? kraken.where()
                : path.isEmpty() ? QStringLiteral("(no device)")
                                 : path)
            .toStdString();
    }

    InputBuffer buffer;
    instruments::InputMonitor monitor;
    QtSerialPort serial;
    QtGpsdInput gpsd;
    QtKrakenInput kraken;
    bool useGpsd = false;
    bool useKraken = false;
    bool lost = false;     // the serial device has gone and is being retried
    bool feeding = false;  // the core is framing this input's text (a dialog may be open)
    std::string pending;   // arrived while feeding, framed when that returns

  private:
    InstrumentInputs& m_owner;
};

InstrumentInputs::InstrumentInputs(Form_Kestrelmap& form, QtSerialPort& line,
                                   HandlerRunner runHandler, QObject* parent)
    : QObject(parent),
      m_form(form),
      m_line(line),
      m_runHandler(std::move(runHandler)),
      m_gps(
          std::make_unique<OwnInput>(*this, InputRole::Gps, "GPS", InputBuffer::Carries::Position)),
      m_df(std::make_unique<OwnInput>(*this, InputRole::Df, "DF", InputBuffer::Carries::Bearing)),
      m_router(form, *m_gps, *m_df) {
    for (OwnInput* input : {m_gps.get(), m_df.get()}) {
        connect(&input->serial, &QtSerialPort::portEvent, this,
                [this, input]() { onSerialEvent(*input); });
    }
    connect(&m_gps->gpsd, &QtGpsdInput::sentences, this,
            [this](const std::string& text) { feed(*m_gps, text); });
    connect(&m_gps->gpsd, &QtGpsdInput::failed, this, &InstrumentInputs::onGpsdFailed);
    connect(&m_gps->gpsd, &QtGpsdInput::reached, this, &InstrumentInputs::onGpsdReached);
    connect(&m_df->kraken, &QtKrakenInput::answer, this, &InstrumentInputs::onKrakenAnswer);
    connect(&m_df->kraken, &QtKrakenInput::failed, this,
            [this](const QString& reason) { krakenFailed(reason.toStdString()); });
    m_gpsdSteady.setSingleShot(true);
    m_gpsdSteady.setInterval(kGpsdSteadyMs);
    connect(&m_gpsdSteady, &QTimer::timeout, this, [this]() { m_gpsdFailing = false; });
    m_form.addObserver(*this);
}

InstrumentInputs::~InstrumentInputs() {
    m_form.removeObserver(*this);
    m_form.setInputSwitch(nullptr);
    closeAll();
}

int64_t InstrumentInputs::nowMs() const {
    return m_form.platform().clock.utcMilliseconds();
}

void InstrumentInputs::configure(const instruments::InputConfig& config) {
    m_runHandler([this, config]() {
        m_config = config;
        m_line.setBaudRate(config.lineBaud);
        m_gps->close();
        m_df->close();
        m_gps->useGpsd = config.gps == instruments::GpsFrom::Gpsd;
        m_gps->serial.setDevice(toQString(config.gpsSerial.device));
        m_gps->serial.setBaudRate(config.gpsSerial.baud);
        m_gps->gpsd.setAddress(toQString(config.gpsdHost), config.gpsdPort);
        m_df->serial.setDevice(toQString(config.dfSerial.device));
        m_df->serial.setBaudRate(config.dfSerial.baud);
        m_df->useKraken = config.df == instruments::DfFrom::Kraken;
        m_df->kraken.setAddress(toQString(config.krakenHost), config.krakenPort);
        m_krakenFrequencies.clear();
        m_gpsdFailing = false;
        m_gpsdSteady.stop();
        m_router.setConfig(config);
        const bool own = instruments::usesOwnInputs(config);
        m_form.setInputSwitch(own ? &m_router : nullptr);

        const bool positOnGps = m_form.CmdButton_POSIT_SOURCE.Tag == "GPS";
        const bool bearingOnDf = m_form.CmdButton_DF_SOURCE.Tag == "DF";
        if (!positOnGps && !bearingOnDf) {
            return;
        }
        // The router keeps the COM line's rules here too: a port that is not valid, or fails
        // to open, is told, and one that fails is marked busy.
        if (!m_router.switchInputs(positOnGps, bearingOnDf)) {
            m_form.positToManual();
            m_form.dfToManual();
            if (m_line.isOpen()) {
                m_line.close();
            }
        }
    });  // the runner's afterEvent refreshes the line's status
}

void InstrumentInputs::closeAll() {
    m_gps->close();
    m_df->close();
}

QString InstrumentInputs::statusText(InputRole role) const {
    const int64_t now = nowMs();
    const QString onLine = QStringLiteral("on the COM line");
    switch (role) {
        case InputRole::Gps:
            return m_config.gps == instruments::GpsFrom::Line
                       ? onLine
                       : QString::fromStdString(m_gps->monitor.statusText(now));
        case InputRole::Df: {
            if (m_config.df == instruments::DfFrom::Line) {
                return onLine;
            }
            QString text = QString::fromStdString(m_df->monitor.statusText(now));
            if (m_config.df == instruments::DfFrom::Kraken && m_krakenFailing && m_df->isOpen()) {
                text +=
                    QStringLiteral(" (no bearing for %1 s)").arg((now - m_krakenSinceMs) / 1000);
            } else if (m_config.df == instruments::DfFrom::Kraken && m_krakenLast &&
                       m_df->isOpen()) {
                text += QStringLiteral(
                            "\nlast: %1\u00b0 relative (array %2\u00b0), "
                            "confidence %3, %4 dB at %5 MHz")
                            .arg(m_krakenBearing)
                            .arg(m_krakenLast->direction, 0, 'f', 1)
                            .arg(m_krakenLast->confidence, 0, 'f', 0)
                            .arg(m_krakenLast->powerDb, 0, 'f', 1)
                            .arg(m_krakenLast->frequencyHz / 1e6, 0, 'f', 4);
            }
            return text;
        }
        case InputRole::Line:
            if (QString problem = lineProblem(); !problem.isEmpty()) {
                return problem;
            }
            break;
    }
    return QString::fromStdString(m_lineMonitor.statusText(now));
}

void InstrumentInputs::lineReceived(std::string_view input, std::string_view line) {
    if (input == "GPS") {
        m_gps->monitor.lineReceived(line, nowMs());
    } else if (input == "DF") {
        m_df->monitor.lineReceived(line, nowMs());
    } else {
        if (!m_lineWasOpen) {
            refreshLine();  // opened since the last handler: the line counts from here on
        }
        m_lineMonitor.lineReceived(line, nowMs());
    }
}

// After every handler: the COM line's status follows what the handler did to it (opened,
// closed, lost or back), and a source that went back to manual some other way (the port
// button) no longer holds its own input open.
void InstrumentInputs::eventHandled() {
    refreshLine();
    if (instruments::usesOwnInputs(m_config)) {
        m_router.closeUnneeded();
    }
}

// Text is framed through the main window's handler runner, so the panel follows at once. Text
// that arrives while a dialog opened by the framing is up waits for it to return.
void InstrumentInputs::feed(OwnInput& input, const std::string& bytes) {
    input.pending += bytes;
    if (input.feeding) {
        return;
    }
    input.feeding = true;
    while (!input.pending.empty() && input.isOpen()) {
        const std::string text = std::move(input.pending);
        input.pending.clear();
        m_runHandler([this, &input, &text]() { m_form.receiveOn(input.buffer, text); });
    }
    input.pending.clear();
    input.feeding = false;
}

void InstrumentInputs::onSerialEvent(OwnInput& input) {
    const std::string bytes = input.serial.readAll();
    const bool lost = input.serial.deviceLost();
    if (lost != input.lost) {
        input.lost = lost;
        if (lost) {
            input.monitor.failed(input.where() + " disconnected, trying again every second");
        } else {
            input.buffer.clear();  // a line cut off by the loss is not joined to the next
            input.monitor.recovered(nowMs());
        }
    }
    if (!bytes.empty()) {
        feed(input, bytes);
    }
}

// A gpsd that hangs up again and again (or a peer that is not gpsd) is one run of failures:
// only a connection that has lasted a while ends it.
void InstrumentInputs::onGpsdFailed(const QString& reason) {
    m_gpsdSteady.stop();
    const std::string where = m_gps->where();
    m_gps->monitor.failed(where + " not reachable");
    m_gps->buffer.clear();
    if (m_gpsdFailing) {
        return;
    }
    m_gpsdFailing = true;
    const std::string text = "GPS: " + where + " not reachable (" + reason.toStdString() +
                             "). Kestrelmap keeps trying every second.";
    // Shown from the event loop, not from inside the socket's signal.
    QMetaObject::invokeMethod(
        this,
        [this, text]() {
            if (m_gps->isOpen()) {
                m_form.platform().messages.show(text, "Kestrelmap", MessageButtons::Ok, false);
            }
        },
        Qt::QueuedConnection);
}

void InstrumentInputs::onGpsdReached() {
    m_gpsdSteady.start();
    m_gps->monitor.recovered(nowMs());
}

// An answer of the SDR direction finder: the line of the chosen frequency, when its time has
// moved on, becomes a bearing line as the designed direction finder sends it ("%045/7", the
// confidence 0-99 as the quality digit 0-9), so that everything after it (freshness, the
// course added, S P D, dashes) is the designed direction finder's. The answer's lines go to the
// input log as they came.
void InstrumentInputs::onKrakenAnswer(const QByteArray& body) {
    if (!m_df->isOpen()) {
        return;
    }
    const std::string_view text(body.constData(), size_t(body.size()));
    const instruments::KrakenParse parse = instruments::parseKrakenAnswer(text);
    if (!parse.problem.empty()) {
        krakenFailed(parse.problem);
        return;
    }
    m_krakenFrequencies.clear();
    for (const instruments::KrakenReading& line : parse.lines) {
        m_krakenFrequencies.push_back(line.frequencyHz);
    }
    const std::optional<instruments::KrakenReading> chosen =
        instruments::chooseKrakenLine(parse.lines, m_config.dfFrequencyHz);
    if (!chosen) {
        char wanted[32];
        std::snprintf(wanted, sizeof wanted, "%.4f", m_config.dfFrequencyHz.value_or(0) / 1e6);
        krakenFailed(std::string("no line within 5 kHz of ") + wanted + " MHz");
        return;
    }
    // The same line again is not fresh: the bearing goes stale by itself. A time far behind the
    // last one is a new series (the DSP computer restarted, or its clock was set back), not an
    // old line: waiting for it to pass the old time could keep the bearing dashed for hours.
    constexpr int64_t kNewSeriesMs = 60000;
    const bool newSeries = m_krakenTimeMs && chosen->timeMs < *m_krakenTimeMs - kNewSeriesMs;
    if (!newSeries && !instruments::isNewer(*chosen, m_krakenTimeMs)) {
        return;
    }
    m_krakenTimeMs = chosen->timeMs;
    m_krakenSinceMs = nowMs();
    if (m_krakenFailing || !m_krakenLast) {
        m_df->monitor.recovered(nowMs());
    }
    m_krakenFailing = false;
    m_krakenLast = chosen;
    m_krakenBearing = instruments::krakenRelativeBearing(
        chosen->direction, std::isfinite(m_config.dfArrayOffset) ? m_config.dfArrayOffset : 0);
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!line.empty()) {
            m_form.announceLine("KRAKEN", line);
        }
        start = end + 1;
    }
    if (m_krakenQuality) {
        m_krakenQuality(*chosen);
    }
    char bearing[16];
    std::snprintf(bearing, sizeof bearing, "%%%03d/%d\r", m_krakenBearing,
                  std::clamp(int(chosen->confidence) / 10, 0, 9));
    feed(*m_df, bearing);
}

// A direction finder that cannot be asked, or answers what cannot be used, is one run of
// failures until a fresh bearing comes: told once, then only in the instruments window.
void InstrumentInputs::krakenFailed(const std::string& problem) {
    if (!m_df->isOpen()) {
        return;
    }
    const std::string where = m_df->where();
    m_df->monitor.failed(where + ": " + problem);
    if (m_krakenFailing) {
        return;
    }
    m_krakenFailing = true;
    const std::string text =
        "Direction finder: " + where + ": " + problem + ". Kestrelmap keeps trying every second.";
    QMetaObject::invokeMethod(
        this,
        [this, text]() {
            if (m_df->isOpen()) {
                m_form.platform().messages.show(text, "Kestrelmap", MessageButtons::Ok, false);
            }
        },
        Qt::QueuedConnection);
}

// Only the line's opening, closing and return are recorded here; what keeps it from receiving
// is read as it stands when the status is asked for (lineProblem).
void InstrumentInputs::refreshLine() {
    const bool open = m_line.isOpen();
    if (open != m_lineWasOpen) {
        m_lineWasOpen = open;
        open ? m_lineMonitor.opened(nowMs()) : m_lineMonitor.closed();
    }
    if (open && m_line.deviceLost()) {
        m_lineMonitor.failed("disconnected");  // once it is back, what came before no longer counts
    } else if (open) {
        m_lineMonitor.recovered(nowMs());
    }
}

QString InstrumentInputs::lineProblem() const {
    const bool open = m_line.isOpen();
    if (!open && !m_form.PORT_VALID) {
        const QString& failure = m_line.openFailure();
        return QStringLiteral("cannot open ") + m_line.devicePath(m_line.portNumber()) +
               (failure.isEmpty() ? QString() : QStringLiteral(": ") + failure);
    }
    if (open && m_line.deviceLost()) {
        return m_line.devicePath(m_line.portNumber()) +
               QStringLiteral(" disconnected, trying again every second");
    }
    return {};
}

}  // namespace kestrel::qt
