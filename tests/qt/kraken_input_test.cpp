// The real program with its direction finder on the network: an SDR direction finder's DSP
// software played by a small HTTP server in the test, the GPS on a pseudo-terminal. A fresh
// line becomes the designed bearing (course plus relative bearing, the array offset added), a
// line served again keeps nothing fresh, and every way the server fails leaves the bearing to
// go stale, says why, and is told once.

#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>

#include "input_test_support.h"
#include "qt/window_rig.h"

namespace kestrel::test {
namespace {

using instruments::InputRole;

// Answers every request on its keep-alive connection with what the test set last: a status
// and a body, or nothing at all (a server that hangs).
class DoaServer : public QObject {
  public:
    DoaServer() {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this]() {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket]() {
                    m_request += socket->readAll();
                    while (m_request.contains("\r\n\r\n")) {
                        m_request.remove(0, m_request.indexOf("\r\n\r\n") + 4);
                        ++requests;
                        if (status != 0) {
                            socket->write(
                                QStringLiteral("HTTP/1.1 %1 X\r\nContent-Length: %2\r\n\r\n")
                                    .arg(status)
                                    .arg(body.size())
                                    .toLatin1() +
                                body);
                        }
                    }
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    void stop() {
        m_server.close();
        for (QTcpSocket* socket : m_server.findChildren<QTcpSocket*>()) {
            socket->abort();
        }
    }

    int status = 200;  // 0: no answer
    QByteArray body;
    int requests = 0;

  private:
    QTcpServer m_server;
    QByteArray m_request;
};

QByteArray doaLine(int64_t timeMs, double direction, double confidence, double hz) {
    QByteArray line = QByteArray::number(qint64(timeMs)) + "," + QByteArray::number(direction) +
                      "," + QByteArray::number(confidence) + ",-41.5," +
                      QByteArray::number(hz, 'f', 0) + ",UCA,50,car,0,0,0,0,0,0,0,0,0";
    for (int i = 0; i < 360; ++i) {
        line += i == int(direction) ? ",9.5" : ",0.5";
    }
    return line + "\n";
}

struct PlotLog : HuntObserver {
    void plotMade(const PlotRecord& plot) override { plots.push_back(plot); }
    void lineReceived(std::string_view input, std::string_view line) override {
        lines.emplace_back(std::string(input) + " " + std::string(line).substr(0, 20));
    }
    std::vector<PlotRecord> plots;
    std::vector<std::string> lines;
};

TEST(KrakenInput, FreshLinesAreBearingsAndEveryFailureGoesStaleAndSaysWhy) {
    TestHome home(PortSetup::Busy);
    WindowRig rig(home);
    Pty gpsPty;
    ASSERT_TRUE(gpsPty.ok());
    DoaServer server;
    instruments::InputConfig config;
    config.gps = instruments::GpsFrom::Serial;
    config.gpsSerial = {gpsPty.slavePath(), 4800};
    ASSERT_FALSE(
        instruments::applyDfChoice("kraken:127.0.0.1:" + std::to_string(server.port()), config));
    config.dfFrequencyHz = 146525000;  // the second line, within 5 kHz
    config.dfArrayOffset = -20;
    qt::InstrumentInputs& inputs = rig.program->inputs();
    inputs.configure(config);
    PlotLog log;
    rig.form().addObserver(log);
    server.body = doaLine(100000, 300, 90, 146000000) + doaLine(100000, 10.4, 87, 146520000);
    rig.click("CmdButton_POSIT_SOURCE");
    rig.click("CmdButton_DF_SOURCE");
    ASSERT_TRUE(gpsPty.write(
        withChecksum("$GPRMC,120010,A,4807.038,N,01131.000,E,12.0,100.0,080326,,") + "\r\n"));
    ASSERT_TRUE(waitFor([&] { return rig.form().DF_TIMEOUT == 10; }, 3000));
    EXPECT_EQ(inputs.krakenFrequencies(), std::vector<double>({146000000, 146520000}));
    ASSERT_TRUE(
        waitFor([&] { return inputs.statusText(InputRole::Df).contains("confidence 87"); }, 2000))
        << inputs.statusText(InputRole::Df).toStdString();
    rig.window().runHandler([&] { rig.form().CmdButton_ADD_PLOT_Click(); });
    ASSERT_EQ(log.plots.size(), 1u);
    EXPECT_EQ(log.plots[0].relativeDegrees, 350);  // 10.4 - 20, wrapped
    EXPECT_EQ(log.plots[0].bearingDegrees, 90);    // course 100 + 350
    EXPECT_EQ(log.plots[0].quality, 8);            // confidence 87 as a digit
    // The plot log keeps how the bearing was taken: confidence, power and frequency last.
    const std::string plots = home.readFile("Current_Plots.csv");
    EXPECT_NE(plots.find(",87.0,-41.5,146520000\r\n"), std::string::npos) << plots;
    const auto seen = [&](const std::string& start) {
        return std::count_if(log.lines.begin(), log.lines.end(),
                             [&](const std::string& l) { return l.starts_with(start); });
    };
    EXPECT_EQ(seen("KRAKEN 100000,300,90"), 1);  // every line of a fresh answer, as it came
    EXPECT_EQ(seen("KRAKEN 100000,10.4,87"), 1);
    EXPECT_EQ(seen("DF %350/8"), 1);

    // The same line again keeps nothing fresh: the bearing ages as for a silent finder.
    rig.form().DF_TIMEOUT = 0;
    const int asked = server.requests;
    ASSERT_TRUE(waitFor([&] { return server.requests >= asked + 2; }, 3000));
    EXPECT_EQ(rig.form().DF_TIMEOUT, 0);
    EXPECT_LE(server.requests - asked, 4) << "at most twice a second";

    // Each failure: stale, its reason in the status, and the run of failures told once. (What
    // the parser refuses is its own table's; one of its refusals stands for them here.)
    const size_t told = rig.dialogs.seen().size();
    struct Case {
        int status;
        QByteArray body;
        QString reason;
    } cases[] = {
        {404, "", "HTTP 404"},
        {200, "1000,12\n", "a line with too few fields"},
        {200, "2000,361,50,-40,146520000,UCA\n", "a bearing outside 0-360"},
        {200, doaLine(3000, 10, 50, 146600000), "no line within 5 kHz of 146.5250 MHz"},
        {200, QByteArray(70 * 1024, '1'), "an answer over 64 KiB"},
        {0, "", "no answer within 2 s"},
    };
    for (const Case& c : cases) {
        server.status = c.status;
        server.body = c.body;
        EXPECT_TRUE(waitFor([&] { return inputs.statusText(InputRole::Df).contains(c.reason); },
                            c.status == 0 ? 4500 : 2500))
            << c.reason.toStdString() << ": " << inputs.statusText(InputRole::Df).toStdString();
        EXPECT_EQ(rig.form().DF_TIMEOUT, 0) << c.reason.toStdString();
    }
    // A time a little behind the last one is an old line; one far behind is a new series (the
    // DSP computer restarted), fresh again.
    rig.form().DF_TIMEOUT = 0;
    server.status = 200;
    server.body = doaLine(99000, 20, 80, 146520000);
    QTest::qWait(1500);
    EXPECT_EQ(rig.form().DF_TIMEOUT, 0);
    server.body = doaLine(30000, 20, 80, 146520000);
    EXPECT_TRUE(waitFor([&] { return rig.form().DF_TIMEOUT == 10; }, 2000));
    server.stop();
    EXPECT_TRUE(waitFor(
        [&] { return inputs.statusText(InputRole::Df).contains("(no bearing for"); }, 3000));
    int messages = 0;
    for (size_t i = told; i < rig.dialogs.seen().size(); ++i) {
        messages += rig.dialogs.seen()[i].text.startsWith("Direction finder: kraken at ") ? 1 : 0;
    }
    EXPECT_EQ(messages, 1);
    rig.form().removeObserver(log);
    rig.click("CmdButton_POSIT_SOURCE");
    rig.click("CmdButton_DF_SOURCE");
    EXPECT_EQ(inputs.statusText(InputRole::Df), "closed (not needed)");
}

}  // namespace
}  // namespace kestrel::test
