#pragma once
// The instruments' inputs beside the COM line: the GPS on a serial port of its own or through
// gpsd, the direction finder on a serial port of its own, and the COM line's rate. Owned by
// Program. It applies an input configuration at once, feeds what each input receives to the
// core's framing on that input's own buffers, recovers from a lost device or a stopped gpsd,
// and keeps each input's status as text for the instruments window. Which input opens for which
// source state is the core's InputRouter; nothing here decides it.

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/form_kestrelmap.h"
#include "instruments/input_config.h"
#include "instruments/input_routing.h"
#include "instruments/input_status.h"
#include "instruments/kraken_line.h"
#include "platform/qt/gpsd_input_qt.h"
#include "platform/qt/kraken_input_qt.h"
#include "platform/qt/serial_port_qt.h"

namespace kestrel::qt {

using instruments::InputRole;

class InstrumentInputs : public QObject, private HuntObserver {
    Q_OBJECT
  public:
    // Runs a core handler the way the main window does (then re-syncs the widgets).
    using HandlerRunner = std::function<void(const std::function<void()>&)>;

    // `line` is the COM line (the platform's serial port, MSComm1).
    InstrumentInputs(Form_Kestrelmap& form, QtSerialPort& line, HandlerRunner runHandler,
                     QObject* parent = nullptr);
    ~InstrumentInputs() override;

    // Takes effect at once: what the sources need is reopened by the new configuration; when
    // that fails (the operator is told) the sources go back to manual.
    void configure(const instruments::InputConfig& config);
    const instruments::InputConfig& config() const { return m_config; }
    // "receiving, last fix 0.4 s ago", "no data for 12 s", "closed (not needed)", what keeps
    // the input from receiving, or for an instrument on the COM line "on the COM line".
    QString statusText(InputRole role) const;
    // Closes every own input (the program is ending).
    void closeAll();
    // The frequencies the SDR direction finder reported last, in its order (Hz).
    const std::vector<double>& krakenFrequencies() const { return m_krakenFrequencies; }
    // Told each fresh SDR bearing's confidence, power and frequency (the plot log keeps them).
    using KrakenQualitySink = std::function<void(const instruments::KrakenReading&)>;
    void setKrakenQualitySink(KrakenQualitySink sink) { m_krakenQuality = std::move(sink); }

  private:
    class OwnInput;

    void lineReceived(std::string_view input, std::string_view line) override;
    void eventHandled() override;
    void feed(OwnInput& input, const std::string& bytes);
    void onSerialEvent(OwnInput& input);
    void onGpsdFailed(const QString& reason);
    void onGpsdReached();
    void onKrakenAnswer(const QByteArray& body);
    void krakenFailed(const std::string& problem);
    void refreshLine();
    // What keeps the COM line from receiving now; empty when nothing does.
    QString lineProblem() const;
    int64_t nowMs() const;

    Form_Kestrelmap& m_form;
    QtSerialPort& m_line;
    HandlerRunner m_runHandler;
    instruments::InputConfig m_config;
    std::unique_ptr<OwnInput> m_gps;
    std::unique_ptr<OwnInput> m_df;
    instruments::InputRouter m_router;
    instruments::InputMonitor m_lineMonitor{InputRole::Line};
    bool m_lineWasOpen = false;
    bool m_gpsdFailing = false;    // told once for each run of failures
    QTimer m_gpsdSteady;           // a connection that lasts this long ends the run of failures
    bool m_krakenFailing = false;  // told once for each run of failures
    std::optional<int64_t> m_krakenTimeMs;  // the time of the last line used
    std::optional<instruments::KrakenReading> m_krakenLast;
    int m_krakenBearing = 0;      // the relative bearing it gave
    int64_t m_krakenSinceMs = 0;  // the last fresh bearing, or the start of asking
    std::vector<double> m_krakenFrequencies;
    KrakenQualitySink m_krakenQuality;
};

}  // namespace kestrel::qt
