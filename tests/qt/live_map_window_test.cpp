// The live map from the windows: the status line opens it and says so, the instruments window
// gives its address, and a port that cannot be had is told once while the program goes on.

#include <gtest/gtest.h>

#include <QLabel>
#include <QTcpServer>
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

}  // namespace
}  // namespace kestrel::test
