// Setting the instruments up: Kestrelmap.conf (missing, damaged, kept apart from the other
// groups), the command line of the real executable without a display, the instruments window,
// and the recorded hunt written beside the map.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>

#include "instruments/input_options.h"
#include "platform/qt/command_line.h"
#include "platform/qt/options_window.h"
#include "qt/window_rig.h"

namespace kestrel::test {
namespace {

using instruments::DfFrom;
using instruments::GpsFrom;
using instruments::InputConfig;

qt::ConfRead readConf(const TestHome& home, const std::string& content) {
    home.writeFile("Kestrelmap.conf", content);
    return qt::readConfFile(qt::confPath(home.folder));
}

TEST(ConfFile, MissingDamagedAndBadValues) {
    TestHome home;
    const qt::ConfRead missing = qt::readConfFile(qt::confPath(home.folder));
    EXPECT_EQ(missing.settings, qt::ConfSettings{});
    EXPECT_EQ(missing.problem, "");

    struct Case {
        std::string content;
        std::string problem;  // empty: none
    };
    const std::string file = home.folder + "Kestrelmap.conf";
    const Case cases[] = {
        {"[instruments\ngps=gpsd\n",
         "Kestrelmap cannot use its file " + file +
             " (it is not a well-formed INI file).\nThe instruments stay on the one serial line "
             "at 4800 baud."},
        {"[instruments]\ngps=serial\n\x01\x02\xff binary\n",
         "Kestrelmap cannot use its file " + file +
             " (it is not a well-formed INI file).\nThe instruments stay on the one serial line "
             "at 4800 baud."},
        {"[instruments]\ngps_baud=9600, 4800\ngsp=gpsd\n[display]\nnight=maybe\n",
         "Kestrelmap found values it cannot use in " + file +
             "; the defaults stand in for them:\ngsp: not a setting of [instruments]\ngps_baud: "
             "a list, not one value\nnight = \"maybe\": expected true or false"},
        {"[other]\nkey=1\n", ""},
    };
    for (const Case& c : cases) {
        const qt::ConfRead read = readConf(home, c.content);
        EXPECT_EQ(read.problem, c.problem);
        EXPECT_EQ(read.settings, qt::ConfSettings{}) << c.problem;
    }
    EXPECT_EQ(home.readFile("Kestrelmap.conf"), "[other]\nkey=1\n");  // reading writes nothing
}

// [map]: what can be used is taken, the rest keeps its default and is named once. (QSettings
// reads a file again only when its time or size changed: no two cases are of one length.)
TEST(ConfFile, MapSettings) {
    TestHome home;
    const std::string file = home.folder + "Kestrelmap.conf";
    const std::string complaint =
        "Kestrelmap found values it cannot use in " + file + "; the defaults stand in for them:\n";
    struct Case {
        std::string content;
        live_map::MapSettings expected;
        std::string problem;  // after the complaint's first line; empty: none
    };
    live_map::MapSettings off;
    off.port = 0;
    live_map::MapSettings ownTiles;
    ownTiles.onlineTiles = "https://{s}.tiles.example.org/{z}/{x}/{y}.png";
    ownTiles.onlineAttribution = "";
    live_map::MapSettings noOnline;
    noOnline.onlineTiles = "";
    noOnline.onlineAttribution = "";
    live_map::MapSettings shared;
    shared.share = true;
    shared.address = "169.254.7.1";
    shared.certificate = "/etc/k/c.pem";
    shared.privateKey = "/etc/k/key.pem";
    const Case cases[] = {
        {"[map]\nshare=true\naddress=169.254.7.1\ncertificate=/etc/k/c.pem\n"
         "private_key=/etc/k/key.pem\n",
         shared, ""},
        {"[map]\nshare=maybe\n", {}, "share = \"maybe\": expected true or false"},
        {"[map]\naddress=car.example\n",
         {},
         "address = \"car.example\": expected one of this computer's IP addresses"},
        {"[map]\nport=0\n", off, ""},
        {"[map]\nport=8421x\n", {}, "port = \"8421x\": expected 0 (off) to 65535"},
        {"[map]\nport=165536\n", {}, "port = \"165536\": expected 0 (off) to 65535"},
        {"[map]\nonline_tiles=https://{s}.tiles.example.org/{z}/{x}/{y}.png\n", ownTiles, ""},
        {"[map]\nonline_tiles=\n", noOnline, ""},
        {"[map]\nonline_tiles=javascript:alert(1)//{z}{x}{y}\n",
         {},
         "online_tiles = \"javascript:alert(1)//{z}{x}{y}\": expected an http or https address "
         "with {z}, {x} and {y}"},
        {"[map]\nprot=12\n", {}, "prot: not a setting of [map]"},
    };
    for (const Case& c : cases) {
        const qt::ConfRead read = readConf(home, c.content);
        EXPECT_EQ(read.settings.map, c.expected) << c.content;
        EXPECT_EQ(read.problem, c.problem.empty() ? "" : complaint + c.problem) << c.content;
    }
}

// [estimate]: the gates of the fix estimate; what cannot be used keeps its default and is named
// once. (No two cases are of one length, as above.)
TEST(ConfFile, EstimateGates) {
    TestHome home;
    const std::string complaint = "Kestrelmap found values it cannot use in " + home.folder +
                                  "Kestrelmap.conf; the defaults stand in for them:\n";
    struct Case {
        std::string content;
        estimate::Gates expected;
        std::string problem;  // after the complaint's first line; empty: none
    };
    const Case cases[] = {
        {"[estimate]\nmax_turn_rate=8.5\nmin_confidence=40\n", {8.5, 40}, ""},
        {"[estimate]\nmax_turn_rate=0\n", {0, 0}, ""},
        {"[estimate]\nmax_turn_rate=-2\n",
         {},
         "max_turn_rate = \"-2\": expected degrees per second, 0 (off) or more"},
        {"[estimate]\nmax_turn_rate=6,5\n", {}, "max_turn_rate: a list, not one value"},
        {"[estimate]\nmin_confidence=99.01\n",
         {},
         "min_confidence = \"99.01\": expected 0 (off) to 99"},
        {"[estimate]\nmin_confidence=nan\n",
         {},
         "min_confidence = \"nan\": expected 0 (off) to 99"},
        {"[estimate]\nmax_turn=3\n", {}, "max_turn: not a setting of [estimate]"},
    };
    for (const Case& c : cases) {
        const qt::ConfRead read = readConf(home, c.content);
        EXPECT_EQ(read.settings.estimate, c.expected) << c.content;
        EXPECT_EQ(read.problem, c.problem.empty() ? "" : complaint + c.problem) << c.content;
    }
}

TEST(ConfFile, WritesItsGroupsAndKeepsTheRest) {
    TestHome home;
    home.writeSettings({"1"});
    home.writeFile("Kestrelmap.conf", "[team]\nname=fox 1\n");
    qt::ConfSettings settings;
    settings.night = true;
    settings.instruments.gps = GpsFrom::Gpsd;
    settings.instruments.gpsdHost = "192.168.1.5";
    settings.instruments.df = DfFrom::Serial;
    settings.instruments.dfSerial = {"/dev/serial/by-id/usb-FTDI_A1-if00-port0", 9600};
    std::string error;
    ASSERT_TRUE(qt::writeConfFile(qt::confPath(home.folder), settings, error)) << error;
    const qt::ConfRead read = qt::readConfFile(qt::confPath(home.folder));
    EXPECT_EQ(read.problem, "");
    EXPECT_EQ(read.settings, settings);
    const std::string text = home.readFile("Kestrelmap.conf");
    EXPECT_NE(text.find("[team]\nname=fox 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[instruments]\ndf=serial\ndf_array_offset=0\ndf_baud=9600\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(home.readFile("Kestrelmap.ini"), "1\r\n");

    // A damaged file is replaced whole; a missing folder is not made.
    home.writeFile("Kestrelmap.conf", "[broken\n");
    ASSERT_TRUE(qt::writeConfFile(qt::confPath(home.folder), settings, error));
    EXPECT_EQ(qt::readConfFile(qt::confPath(home.folder)).settings, settings);
    EXPECT_FALSE(qt::writeConfFile(home.folder + "gone/Kestrelmap.conf", settings, error));
    EXPECT_FALSE(QDir(QString::fromStdString(home.folder + "gone")).exists());
}

struct ProgramRun {
    int exitCode;
    QString out;
    QString err;
};

// The built kestrelmap with no display of any kind.
ProgramRun runKestrelmap(const QStringList& arguments) {
    testApp();
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        env.remove(QString::fromLatin1(name));
    }
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(KESTRELMAP_EXECUTABLE), arguments);
    EXPECT_TRUE(process.waitForFinished(10000));
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

TEST(CommandLine, AnswersWithoutADisplay) {
    struct Case {
        QStringList arguments;
        int exitCode;
        QString outStart;  // the start of standard output
        QString err;       // all of standard error
    };
    const Case cases[] = {
        {{"--help"}, 0, "Usage: kestrelmap [options]\n", ""},
        {{"-h"}, 0, "Usage: kestrelmap [options]\n", ""},
        {{"--version"}, 0, "kestrelmap 1.0.0\n", ""},
        {{"--gps", "gpsd", "--version"}, 0, "kestrelmap 1.0.0\n", ""},
        {{"--baud", "5"},
         2,
         "",
         "kestrelmap: --baud: \"5\" is not a standard baud rate (1200, 2400, 4800, 9600, 19200, "
         "38400, 57600, 115200, 230400, 460800, 921600) (see --help)\n"},
        {{"--df", "gpsd"},
         2,
         "",
         "kestrelmap: --df: expected line, serial:DEVICE[@BAUD] or kraken:HOST[:PORT], not "
         "\"gpsd\" (see --help)\n"},
        {{"--speed"}, 2, "", "kestrelmap: Unknown option 'speed' (see --help)\n"},
        {{"hunt.kml"}, 2, "", "kestrelmap: unexpected argument \"hunt.kml\" (see --help)\n"},
    };
    for (const Case& c : cases) {
        const ProgramRun run = runKestrelmap(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(run.out.left(c.outStart.size()), c.outStart);
        EXPECT_EQ(run.err, c.err);
    }
    const ProgramRun port = runKestrelmap({"--map-port", "70000"});
    EXPECT_EQ(port.exitCode, 2);
    EXPECT_EQ(port.err, "kestrelmap: --map-port takes a port from 0 (off) to 65535 (see --help)\n");
    const ProgramRun ports = runKestrelmap({"--list-ports"});
    EXPECT_EQ(ports.exitCode, 0);
    EXPECT_TRUE(ports.out.endsWith(u'\n')) << ports.out.toStdString();
    EXPECT_EQ(ports.err, "");
}

TEST(CommandLine, RunOptionsAndQtsOwnOptions) {
    const qt::CommandLineOutcome outcome =
        qt::readCommandLine({"kestrelmap", "-platform", "offscreen", "--gps", "line", "--gps",
                             "gpsd:car", "--verbose", "--df=serial:/dev/ttyUSB0@9600"});
    ASSERT_TRUE(outcome.run) << outcome.error.toStdString();
    EXPECT_EQ(outcome.options.gps, "gpsd:car");  // the last one counts
    EXPECT_EQ(outcome.options.df, "serial:/dev/ttyUSB0@9600");
    EXPECT_TRUE(outcome.options.verbose);
    EXPECT_FALSE(outcome.options.lineBaud.has_value());
    EXPECT_FALSE(outcome.map.port.has_value());
    EXPECT_FALSE(outcome.map.open);
    const qt::CommandLineOutcome map =
        qt::readCommandLine({"kestrelmap", "--map-port", "0", "--open-map"});
    EXPECT_EQ(map.map.port, 0);
    EXPECT_TRUE(map.map.open);
}

TEST(SerialPorts, ByIdNamesAreMatchedThroughTheirLinks) {
    testApp();
    const std::vector<qt::SerialPortEntry> plain = qt::serialPorts(QStringLiteral("/nonexistent"));
    if (plain.empty()) {
        GTEST_SKIP() << "no serial port on this machine";
    }
    QTemporaryDir byId;
    const QString link = byId.filePath(QStringLiteral("usb-Test_GPS_0001-if00"));
    ASSERT_TRUE(QFile::link(plain.front().device, link));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), byId.filePath(QStringLiteral("other"))));
    const std::vector<qt::SerialPortEntry> ports = qt::serialPorts(byId.path());
    ASSERT_EQ(ports.size(), plain.size());
    EXPECT_EQ(ports.front().byId, link);
    EXPECT_EQ(ports.front().lastingName(), link);
    EXPECT_TRUE(qt::serialPortsText(ports).contains(plain.front().device + u' '));
    EXPECT_EQ(qt::serialPortsText({}), "No serial ports found.\n");
}

// The window with a made-up pair of ports.
struct InstrumentsRig {
    InstrumentsRig() {
        window.setPortLister([] {
            return std::vector<qt::SerialPortEntry>{
                {"/dev/ttyACM0", "u-blox GNSS receiver", "", "/dev/serial/by-id/usb-u-blox-if00"},
                {"/dev/ttyUSB0", "FT232R USB UART", "A1B2C3", ""}};
        });
    }
    QComboBox* box(const char* name) { return window.findChild<QComboBox*>(name); }
    QApplication* app = testApp();  // before the window
    qt::InstrumentsWindow window;
};

TEST(InstrumentsWindow, ShowsEditsAndHandsOverTheConfiguration) {
    InstrumentsRig rig;
    QSignalSpy applied(&rig.window, &qt::InstrumentsWindow::applied);
    InputConfig config;
    config.gps = GpsFrom::Serial;
    config.gpsSerial = {"/dev/serial/by-id/usb-u-blox-if00", 115200};
    config.df = DfFrom::Serial;
    config.dfSerial = {"/dev/ttyUSB7", 9600};  // not plugged in now: still shown
    config.lineBaud = 2400;
    rig.window.edit(config);
    ASSERT_TRUE(rig.window.isVisible());
    QString problem;
    EXPECT_EQ(rig.window.shownConfig(problem), config);
    EXPECT_EQ(problem, "");
    ASSERT_EQ(rig.box("gpsPort")->count(), 2);
    EXPECT_EQ(rig.box("gpsPort")->itemText(1), "/dev/ttyUSB0");
    const auto details = [&](const char* name) {
        return rig.window.findChild<QLabel*>(name)->text();
    };
    EXPECT_EQ(details("gpsPortDetails"), "/dev/ttyACM0 - u-blox GNSS receiver");
    EXPECT_EQ(details("dfPortDetails"), "");  // not plugged in: nothing known
    rig.box("dfPort")->setCurrentIndex(1);
    EXPECT_EQ(details("dfPortDetails"), "/dev/ttyUSB0 - FT232R USB UART - serial number A1B2C3");
    rig.box("dfPort")->setEditText("/dev/ttyUSB7");

    // The direction finder's device cleared: OK refuses and says why.
    rig.box("dfPort")->setEditText("");
    rig.window.accept();
    EXPECT_TRUE(rig.window.isVisible());
    EXPECT_EQ(applied.count(), 0);
    EXPECT_EQ(rig.window.findChild<QLabel*>("problem")->text(),
              "Choose or type the direction finder's serial port.");
    rig.box("dfFrom")->setCurrentIndex(0);  // back on the shared line: no device needed
    EXPECT_FALSE(rig.box("dfPort")->isEnabled());
    rig.window.accept();
    EXPECT_FALSE(rig.window.isVisible());
    ASSERT_EQ(applied.count(), 1);
    InputConfig expected = config;
    expected.df = DfFrom::Line;
    expected.dfSerial.device.clear();
    EXPECT_EQ(applied.at(0).at(0).value<InputConfig>(), expected);

    // Cancel hands nothing over.
    rig.window.edit(config);
    rig.window.reject();
    EXPECT_EQ(applied.count(), 1);
}

// The SDR direction finder's rows: shown, edited and handed over; the frequencies it reports
// offered; a bad address or frequency refused with a sentence.
TEST(InstrumentsWindow, TheSdrDirectionFindersAddressFrequencyAndOffset) {
    InstrumentsRig rig;
    rig.window.setFrequencyLister([] { return std::vector<double>{146520000, 433920000}; });
    InputConfig config;
    ASSERT_FALSE(instruments::applyDfChoice("kraken:[fe80::1]:9000", config));
    config.dfFrequencyHz = 433920000;
    config.dfArrayOffset = 90;
    rig.window.edit(config);
    QString problem;
    EXPECT_EQ(rig.window.shownConfig(problem), config);
    EXPECT_EQ(problem, "");
    QComboBox* frequency = rig.box("dfFrequency");
    ASSERT_EQ(frequency->count(), 3);  // the chosen one, the other reported one, "the first"
    EXPECT_EQ(frequency->itemText(0), "433.920000");
    EXPECT_EQ(frequency->itemText(1), "146.520000");
    EXPECT_EQ(frequency->itemText(2), "");
    auto* address = rig.window.findChild<QLineEdit*>("krakenAddress");
    const struct {
        QString address, frequency, problem;
        std::optional<double> hz;
    } cases[] = {
        {"kraken.local", "146.52 MHz", "", 146520000},
        {"kraken.local:8082", "", "", std::nullopt},
        {"", "", "Type where the SDR direction finder's DSP software runs: HOST or HOST:PORT.",
         std::nullopt},
        {"kraken.local", "two metres",
         "Type the frequency in MHz (146.52), or leave it empty for the first the direction "
         "finder reports.",
         std::nullopt},
    };
    for (const auto& c : cases) {
        address->setText(c.address);
        frequency->setEditText(c.frequency);
        const InputConfig shown = rig.window.shownConfig(problem);
        EXPECT_EQ(problem, c.problem) << c.address.toStdString();
        if (c.problem.isEmpty()) {
            EXPECT_EQ(shown.df, DfFrom::Kraken);
            EXPECT_EQ(instruments::krakenAddress(shown), c.address.contains(':')
                                                             ? c.address.toStdString()
                                                             : c.address.toStdString() + ":8081");
            EXPECT_EQ(shown.dfFrequencyHz, c.hz);
            EXPECT_EQ(shown.dfArrayOffset, 90);
        }
    }
    rig.box("dfFrom")->setCurrentIndex(0);
    EXPECT_FALSE(address->isEnabled());
    rig.window.reject();
}

TEST(InstrumentsWindow, StatusFollowsTheProviderOnceASecond) {
    InstrumentsRig rig;
    int asked = 0;
    rig.window.setStatusProvider([&](instruments::InputRole role) {
        ++asked;
        return role == instruments::InputRole::Gps ? QString("no data for %1 s").arg(asked)
                                                   : QString("receiving");
    });
    rig.window.edit(InputConfig{});
    const int before = asked;
    QTest::qWait(1150);
    EXPECT_GE(asked, before + 3);
    EXPECT_TRUE(rig.window.findChild<QLabel*>("gpsStatus")->text().startsWith("no data for"));
    EXPECT_EQ(rig.window.findChild<QLabel*>("lineStatus")->text(), "receiving");
    rig.window.reject();
    ASSERT_NE(rig.window.findChild<QTimer*>(), nullptr);
    EXPECT_FALSE(rig.window.findChild<QTimer*>()->isActive());  // not asked while closed
}

TEST(Program, InstrumentsFromTheOptionsWindowAndTheHuntsInputLog) {
    TestHome home;
    DialogAnswerer dialogs;
    home.writeFile("Kestrelmap.conf", "[instruments]\nline_baud=9600\n");
    instruments::RunOptions options;
    ASSERT_FALSE(instruments::setRunOption(options, "gps", "gpsd"));
    auto program = std::make_unique<qt::Program>(home.folder, options);
    program->setMapOverrides({.port = 0});
    program->start();
    EXPECT_EQ(program->inputs().config().lineBaud, 9600);
    EXPECT_EQ(program->inputs().config().gps, GpsFrom::Gpsd);

    program->form().CmdButton_SHOW_OPTIONS_Click();
    program->window().syncAll();
    qt::OptionsWindow& optionsWindow = program->window().optionsWindow();
    QWidget* button = optionsWindow.instrumentsButton();
    ASSERT_TRUE(button->isVisible());
    // In the free strip: clear of every control the options window is built from.
    for (const OptionsControlLayout& row : optionsWindowLayout()) {
        const Rect r = windowRect(optionsWindowLayout(), row);
        EXPECT_FALSE(button->geometry().intersects(QRect(r.left, r.top, r.width, r.height)))
            << row.name;
    }
    QTest::mouseClick(button, Qt::LeftButton);
    qt::InstrumentsWindow& instruments = program->instrumentsWindow();
    ASSERT_TRUE(instruments.isVisible());
    instruments.findChild<QComboBox*>("lineBaud")->setCurrentText("19200");
    instruments.accept();
    EXPECT_EQ(program->inputs().config().lineBaud, 19200);
    const std::string conf = home.readFile("Kestrelmap.conf");
    EXPECT_NE(conf.find("line_baud=19200"), std::string::npos) << conf;
    EXPECT_NE(conf.find("gps=gpsd"), std::string::npos) << conf;

    // A line on the COM line lands in the input log beside the map file.
    const std::string logName = program->inputLog()->path().substr(home.folder.size());
    program->window().runHandler([&]() { program->form().CmdButton_DF_SOURCE_Click(); });
    ASSERT_EQ(program->form().CmdButton_DF_SOURCE.Tag, "DF");  // the port is open
    home.pty.write("%045/7\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&]() { return !home.readFile(logName).empty(); }, 3000))
        << program->form().INBUFF << "|" << program->inputLog()->pendingBytes();
    const std::string log = home.readFile(logName);
    EXPECT_TRUE(log.ends_with("Z\tLINE\t%045/7\r\n")) << log;
    EXPECT_EQ(program->inputLog()->path(), hunt_log::inputLogPath(program->form().FILENAME_STRING));
}

}  // namespace
}  // namespace kestrel::test
