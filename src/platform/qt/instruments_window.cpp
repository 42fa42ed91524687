#include "platform/qt/instruments_window.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

#include "instruments/input_options.h"
#include "platform/qt/live_map/map_sharing.h"

namespace kestrel::qt {

namespace {

using instruments::DfFrom;
using instruments::GpsFrom;
using instruments::InputConfig;
using instruments::InputRole;

constexpr int kTextPoints = 14;  // readable at arm's length in a moving car
constexpr int kStatusMs = 1000;

QComboBox* baudBox(QWidget* parent) {
    auto* box = new QComboBox(parent);
    for (int baud : instruments::standardBauds()) {
        box->addItem(QString::number(baud), baud);
    }
    return box;
}

void selectData(QComboBox& box, const QVariant& data) {
    const int index = box.findData(data);
    box.setCurrentIndex(index < 0 ? 0 : index);
}

QLabel* statusLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// The port's other names, for the line under the list; nothing when the list says it all.
QString portDetails(const SerialPortEntry& port) {
    if (port.byId.isEmpty() && port.description.isEmpty() && port.serialNumber.isEmpty()) {
        return {};
    }
    return portParts(port, QStringLiteral("serial number ")).join(QStringLiteral(" - "));
}

}  // namespace

InstrumentsWindow::InstrumentsWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("InstrumentsWindow"));
    setWindowTitle(QStringLiteral("Kestrelmap instruments"));
    QFont big = font();
    big.setPointSize(kTextPoints);
    setFont(big);

    // The inputs, the team and the map scroll when the screen is too low for them all (a small
    // laptop with the map shared); the problem line and the buttons stay in view.
    auto* outer = new QVBoxLayout(this);
    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* body = new QWidget(m_scroll);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(m_scroll, 1);
    layout->addWidget(buildGps());
    layout->addWidget(buildDf());
    layout->addWidget(buildLine());
    m_teamBox = new QGroupBox(QStringLiteral("Team link"), this);
    m_teamStatus = statusLabel(m_teamBox);
    m_teamStatus->setObjectName(QStringLiteral("teamStatus"));
    (new QVBoxLayout(m_teamBox))->addWidget(m_teamStatus);
    m_teamBox->setVisible(false);
    layout->addWidget(m_teamBox);
    m_mapBox = new QGroupBox(QStringLiteral("Live map"), this);
    m_mapStatus = statusLabel(m_mapBox);
    m_mapStatus->setObjectName(QStringLiteral("mapStatus"));
    m_mapStatus->setTextFormat(Qt::RichText);
    m_mapStatus->setOpenExternalLinks(true);
    m_mapStatus->setTextInteractionFlags(Qt::TextBrowserInteraction);
    auto* mapLayout = new QVBoxLayout(m_mapBox);
    mapLayout->addWidget(m_mapStatus);
    m_share = new QWidget(m_mapBox);
    auto* shareLayout = new QHBoxLayout(m_share);
    shareLayout->setContentsMargins(0, 0, 0, 0);
    m_shareCode = new QLabel(m_share);
    m_shareCode->setObjectName(QStringLiteral("mapQrCode"));
    m_shareCode->setAccessibleName(QStringLiteral("The shared map's link as a QR code"));
    shareLayout->addWidget(m_shareCode);
    auto* linkColumn = new QVBoxLayout;
    m_shareLink = new QLabel(m_share);
    m_shareLink->setObjectName(QStringLiteral("mapLink"));
    m_shareLink->setTextFormat(Qt::PlainText);
    m_shareLink->setWordWrap(true);
    m_shareLink->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    linkColumn->addWidget(
        new QLabel(QStringLiteral("On a phone on this Wi-Fi: scan the code, or open"), m_share));
    linkColumn->addWidget(m_shareLink);
    auto* newLink = new QPushButton(QStringLiteral("&New link"), m_share);
    newLink->setObjectName(QStringLiteral("mapNewLink"));
    newLink->setToolTip(
        QStringLiteral("A new key: the old link and every phone that used it are shut out."));
    connect(newLink, &QPushButton::clicked, this, [this]() {
        if (m_newLink) {
            m_newLink();
            refreshStatus();
        }
    });
    linkColumn->addWidget(newLink, 0, Qt::AlignLeft);
    linkColumn->addStretch();
    shareLayout->addLayout(linkColumn, 1);
    m_share->setVisible(false);
    mapLayout->addWidget(m_share);
    m_mapBox->setVisible(false);
    layout->addWidget(m_mapBox);
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("problem"));
    m_problem->setWordWrap(true);
    m_problem->hide();
    m_scroll->setWidget(body);
    outer->addWidget(m_problem);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* refresh =
        buttons->addButton(QStringLiteral("&Refresh ports"), QDialogButtonBox::ActionRole);
    outer->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &InstrumentsWindow::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &InstrumentsWindow::reject);
    connect(refresh, &QPushButton::clicked, this, [this]() {
        QString ignored;
        edit(shownConfig(ignored));
    });

    m_statusTimer = new QTimer(this);
    m_statusTimer->setInterval(kStatusMs);
    connect(m_statusTimer, &QTimer::timeout, this, &InstrumentsWindow::refreshStatus);
    updateEnabled();
}

InstrumentsWindow::SerialRow InstrumentsWindow::addSerialRows(QFormLayout& form,
                                                              const QString& name) {
    SerialRow row;
    row.port = new QComboBox(this);
    row.port->setObjectName(name + QStringLiteral("Port"));
    row.port->setEditable(true);
    row.port->setInsertPolicy(QComboBox::NoInsert);
    row.port->setMinimumContentsLength(28);
    row.port->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    row.port->lineEdit()->setPlaceholderText(QStringLiteral("choose or type a device"));
    // Under the list: the device, description and serial number of the port chosen.
    auto* details = new QLabel(this);
    details->setObjectName(name + QStringLiteral("PortDetails"));
    details->setWordWrap(true);
    row.baud = baudBox(this);
    row.baud->setObjectName(name + QStringLiteral("Baud"));
    form.addRow(QStringLiteral("&Port:"), row.port);
    form.addRow(QString(), details);
    form.addRow(QStringLiteral("&Baud:"), row.baud);
    const auto showDetails = [&form, row, details](const QString& text) {
        const int index = row.port->findText(text);
        details->setText(index < 0 ? QString()
                                   : row.port->itemData(index, Qt::ToolTipRole).toString());
        form.setRowVisible(details, !details->text().isEmpty());
    };
    connect(row.port, &QComboBox::editTextChanged, this, showDetails);
    showDetails(QString());
    return row;
}

QWidget* InstrumentsWindow::buildGps() {
    auto* group = new QGroupBox(QStringLiteral("GPS"), this);
    auto* form = new QFormLayout(group);
    m_gpsFrom = new QComboBox(group);
    m_gpsFrom->setObjectName(QStringLiteral("gpsFrom"));
    m_gpsFrom->addItem(QStringLiteral("the shared line"), int(GpsFrom::Line));
    m_gpsFrom->addItem(QStringLiteral("a serial port of its own"), int(GpsFrom::Serial));
    m_gpsFrom->addItem(QStringLiteral("gpsd"), int(GpsFrom::Gpsd));
    form->addRow(QStringLiteral("&From:"), m_gpsFrom);
    m_gpsSerial = addSerialRows(*form, QStringLiteral("gps"));
    m_gpsdHost = new QLineEdit(group);
    m_gpsdHost->setObjectName(QStringLiteral("gpsdHost"));
    m_gpsdPort = new QSpinBox(group);
    m_gpsdPort->setObjectName(QStringLiteral("gpsdPort"));
    m_gpsdPort->setRange(1, 65535);
    form->addRow(QStringLiteral("gpsd &host:"), m_gpsdHost);
    form->addRow(QStringLiteral("gpsd p&ort:"), m_gpsdPort);
    m_gpsStatus = statusLabel(group);
    m_gpsStatus->setObjectName(QStringLiteral("gpsStatus"));
    form->addRow(QStringLiteral("Status:"), m_gpsStatus);
    connect(m_gpsFrom, &QComboBox::currentIndexChanged, this, &InstrumentsWindow::updateEnabled);
    return group;
}

QWidget* InstrumentsWindow::buildDf() {
    auto* group = new QGroupBox(QStringLiteral("Direction finder"), this);
    auto* form = new QFormLayout(group);
    m_dfFrom = new QComboBox(group);
    m_dfFrom->setObjectName(QStringLiteral("dfFrom"));
    m_dfFrom->addItem(QStringLiteral("the shared line"), int(DfFrom::Line));
    m_dfFrom->addItem(QStringLiteral("a serial port of its own"), int(DfFrom::Serial));
    m_dfFrom->addItem(QStringLiteral("an SDR direction finder (Kraken) on the network"),
                      int(DfFrom::Kraken));
    form->addRow(QStringLiteral("Fro&m:"), m_dfFrom);
    m_dfSerial = addSerialRows(*form, QStringLiteral("df"));
    m_krakenAddress = new QLineEdit(group);
    m_krakenAddress->setObjectName(QStringLiteral("krakenAddress"));
    m_krakenAddress->setPlaceholderText(QStringLiteral("HOST or HOST:PORT (port 8081)"));
    form->addRow(QStringLiteral("Kraken a&ddress:"), m_krakenAddress);
    m_dfFrequency = new QComboBox(group);
    m_dfFrequency->setObjectName(QStringLiteral("dfFrequency"));
    m_dfFrequency->setEditable(true);
    m_dfFrequency->setToolTip(QStringLiteral(
        "The frequency to follow, in MHz; empty: the first the direction finder reports."));
    form->addRow(QStringLiteral("Fre&quency (MHz):"), m_dfFrequency);
    m_dfOffset = new QDoubleSpinBox(group);
    m_dfOffset->setObjectName(QStringLiteral("dfOffset"));
    m_dfOffset->setRange(-360, 360);
    m_dfOffset->setDecimals(1);
    m_dfOffset->setSuffix(QStringLiteral("\u00b0"));
    m_dfOffset->setToolTip(QStringLiteral(
        "Degrees clockwise from the vehicle's nose to the array's reference direction."));
    form->addRow(QStringLiteral("Array o&ffset:"), m_dfOffset);
    m_dfStatus = statusLabel(group);
    m_dfStatus->setObjectName(QStringLiteral("dfStatus"));
    form->addRow(QStringLiteral("Status:"), m_dfStatus);
    connect(m_dfFrom, &QComboBox::currentIndexChanged, this, &InstrumentsWindow::updateEnabled);
    return group;
}

QWidget* InstrumentsWindow::buildLine() {
    auto* group =
        new QGroupBox(QStringLiteral("Shared line (COM PORT in the options window)"), this);
    auto* form = new QFormLayout(group);
    m_lineBaud = baudBox(group);
    m_lineBaud->setObjectName(QStringLiteral("lineBaud"));
    form->addRow(QStringLiteral("B&aud:"), m_lineBaud);
    m_lineStatus = statusLabel(group);
    m_lineStatus->setObjectName(QStringLiteral("lineStatus"));
    form->addRow(QStringLiteral("Status:"), m_lineStatus);
    return group;
}

void InstrumentsWindow::setStatusProvider(StatusProvider provider) {
    m_status = std::move(provider);
    refreshStatus();
}

void InstrumentsWindow::fillPorts(QComboBox& box, const std::vector<SerialPortEntry>& ports,
                                  const std::string& current) {
    {
        const QSignalBlocker quiet(box);  // the line under the list is set once, at the end
        box.clear();
        for (const SerialPortEntry& port : ports) {
            box.addItem(port.lastingName());
            box.setItemData(box.count() - 1, portDetails(port), Qt::ToolTipRole);
        }
        // The configured device stays shown even when it is not plugged in now.
        const QString wanted = QString::fromStdString(current);
        const int index = box.findText(wanted);
        box.setCurrentIndex(index);
        if (index < 0) {
            box.setEditText(wanted);
        }
    }
    emit box.editTextChanged(box.currentText());
}

void InstrumentsWindow::edit(const InputConfig& config) {
    const std::vector<SerialPortEntry> ports = m_listPorts();
    selectData(*m_gpsFrom, int(config.gps));
    fillPorts(*m_gpsSerial.port, ports, config.gpsSerial.device);
    selectData(*m_gpsSerial.baud, config.gpsSerial.baud);
    m_gpsdHost->setText(QString::fromStdString(config.gpsdHost));
    m_gpsdPort->setValue(config.gpsdPort);
    selectData(*m_dfFrom, int(config.df));
    fillPorts(*m_dfSerial.port, ports, config.dfSerial.device);
    selectData(*m_dfSerial.baud, config.dfSerial.baud);
    m_krakenAddress->setText(QString::fromStdString(instruments::krakenAddress(config)));
    fillFrequencies(config.dfFrequencyHz);
    m_dfOffset->setValue(config.dfArrayOffset);
    selectData(*m_lineBaud, config.lineBaud);
    m_problem->hide();
    updateEnabled();
    refreshStatus();
    show();
    raise();
    activateWindow();
    m_gpsFrom->setFocus();
}

InputConfig InstrumentsWindow::shownConfig(QString& problem) const {
    InputConfig config;
    config.gps = GpsFrom(m_gpsFrom->currentData().toInt());
    config.gpsSerial.device = m_gpsSerial.port->currentText().trimmed().toStdString();
    config.gpsSerial.baud = m_gpsSerial.baud->currentData().toInt();
    config.gpsdHost = m_gpsdHost->text().trimmed().toStdString();
    config.gpsdPort = uint16_t(m_gpsdPort->value());
    config.df = DfFrom(m_dfFrom->currentData().toInt());
    config.dfSerial.device = m_dfSerial.port->currentText().trimmed().toStdString();
    config.dfSerial.baud = m_dfSerial.baud->currentData().toInt();
    const std::optional<std::string> kraken = instruments::applyDfChoice(
        "kraken:" + m_krakenAddress->text().trimmed().toStdString(), config);
    config.df = DfFrom(m_dfFrom->currentData().toInt());  // the choice above set it to Kraken
    QString frequency = m_dfFrequency->currentText().trimmed();
    frequency.remove(QStringLiteral("MHz"), Qt::CaseInsensitive);
    bool isNumber = false;
    const double mhz = frequency.trimmed().toDouble(&isNumber);
    if (isNumber && mhz > 0 && mhz < 1e5) {
        config.dfFrequencyHz = std::round(mhz * 1e6);
    }
    config.dfArrayOffset = m_dfOffset->value();
    config.lineBaud = m_lineBaud->currentData().toInt();
    problem.clear();
    if (config.gps == GpsFrom::Serial && !instruments::isDevicePath(config.gpsSerial.device)) {
        problem = QStringLiteral("Choose or type the GPS's serial port.");
    } else if (config.gps == GpsFrom::Gpsd && !instruments::isHostName(config.gpsdHost)) {
        problem =
            QStringLiteral("Type the host gpsd runs on (localhost when it is this computer).");
    } else if (config.df == DfFrom::Serial && !instruments::isDevicePath(config.dfSerial.device)) {
        problem = QStringLiteral("Choose or type the direction finder's serial port.");
    } else if (config.df == DfFrom::Kraken && kraken) {
        problem = QStringLiteral(
            "Type where the SDR direction finder's DSP software runs: HOST "
            "or HOST:PORT.");
    } else if (config.df == DfFrom::Kraken && !frequency.trimmed().isEmpty() && !isNumber) {
        problem = QStringLiteral(
            "Type the frequency in MHz (146.52), or leave it empty for the "
            "first the direction finder reports.");
    }
    return config;
}

void InstrumentsWindow::accept() {
    QString problem;
    const InputConfig config = shownConfig(problem);
    if (!problem.isEmpty()) {
        m_problem->setText(problem);
        m_problem->show();
        return;
    }
    QDialog::accept();
    emit applied(config);
}

void InstrumentsWindow::updateEnabled() {
    const auto gps = GpsFrom(m_gpsFrom->currentData().toInt());
    m_gpsSerial.port->setEnabled(gps == GpsFrom::Serial);
    m_gpsSerial.baud->setEnabled(gps == GpsFrom::Serial);
    m_gpsdHost->setEnabled(gps == GpsFrom::Gpsd);
    m_gpsdPort->setEnabled(gps == GpsFrom::Gpsd);
    const auto df = DfFrom(m_dfFrom->currentData().toInt());
    m_dfSerial.port->setEnabled(df == DfFrom::Serial);
    m_dfSerial.baud->setEnabled(df == DfFrom::Serial);
    for (QWidget* kraken :
         std::initializer_list<QWidget*>{m_krakenAddress, m_dfFrequency, m_dfOffset}) {
        kraken->setEnabled(df == DfFrom::Kraken);
    }
}

// The configured frequency first, then those the direction finder reports now.
void InstrumentsWindow::fillFrequencies(std::optional<double> current) {
    const QSignalBlocker quiet(*m_dfFrequency);
    m_dfFrequency->clear();
    const auto text = [](double hz) { return QString::number(hz / 1e6, 'f', 6); };
    m_dfFrequency->addItem(current ? text(*current) : QString());
    for (const double hz : m_listFrequencies ? m_listFrequencies() : std::vector<double>()) {
        if (m_dfFrequency->findText(text(hz)) < 0) {
            m_dfFrequency->addItem(text(hz));
        }
    }
    if (current) {
        m_dfFrequency->addItem(QString());  // back to "the first it reports"
    }
    m_dfFrequency->setCurrentIndex(0);
}

void InstrumentsWindow::refreshStatus() {
    const std::pair<QLabel*, InputRole> rows[] = {{m_gpsStatus, InputRole::Gps},
                                                  {m_dfStatus, InputRole::Df},
                                                  {m_lineStatus, InputRole::Line}};
    for (const auto& [label, role] : rows) {
        label->setText(m_status ? m_status(role) : QString());  // unchanged text: no repaint
        // Without a report there is nothing to show: the row stays out of the way.
        if (auto* form = qobject_cast<QFormLayout*>(label->parentWidget()->layout())) {
            form->setRowVisible(label, m_status != nullptr);
        }
    }
    m_teamBox->setVisible(m_teamStatusText != nullptr);
    if (m_teamStatusText) {
        m_teamStatus->setText(m_teamStatusText());
    }
    m_mapBox->setVisible(m_mapStatusText != nullptr);
    if (m_mapStatusText) {
        const QString text = m_mapStatusText();
        if (m_mapStatus->text() != text) {
            m_mapStatus->setText(text);
        }
    }
    const QString link = m_mapLink ? m_mapLink() : QString();
    m_share->setVisible(!link.isEmpty());
    if (link != m_shareLink->text()) {
        m_shareLink->setText(link);
        const QImage code = link.isEmpty() ? QImage() : qrCode(link, 5);
        m_shareCode->setPixmap(QPixmap::fromImage(code));
        m_shareCode->setFixedSize(code.size());  // the window grows to hold the whole code
    }
}

void InstrumentsWindow::setMapLink(std::function<QString()> link, std::function<void()> newLink) {
    m_mapLink = std::move(link);
    m_newLink = std::move(newLink);
    refreshStatus();
}

void InstrumentsWindow::setMapStatusProvider(std::function<QString()> provider) {
    m_mapStatusText = std::move(provider);
    refreshStatus();
}

void InstrumentsWindow::setTeamStatusProvider(std::function<QString()> provider) {
    m_teamStatusText = std::move(provider);
    refreshStatus();
}

void InstrumentsWindow::showEvent(QShowEvent* event) {
    refreshStatus();
    fitToScreen();
    QDialog::showEvent(event);
    m_statusTimer->start();
}

// As tall as what it shows, up to the screen's height less room for the frame and the panel.
void InstrumentsWindow::fitToScreen() {
    QWidget* body = m_scroll->widget();
    const QScreen* shown = screen();
    const int room = shown ? shown->availableGeometry().height() * 9 / 10 : 10000;
    const int chrome = sizeHint().height() - m_scroll->sizeHint().height();
    const int wanted = body->sizeHint().height();
    m_scroll->setMinimumHeight(std::max(0, std::min(wanted, room - chrome)));
    m_scroll->setMinimumWidth(
        body->sizeHint().width() +
        (wanted > room - chrome ? style()->pixelMetric(QStyle::PM_ScrollBarExtent) : 0));
}

void InstrumentsWindow::hideEvent(QHideEvent* event) {
    m_statusTimer->stop();
    QDialog::hideEvent(event);
}

}  // namespace kestrel::qt
