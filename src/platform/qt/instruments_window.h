#pragma once
// The instruments window: where the GPS and the direction finder get their data (the shared
// line, a serial port of their own, gpsd), the ports that exist, the baud rates, and how each
// input is doing right now. It only edits a copy of the configuration: OK hands the copy over
// through applied(), Cancel drops it. Large text and plain keyboard order, for use at night in a
// moving car.

#include <QDialog>
#include <QString>
#include <functional>
#include <vector>

#include "instruments/input_config.h"
#include "platform/qt/serial_ports.h"

class QComboBox;
class QDoubleSpinBox;
class QFormLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QScrollArea;
class QSpinBox;
class QTimer;

namespace kestrel::qt {

class InstrumentsWindow : public QDialog {
    Q_OBJECT
  public:
    // How an input is doing, in a few words; asked once a second while the window is open.
    using StatusProvider = std::function<QString(instruments::InputRole)>;
    // Where the ports come from (the tests give their own list).
    using PortLister = std::function<std::vector<SerialPortEntry>()>;

    explicit InstrumentsWindow(QWidget* parent = nullptr);

    void setStatusProvider(StatusProvider provider);
    // The team link's state in a few lines; without one the team box stays hidden.
    void setTeamStatusProvider(std::function<QString()> provider);
    // The live map's line: its address (a link) or why it is off, and its base maps.
    void setMapStatusProvider(std::function<QString()> provider);
    // The shared map's link for a phone (empty: not shared), shown as text and as a QR code, and
    // what the "New link" button does.
    void setMapLink(std::function<QString()> link, std::function<void()> newLink);
    void setPortLister(PortLister lister) { m_listPorts = std::move(lister); }
    // The frequencies (Hz) the SDR direction finder reports, offered in its frequency list.
    void setFrequencyLister(std::function<std::vector<double>()> lister) {
        m_listFrequencies = std::move(lister);
    }
    // Shows `config` with a fresh list of ports, and opens the window (not modal: the hunt goes
    // on behind it).
    void edit(const instruments::InputConfig& config);
    // The configuration the window shows now; an empty text in `problem` when it is usable.
    instruments::InputConfig shownConfig(QString& problem) const;

  signals:
    void applied(const kestrel::instruments::InputConfig& config);

  public slots:
    void accept() override;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    struct SerialRow {
        QComboBox* port = nullptr;
        QComboBox* baud = nullptr;
    };
    QWidget* buildGps();
    QWidget* buildDf();
    QWidget* buildLine();
    // The port list, the line under it and the baud rate; object names start with `name`.
    SerialRow addSerialRows(QFormLayout& form, const QString& name);
    void fillPorts(QComboBox& box, const std::vector<SerialPortEntry>& ports,
                   const std::string& current);
    void updateEnabled();
    void fillFrequencies(std::optional<double> current);
    void fitToScreen();
    void refreshStatus();

    QScrollArea* m_scroll = nullptr;
    QComboBox* m_gpsFrom = nullptr;
    SerialRow m_gpsSerial;
    QLineEdit* m_gpsdHost = nullptr;
    QSpinBox* m_gpsdPort = nullptr;
    QLabel* m_gpsStatus = nullptr;
    QComboBox* m_dfFrom = nullptr;
    SerialRow m_dfSerial;
    QLineEdit* m_krakenAddress = nullptr;
    QComboBox* m_dfFrequency = nullptr;  // MHz; empty: the first the direction finder reports
    QDoubleSpinBox* m_dfOffset = nullptr;
    QLabel* m_dfStatus = nullptr;
    QComboBox* m_lineBaud = nullptr;
    QLabel* m_lineStatus = nullptr;
    QGroupBox* m_teamBox = nullptr;
    QLabel* m_teamStatus = nullptr;
    QGroupBox* m_mapBox = nullptr;
    QLabel* m_mapStatus = nullptr;
    std::function<QString()> m_mapStatusText;
    QWidget* m_share = nullptr;  // the link, its QR code and the button
    QLabel* m_shareLink = nullptr;
    QLabel* m_shareCode = nullptr;
    std::function<QString()> m_mapLink;
    std::function<void()> m_newLink;
    std::function<QString()> m_teamStatusText;
    QLabel* m_problem = nullptr;
    QTimer* m_statusTimer = nullptr;
    StatusProvider m_status;
    PortLister m_listPorts = [] { return serialPorts(); };
    std::function<std::vector<double>()> m_listFrequencies;
};

}  // namespace kestrel::qt
