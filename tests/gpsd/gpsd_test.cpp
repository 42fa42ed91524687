// The GPS shared through the real gpsd. The panel follows a receiver log that gpsfake plays
// into gpsd, survives gpsd stopping (dashes after the GPS time-out, one message naming the
// address) and reconnects by itself when gpsd comes back. With gpsd reading a pseudo-terminal
// the test writes, the receive-to-display latency and the reconnect time are measured and
// printed (the figures in docs/PERFORMANCE.md come from here).

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <algorithm>
#include <cstdio>

#include "input_test_support.h"
#include "qt/window_rig.h"

namespace kestrel::test {
namespace {

using instruments::InputRole;

bool listening(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

// A daemon in a process group of its own, so that gpsfake's gpsd goes with it.
class Daemon {
  public:
    Daemon(const QString& program, const QStringList& arguments) {
        m_process.setProgram(program);
        m_process.setArguments(arguments);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setChildProcessModifier([] { ::setsid(); });
        m_process.start();
        m_process.waitForStarted(5000);
    }
    ~Daemon() { stop(); }
    void stop() {
        if (m_process.state() == QProcess::NotRunning) {
            return;
        }
        const pid_t group = pid_t(m_process.processId());
        ::kill(-group, SIGTERM);
        if (!m_process.waitForFinished(3000)) {
            ::kill(-group, SIGKILL);
            m_process.waitForFinished(3000);
        }
        ::kill(-group, SIGKILL);  // anything the daemon left behind in its group
    }

  private:
    QProcess m_process;
};

QString tool(const char* name) {
    return QStandardPaths::findExecutable(name, {"/usr/sbin", "/usr/bin", "/sbin", "/bin"});
}

std::string fixAt(int minuteThousandths) {
    char text[96];
    std::snprintf(text, sizeof text,
                  "$GPRMC,120000.00,A,4807.%03d,N,01131.000,E,12.5,084.0,"
                  "080326,,",
                  minuteThousandths);
    return withChecksum(text) + "\r\n";
}

// The panel shows a position of the log (north 48 degrees 7 minutes, east 11 31.00).
bool showsLogPosition(Form_Kestrelmap& f) {
    const std::string shown = shownPosition(f);
    return shown.rfind("N4807.", 0) == 0 && shown.substr(8) == " E01131.00";
}

struct GpsdRig {
    explicit GpsdRig(quint16 port) : rig(home) {
        instruments::InputConfig config;
        config.gps = instruments::GpsFrom::Gpsd;
        config.gpsdHost = "127.0.0.1";
        config.gpsdPort = port;
        rig.program->inputs().configure(config);
        where = "gpsd at 127.0.0.1:" + std::to_string(port);
    }
    Form_Kestrelmap& form() { return rig.form(); }
    QString status() { return rig.program->inputs().statusText(InputRole::Gps); }
    int messagesNaming(const std::string& text) {
        return int(std::count_if(rig.dialogs.seen().begin(), rig.dialogs.seen().end(),
                                 [&](const DialogAnswerer::Seen& s) {
                                     return s.text.toStdString().find(text) != std::string::npos;
                                 }));
    }
    void silence() {  // the GPS time-out runs out, as ten ticks of Timer_TIMEOUT do
        for (int i = 0; i < 10; ++i) {
            rig.window().runHandler([this] { form().Timer_TIMEOUT_Timer(); });
        }
    }
    TestHome home;
    WindowRig rig;
    std::string where;
};

TEST(Gpsd, PanelFollowsALogFromGpsfakeAndSurvivesARestart) {
    const QString gpsfake = tool("gpsfake");
    if (gpsfake.isEmpty() || tool("gpsd").isEmpty()) {
        GTEST_SKIP() << "gpsd and gpsfake are not installed";
    }
    QTemporaryDir dir;
    const QString log = dir.filePath("drive.nmea");
    {
        QFile file(log);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("# a short drive north, written for this test\n");
        for (int i = 0; i < 10; ++i) {
            file.write(fixAt(100 + 100 * i).c_str());
            file.write((withChecksum("$GPHDT,200.0,T") + "\r\n").c_str());
        }
    }
    const quint16 port = freePort();
    ASSERT_NE(port, 0) << "no free TCP port on the loopback";
    const QStringList args{"-q", "-P", QString::number(port), "-c", "0.05", log};
    auto daemon = std::make_unique<Daemon>(gpsfake, args);
    ASSERT_TRUE(waitFor([&] { return listening(port); }, 10000));
    GpsdRig g(port);
    g.rig.click("CmdButton_POSIT_SOURCE");
    ASSERT_TRUE(waitFor([&] { return showsLogPosition(g.form()); }, 10000))
        << g.status().toStdString();
    // It follows: the minutes go on changing as the log plays.
    const std::string first = shownPosition(g.form());
    ASSERT_TRUE(waitFor(
        [&] { return showsLogPosition(g.form()) && shownPosition(g.form()) != first; }, 5000));
    EXPECT_EQ(g.status().left(20), "receiving, last fix ");
    ASSERT_TRUE(waitFor([&] { return g.form().freshHeading().has_value(); }, 2000));
    EXPECT_EQ(*g.form().freshHeading(), (HeadingReading{200, "HDT"}));
    EXPECT_EQ(g.messagesNaming(g.where), 0);

    daemon->stop();
    ASSERT_TRUE(
        waitFor([&] { return g.status().toStdString() == g.where + " not reachable"; }, 5000));
    g.silence();
    EXPECT_EQ(shownPosition(g.form()), "N----.-- E-----.--");  // as for a silent GPS
    QTest::qWait(2100);  // further failed tries: no further message
    EXPECT_EQ(g.messagesNaming(g.where), 1);

    QElapsedTimer back;
    back.start();
    daemon = std::make_unique<Daemon>(gpsfake, args);
    ASSERT_TRUE(waitFor([&] { return showsLogPosition(g.form()); }, 15000));
    std::printf("[ figure ] gpsd restart (gpsfake) to position shown again: %lld ms\n",
                static_cast<long long>(back.elapsed()));
    EXPECT_EQ(g.messagesNaming(g.where), 1);
    g.rig.click("CmdButton_POSIT_SOURCE");
    EXPECT_EQ(g.status(), "closed (not needed)");
}

TEST(Gpsd, LatencyAndReconnectTimeThroughGpsd) {
    const QString gpsd = tool("gpsd");
    if (gpsd.isEmpty()) {
        GTEST_SKIP() << "gpsd is not installed";
    }
    Pty receiver;
    ASSERT_TRUE(receiver.ok());
    const quint16 port = freePort();
    ASSERT_NE(port, 0) << "no free TCP port on the loopback";
    // -N foreground, -n poll the device without waiting for a client, -b never write to it.
    const QStringList args{"-N",
                           "-n",
                           "-b",
                           "-S",
                           QString::number(port),
                           QString::fromStdString(receiver.slavePath())};
    auto daemon = std::make_unique<Daemon>(gpsd, args);
    ASSERT_TRUE(waitFor([&] { return listening(port); }, 10000));
    GpsdRig g(port);
    g.rig.click("CmdButton_POSIT_SOURCE");
    // gpsd recognises the receiver from its first sentences.
    int minute = 0;
    ASSERT_TRUE(waitFor(
        [&] {
            receiver.write(fixAt(++minute % 1000));
            QTest::qWait(20);
            return showsLogPosition(g.form());
        },
        10000));
    std::vector<qint64> latenciesUs;
    for (int i = 0; i < 20; ++i) {
        QTest::qWait(30);
        const std::string before = shownPosition(g.form());
        QElapsedTimer sent;
        sent.start();
        ASSERT_TRUE(receiver.write(fixAt(500 + 10 * i)));
        ASSERT_TRUE(waitFor([&] { return shownPosition(g.form()) != before; }, 2000)) << i;
        latenciesUs.push_back(sent.nsecsElapsed() / 1000);
    }
    std::sort(latenciesUs.begin(), latenciesUs.end());
    std::printf(
        "[ figure ] receive-to-display through gpsd over 20 fixes: median %.1f ms, "
        "max %.1f ms\n",
        double(latenciesUs[10]) / 1000, double(latenciesUs.back()) / 1000);
    EXPECT_LT(latenciesUs[10], 500000);

    daemon->stop();
    ASSERT_TRUE(
        waitFor([&] { return g.status().toStdString() == g.where + " not reachable"; }, 5000));
    QElapsedTimer back;
    back.start();
    daemon = std::make_unique<Daemon>(gpsd, args);
    ASSERT_TRUE(waitFor(
        [&] {
            receiver.write(fixAt(++minute % 1000));
            QTest::qWait(20);
            return g.status().startsWith("receiving");
        },
        10000));
    std::printf("[ figure ] gpsd restart to receiving again: %lld ms\n",
                static_cast<long long>(back.elapsed()));
    EXPECT_LT(back.elapsed(), 5000);
}

}  // namespace
}  // namespace kestrel::test
