// Faults from outside against the real program: the Qt file layer, the modal message box with
// its nested event loop, and the serial line that goes on meanwhile.

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "qt/window_rig.h"
#include "soak/sentences.h"

namespace kestrel::test {
namespace {

int placemarks(const std::string& text) {
    int n = 0;
    for (size_t at = text.find("<Placemark>"); at != std::string::npos;
         at = text.find("<Placemark>", at + 1)) {
        ++n;
    }
    return n;
}

// The current hunt file replaced by a folder in the middle of a hunt: the plot stays in
// memory, the operator is told once while the GPS keeps flowing behind the message box, and
// the first plot after the folder is gone writes every plot to both files.
TEST(FaultApp, MapFileReplacedByFolderWhileTheLineFlows) {
    TestHome home;
    WindowRig rig(home);
    rig.click("CmdButton_POSIT_SOURCE");
    rig.click("CmdButton_DF_SOURCE");
    ASSERT_TRUE(rig.form().MSComm1.isOpen());

    Fix fix;
    QTimer gps;
    QObject::connect(&gps, &QTimer::timeout, [&]() {
        fix.second = (fix.second + 1) % 60;
        home.pty.write(rmcSentence(fix) + bearingLine(45));
    });
    gps.start(100);
    QTest::qWait(400);
    ASSERT_EQ(10, rig.form().GPS_TIMEOUT);

    const auto plot = [&]() {
        rig.click("CmdButton_ADD_PLOT");
        QTest::qWait(3300);  // the hold-off
    };
    plot();
    ASSERT_EQ(1, placemarks(home.readFile("Current_Hunt.kml")));

    const QString current = QString::fromStdString(home.folder + "Current_Hunt.kml");
    ASSERT_TRUE(QFile::remove(current));
    ASSERT_TRUE(QDir().mkdir(current));
    std::string sentenceAtBox, sentenceAfterASecond;
    rig.dialogs.then([&](QWidget* dialog) {
        // The operator reads for a second; the line and the timers go on meanwhile.
        sentenceAtBox = rig.form().GPRMC_STRING;
        QTimer::singleShot(1000, dialog, [&, dialog]() {
            sentenceAfterASecond = rig.form().GPRMC_STRING;
            auto* box = qobject_cast<QMessageBox*>(dialog);
            ASSERT_NE(box, nullptr);
            box->button(QMessageBox::Ok)->click();
        });
    });
    plot();
    ASSERT_EQ(1u, rig.dialogs.seen().size());
    EXPECT_TRUE(rig.dialogs.seen()[0].text.contains("Current_Hunt.kml"))
        << rig.dialogs.seen()[0].text.toStdString();
    EXPECT_NE(sentenceAtBox, sentenceAfterASecond) << "the GPS was read while the box was open";
    EXPECT_FALSE(sentenceAfterASecond.empty());
    EXPECT_EQ(2,
              placemarks(home.readFile(QFileInfo(QString::fromStdString(rig.form().FILENAME_STRING))
                                           .fileName()
                                           .toStdString())));

    ASSERT_TRUE(QDir().rmdir(current));
    plot();
    EXPECT_EQ(1u, rig.dialogs.seen().size()) << "told once";
    EXPECT_EQ(3, rig.form().NUMBER_OF_PLOTS);
    EXPECT_EQ(3, placemarks(home.readFile("Current_Hunt.kml")));
    gps.stop();
}

// The data time-out ticks in the real window in every build, the sanitizer tree included.
// GCC 12 with -fsanitize=vptr (part of -fsanitize=undefined) miscompiles a call through a
// member-function pointer on a reference member reached through a QObject's `this` inside a
// lambda (the object pointer is left unset): the first tick crashed there.
TEST(FaultApp, TimeOutTicksInTheRealWindow) {
    TestHome home;
    WindowRig rig(home);
    rig.click("CmdButton_POSIT_SOURCE");
    home.pty.write(rmcSentence(Fix{}));
    QTest::qWait(200);
    ASSERT_EQ(10, rig.form().GPS_TIMEOUT);
    QTest::qWait(1100);  // one tick, or two when the first came at once
    EXPECT_GE(rig.form().GPS_TIMEOUT, 8);
    EXPECT_LE(rig.form().GPS_TIMEOUT, 9);
}

}  // namespace
}  // namespace kestrel::test
