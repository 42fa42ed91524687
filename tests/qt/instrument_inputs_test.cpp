// The real program with the GPS and the direction finder on serial ports of their own
// (pseudo-terminals at different rates), the COM line unusable: sources switch without it,
// lines from the two ports interleave at line rate without mixing, and the plots' bearings
// are the fix's course plus the relative bearing. Devices that cannot be opened are named.

#include <gtest/gtest.h>
#include <termios.h>

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include "qt/window_rig.h"

namespace kestrel::test {
namespace {

using instruments::InputRole;

std::string withSum(const std::string& sentence) {
    unsigned sum = 0;
    for (size_t i = 1; i < sentence.size(); ++i) {
        sum ^= static_cast<unsigned char>(sentence[i]);
    }
    char hex[4];
    std::snprintf(hex, sizeof hex, "*%02X", sum);
    return sentence + hex + "\r\n";
}

speed_t speedOf(const Pty& pty) {
    termios t{};
    tcgetattr(pty.masterFd(), &t);  // a pty's master reports the slave's settings
    return cfgetispeed(&t);
}

// Points the link `link` at `target` in one rename.
bool pointLink(const std::string& link, const std::string& target) {
    std::error_code ec;
    std::filesystem::remove(link + ".new", ec);
    std::filesystem::create_symlink(target, link + ".new", ec);
    return !ec && std::rename((link + ".new").c_str(), link.c_str()) == 0;
}

struct PlotLog : HuntObserver {
    void plotMade(const PlotRecord& plot) override { plots.push_back(plot); }
    std::vector<PlotRecord> plots;
};

// Every line the core frames, whatever the input.
struct LineLog : HuntObserver {
    void lineReceived(std::string_view, std::string_view line) override {
        lines.emplace_back(line);
    }
    std::vector<std::string> lines;
};

TEST(InstrumentInputs, TwoPortsAtTheirOwnRatesWithoutTheComLine) {
    TestHome home(PortSetup::Busy);
    WindowRig rig(home);
    Pty gpsPty;
    Pty dfPty;
    ASSERT_TRUE(gpsPty.ok() && dfPty.ok());
    instruments::InputConfig config;
    // The GPS is reached through a link, as a /dev/serial/by-id/ name is.
    const std::string gpsLink = home.folder + "gps-link";
    ASSERT_TRUE(pointLink(gpsLink, gpsPty.slavePath()));
    config.gps = instruments::GpsFrom::Serial;
    config.gpsSerial = {gpsLink, 9600};
    config.df = instruments::DfFrom::Serial;
    config.dfSerial = {dfPty.slavePath(), 38400};
    qt::InstrumentInputs& inputs = rig.program->inputs();
    EXPECT_EQ(inputs.statusText(InputRole::Gps), "on the COM line");
    inputs.configure(config);
    EXPECT_EQ(inputs.config(), config);
    EXPECT_EQ(inputs.statusText(InputRole::Gps), "closed (not needed)");

    const size_t messagesBefore = rig.dialogs.seen().size();
    rig.click("CmdButton_POSIT_SOURCE");
    rig.click("CmdButton_DF_SOURCE");
    rig.click("CmdButton_RANGE");
    EXPECT_EQ(rig.form().CmdButton_POSIT_SOURCE.Tag, "GPS");
    EXPECT_EQ(rig.form().CmdButton_DF_SOURCE.Tag, "DF");
    EXPECT_EQ(rig.dialogs.seen().size(), messagesBefore);  // the COM line was never tried
    EXPECT_FALSE(rig.form().MSComm1.isOpen());
    EXPECT_EQ(speedOf(gpsPty), speed_t(B9600));
    EXPECT_EQ(speedOf(dfPty), speed_t(B38400));
    EXPECT_EQ(inputs.statusText(InputRole::Gps).left(12), "no data for ");

    PlotLog log;
    rig.form().addObserver(log);
    for (int i = 0; i < 5; ++i) {
        const std::string fix =
            withSum("$GPRMC,1200" + std::to_string(10 + i) + ",A,4807.0" + std::to_string(i) +
                    "8,N,01131.000,E,12.0," + std::to_string(100 + 20 * i) + ".0,080326,,");
        const std::string bearing = "%0" + std::to_string(30 + i) + "/7\r\n";
        // The two devices' bytes interleave in small pieces, as two ports deliver them.
        for (size_t at = 0; at < fix.size(); at += 9) {
            ASSERT_TRUE(gpsPty.write(fix.substr(at, 9)));
            if (at / 9 < bearing.size()) {
                ASSERT_TRUE(dfPty.write(bearing.substr(at / 9, 1)));
            }
            QTest::qWait(1);
        }
        ASSERT_TRUE(waitFor([&] { return rig.form().DF_TIMEOUT == 10; }, 2000));
        ASSERT_TRUE(dfPty.write("@PLOT\r\n"));
        ASSERT_TRUE(waitFor([&] { return log.plots.size() == size_t(i + 1); }, 2000));
        rig.window().runHandler([&] { rig.form().Timer_BLINK_Timer(); });
        rig.form().DF_TIMEOUT = 0;
    }
    ASSERT_EQ(log.plots.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(log.plots[size_t(i)].bearingDegrees, 100 + 20 * i + 30 + i) << i;
        EXPECT_EQ(log.plots[size_t(i)].relativeDegrees, 30 + i);
        EXPECT_EQ(log.plots[size_t(i)].headingFrom, "COG");
    }
    EXPECT_EQ(inputs.statusText(InputRole::Gps).left(24), "receiving, last fix 0.0 ");
    EXPECT_EQ(inputs.statusText(InputRole::Df).left(20), "receiving, last bear");

    // The GPS cable is pulled mid-sentence and plugged in again: the device comes back under
    // its name (pointed there before the first retry, so that no terminal made by another test
    // can take the freed number first). Within a second it is open again, and the sentence cut
    // off by the pull is not joined to the first new line.
    Pty again;
    ASSERT_TRUE(gpsPty.write("$GPRMC,120059,A,48"));
    QTest::qWait(20);
    gpsPty.closeMaster();
    EXPECT_TRUE(waitFor(
        [&] { return inputs.statusText(InputRole::Gps).endsWith("trying again every second"); },
        900));
    ASSERT_TRUE(pointLink(gpsLink, again.slavePath()));
    ASSERT_TRUE(waitFor(
        [&] { return inputs.statusText(InputRole::Gps).startsWith("no data for "); }, 2500));
    ASSERT_TRUE(again.write("10.000,N,01131.000,E,12.0,90.0,080326,,\r\n"));
    QTest::qWait(100);
    EXPECT_EQ(rig.form().Picture_LAT_MINX1.Tag, "7");  // never 48 10 from the two halves
    ASSERT_TRUE(again.write(withSum("$GPRMC,120100,A,4809.000,N,01131.000,E,12.0,90.0,080326,,")));
    EXPECT_TRUE(waitFor([&] { return rig.form().Picture_LAT_MINX1.Tag == "9"; }, 2000));
    rig.form().removeObserver(log);
    rig.click("CmdButton_POSIT_SOURCE");
    rig.click("CmdButton_DF_SOURCE");
    EXPECT_EQ(inputs.statusText(InputRole::Gps), "closed (not needed)");
    EXPECT_EQ(inputs.statusText(InputRole::Df), "closed (not needed)");
}

// The GPS moves back to a COM line that cannot be used while the position is on it: the
// operator is told, as when a source switch finds the port unusable, and the source is manual.
TEST(InstrumentInputs, BackToAnUnusableComLineIsTold) {
    TestHome home(PortSetup::Busy);
    WindowRig rig(home);
    Pty gpsPty;
    ASSERT_TRUE(gpsPty.ok());
    instruments::InputConfig config;
    config.gps = instruments::GpsFrom::Serial;
    config.gpsSerial = {gpsPty.slavePath(), 4800};
    rig.program->inputs().configure(config);
    rig.click("CmdButton_POSIT_SOURCE");
    ASSERT_EQ(rig.form().CmdButton_POSIT_SOURCE.Tag, "GPS");
    const size_t before = rig.dialogs.seen().size();
    rig.program->inputs().configure(instruments::InputConfig{});
    ASSERT_TRUE(waitFor([&] { return rig.dialogs.seen().size() > before; }, 2000));
    EXPECT_EQ(rig.dialogs.seen().back().text, QStringLiteral("COM port not available"));
    EXPECT_EQ(rig.form().CmdButton_POSIT_SOURCE.Tag, "MAN");
    EXPECT_FALSE(rig.form().MSComm1.isOpen());
}

TEST(InstrumentInputs, DevicesThatCannotBeOpenedAreNamed) {
    TestHome home;
    home.writeFile("plain-file", "not a device");
    struct Case {
        std::string device;
        std::string reason;
    };
    const Case cases[] = {
        {home.folder + "plain-file", "not a serial port"},
        {home.folder + "no-such-device", "no such device"},
        {"/dev/null", "not a serial port"},
        {"", "no device chosen"},
    };
    WindowRig rig(home);
    for (const Case& c : cases) {
        instruments::InputConfig config;
        config.df = instruments::DfFrom::Serial;
        config.dfSerial.device = c.device;
        rig.program->inputs().configure(config);
        const size_t before = rig.dialogs.seen().size();
        rig.click("CmdButton_DF_SOURCE");
        ASSERT_TRUE(waitFor([&] { return rig.dialogs.seen().size() > before; }, 2000));
        const std::string expected =
            "cannot open " + (c.device.empty() ? "(no device)" : c.device) + ": " + c.reason;
        EXPECT_EQ(rig.dialogs.seen().back().text.toStdString(), "Direction finder: " + expected);
        EXPECT_EQ(rig.form().CmdButton_DF_SOURCE.Tag, "MAN");
        EXPECT_FALSE(rig.form().MSComm1.isOpen());  // the COM line was opened and closed again
        EXPECT_EQ(rig.program->inputs().statusText(InputRole::Df).toStdString(), expected);
    }
}

// A peer on the gpsd port that answers each connection with the next script and hangs up.
struct ScriptedPeer {
    explicit ScriptedPeer(std::vector<std::string> scripts) : scripts(std::move(scripts)) {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            QTcpSocket* socket = server.nextPendingConnection();
            const std::string& script =
                this->scripts[std::min(connections, this->scripts.size() - 1)];
            ++connections;
            socket->write(script.data(), qint64(script.size()));
            socket->disconnectFromHost();
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        });
    }
    QTcpServer server;
    std::vector<std::string> scripts;
    size_t connections = 0;
};

TEST(InstrumentInputs, AGpsdThatSendsGarbageOrHangsUpMidLineChangesNothing) {
    TestHome home;
    const std::string version = "{\"class\":\"VERSION\",\"release\":\"3.22\"}\r\n";
    const std::string fixA = withSum("$GPRMC,120000,A,4807.038,N,01131.000,E,12.0,90.0,080326,,");
    const std::string notGpsdFix =
        withSum("$GPRMC,115959,A,4833.000,N,01131.000,E,12.0,90.0,080326,,");
    ScriptedPeer peer({
        "garbage\r\n\x01\x02{not gpsd\r\n" + notGpsdFix,  // not gpsd: its sentence does not count
        version + fixA + "$GPRMC,120001,A,4812.5",        // gpsd, hanging up mid-line
        version + "00,N,01131.000,E,12.0,90.0,080326,,\r\n",
    });
    LineLog framed;  // outlives the program that tells it
    WindowRig rig(home);
    rig.form().addObserver(framed);
    instruments::InputConfig config;
    config.gps = instruments::GpsFrom::Gpsd;
    config.gpsdHost = "127.0.0.1";
    config.gpsdPort = peer.server.serverPort();
    rig.program->inputs().configure(config);
    rig.click("CmdButton_POSIT_SOURCE");
    ASSERT_EQ(rig.form().CmdButton_POSIT_SOURCE.Tag, "GPS");
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(waitFor([&] { return peer.connections >= 3; }, 5000));
    QTest::qWait(1200);
    // Tried again once a second after each hang-up, never in a busy loop.
    EXPECT_GE(clock.elapsed(), 1900);
    EXPECT_LE(peer.connections, size_t(2 + clock.elapsed() / 1000));
    EXPECT_EQ(rig.form().GPRMC_STRING, fixA.substr(0, fixA.size() - 2));  // fix A only
    EXPECT_EQ(rig.form().Picture_LAT_MINX10.Tag, "0");                    // 48 07, never 48 12
    for (const std::string& line : framed.lines) {
        EXPECT_EQ(line.find("4833.000"), std::string::npos)
            << "the peer that is not gpsd: " << line;
    }
    EXPECT_FALSE(framed.lines.empty());
    int named = 0;
    for (const auto& seen : rig.dialogs.seen()) {
        named += seen.text.contains(QStringLiteral("gpsd at 127.0.0.1:")) ? 1 : 0;
    }
    EXPECT_EQ(named, 1);  // one message for the whole run of failures
}

}  // namespace
}  // namespace kestrel::test
