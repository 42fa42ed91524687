// The live map from the windows: the status line opens it and says so, the instruments window
// gives its address, and a port that cannot be had is told once while the program goes on.

#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include "event_wait.h"
#include "qt/window_rig.h"

namespace kestrel::test {
namespace {

QString mapStatus(qt::Program& program) {
    program.instrumentsWindow().show();
    QTest::qWait(20);
    const auto* label = program.instrumentsWindow().findChild<QLabel*>(QStringLiteral("mapStatus"));
    const QString text = label ? label->text() : QString();
    program.instrumentsWindow().hide();
    return text;
}

TEST(LiveMapWindow, TheStatusLineOpensTheMapAndTheInstrumentsWindowGivesItsAddress) {
    TestHome home;
    const uint16_t port = freePort();
    WindowRig rig(home, port);
    ASSERT_NE(rig.program->liveMap(), nullptr);
    const QString address = QStringLiteral("http://127.0.0.1:%1/").arg(port);
    EXPECT_EQ(rig.program->liveMap()->address(), address);
    EXPECT_TRUE(mapStatus(*rig.program).contains(QStringLiteral("<a href=\"%1\">").arg(address)));

    QWidget* line = rig.control("Label_IDENT");
    EXPECT_TRUE(line->accessibleName().startsWith(QStringLiteral("Program: No fix yet")))
        << line->accessibleName().toStdString();
    EXPECT_TRUE(line->accessibleName().endsWith(QStringLiteral("(click to open the live map)")));
    int opened = 0;
    rig.window().setStatusLineLink([&opened]() { ++opened; });
    rig.click("Label_IDENT");
    EXPECT_EQ(opened, 1);
    rig.click("CmdButton_RANGE");  // the rest of the panel is as it was
    EXPECT_EQ(opened, 1);
}

TEST(LiveMapWindow, APortInUseIsToldOnceAndTheProgramGoesOn) {
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, freePort()));
    TestHome home;
    WindowRig rig(home, taken.serverPort());
    EXPECT_EQ(rig.program->liveMap(), nullptr);
    int told = 0;
    for (const auto& seen : rig.dialogs.seen()) {
        told += seen.text.startsWith(
                    QStringLiteral("The live map is off: 127.0.0.1:%1").arg(taken.serverPort()))
                    ? 1
                    : 0;
    }
    EXPECT_EQ(told, 1);
    EXPECT_FALSE(rig.control("Label_IDENT")->accessibleName().contains(QStringLiteral("live map")));
    EXPECT_TRUE(mapStatus(*rig.program).startsWith(QStringLiteral("Off: 127.0.0.1:")));
    EXPECT_FALSE(rig.form().Unloaded);
}

// What zbarimg reads in the instruments window as it is drawn: the link's QR code.
QString readQrCode(qt::InstrumentsWindow& window) {
    QTemporaryDir scratch;
    const QString shot = scratch.filePath(QStringLiteral("instruments.png"));
    // On a low screen the window scrolls: the code is brought into view as a hunter would.
    if (auto* scroll = window.findChild<QScrollArea*>()) {
        scroll->ensureWidgetVisible(window.findChild<QLabel*>(QStringLiteral("mapQrCode")));
        QTest::qWait(20);
    }
    window.grab().save(shot);
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--raw"), QStringLiteral("-q"), shot});
    zbar.waitForFinished(10000);
    const QString read = QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
    EXPECT_FALSE(read.isEmpty()) << zbar.readAllStandardError().toStdString();
    return read;
}

TEST(LiveMapWindow, TheSharedLinkIsTextAndAQrCodeAndANewLinkReplacesIt) {
    if (QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty()) {
        GTEST_SKIP() << "zbarimg (zbar-tools) is not installed";
    }
    TestHome home;
    // Shared on loopback's address: a link that is the same on every machine.
    home.writeFile("Kestrelmap.conf", "[map]\nshare=true\naddress=127.0.0.1\n");
    const uint16_t port = freePort();
    WindowRig rig(home, port);
    ASSERT_NE(rig.program->liveMap(), nullptr);
    qt::InstrumentsWindow& window = rig.program->instrumentsWindow();
    window.show();
    QTest::qWait(50);
    const auto* text = window.findChild<QLabel*>(QStringLiteral("mapLink"));
    ASSERT_NE(text, nullptr);
    std::vector<QString> links;
    for (int round = 0; round < 2; ++round) {
        const std::string key = home.readFile("map.key");
        ASSERT_EQ(key.size(), 33u) << key;
        const QString link = QStringLiteral("http://127.0.0.1:%1/?key=%2")
                                 .arg(port)
                                 .arg(QString::fromStdString(key.substr(0, 32)));
        EXPECT_EQ(rig.program->liveMap()->link(), link);
        EXPECT_EQ(text->text(), link);
        EXPECT_EQ(readQrCode(window), link);
        links.push_back(link);
        auto* newLink = window.findChild<QPushButton*>(QStringLiteral("mapNewLink"));
        ASSERT_NE(newLink, nullptr);
        newLink->click();
        QTest::qWait(20);
    }
    EXPECT_NE(links[0], links[1]);
    EXPECT_TRUE(mapStatus(*rig.program).contains(QStringLiteral("plain HTTP")));
    window.hide();
}

// A private key others can read: told once, and the map stays on this computer.
TEST(LiveMapWindow, APrivateKeyOthersCanReadKeepsTheMapOnThisComputer) {
    TestHome home;
    home.writeFile("tls.crt", "not checked before the key\n");
    home.writeFile("tls.key", "secret\n");
    QFile::setPermissions(QString::fromStdString(home.folder + "tls.key"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    home.writeFile("Kestrelmap.conf", "[map]\nshare=true\ncertificate=" + home.folder +
                                          "tls.crt\nprivate_key=" + home.folder + "tls.key\n");
    WindowRig rig(home, freePort());
    ASSERT_NE(rig.program->liveMap(), nullptr);
    EXPECT_TRUE(rig.program->liveMap()->link().isEmpty());
    EXPECT_FALSE(rig.program->liveMap()->server().shared());
    int told = 0;
    for (const auto& seen : rig.dialogs.seen()) {
        told += seen.text.contains(QStringLiteral("can be read by other users")) ? 1 : 0;
    }
    EXPECT_EQ(told, 1);
    EXPECT_TRUE(mapStatus(*rig.program).contains(QStringLiteral("not shared: the private key")));
}

}  // namespace
}  // namespace kestrel::test
