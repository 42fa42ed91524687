// The Qt platform facilities: whole-file text access with atomic replacement, the message box
// and the colour picker answered as an operator would, and the fixed folder.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QApplication>
#include <QColorDialog>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <functional>

#include "platform/qt/qt_platform.h"
#include "qt/test_app.h"

#if defined(__SANITIZE_ADDRESS__)
#define KESTREL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTREL_ASAN 1
#endif
#endif
#if defined(KESTREL_ASAN)
// Fontconfig, loaded by Qt for the first widget that shows text, keeps a few allocations it
// never frees; they are not ours. One definition serves every test of this binary.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
#endif

namespace kestrel::test {
namespace {

using namespace kestrel::qt;

// The files in `dir`, names only: a failed or finished write must leave no temporary file.
QStringList entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

struct FilesRig {
    FilesRig() { testApp(); }
    QTemporaryDir dir;
    QString folder = dir.path() + "/";
    std::string path(const char* name) const { return (folder + name).toStdString(); }
    QtTextFiles files;
    std::string error;
};

TEST(QtTextFiles, WritesAndReadsBytesAsGiven) {
    FilesRig rig;
    std::string content = "<kml>\r\n\tline 2\r\n";
    content += std::string("\0\x80\xff\n\r", 5);
    const std::string file = rig.path("Current_Hunt.kml");
    ASSERT_TRUE(rig.files.write(file, content, rig.error)) << rig.error;
    EXPECT_EQ(rig.files.read(file), content);
    ASSERT_TRUE(rig.files.write(file, "short\r\n", rig.error)) << rig.error;
    EXPECT_EQ(rig.files.read(file), "short\r\n") << "a replaced file keeps no old tail";
    ASSERT_TRUE(rig.files.write(file, "", rig.error));
    EXPECT_EQ(rig.files.read(file), "");
    EXPECT_EQ(entries(rig.folder), QStringList{"Current_Hunt.kml"});
}

TEST(QtTextFiles, ReadYieldsNothingForWhatCannotBeRead) {
    FilesRig rig;
    QDir(rig.folder).mkdir("adir");
    EXPECT_EQ(rig.files.read(rig.path("missing.ini")), std::nullopt);
    EXPECT_EQ(rig.files.read(rig.path("adir")), std::nullopt);
    EXPECT_EQ(rig.files.read(rig.path("nofolder/Kestrelmap.ini")), std::nullopt);
}

TEST(QtTextFiles, FailedWritesLeaveNothingHalfWritten) {
    FilesRig rig;
    // A folder that is missing: false and a reason.
    EXPECT_FALSE(rig.files.write(rig.path("nofolder/Kestrelmap.ini"), "x\r\n", rig.error));
    EXPECT_FALSE(rig.error.empty());

    // A directory where the file should be: false, the directory untouched, no temporary file.
    rig.error.clear();
    ASSERT_TRUE(QDir(rig.folder).mkdir("Current_Hunt.kml"));
    EXPECT_FALSE(rig.files.write(rig.path("Current_Hunt.kml"), "<kml/>\r\n", rig.error));
    EXPECT_FALSE(rig.error.empty());
    EXPECT_TRUE(QFileInfo(rig.folder + "Current_Hunt.kml").isDir());
    EXPECT_EQ(entries(rig.folder), QStringList{"Current_Hunt.kml"});
}

TEST(QtTextFiles, DiskFullKeepsTheOldFile) {
    FilesRig rig;
    const std::string file = rig.path("Kestrelmap.ini");
    ASSERT_TRUE(rig.files.write(file, "old\r\n", rig.error));
    // The file-size limit makes writing fail as a full disk does, also for root.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = rig.files.write(file, std::string(200000, 'x'), rig.error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_FALSE(rig.error.empty());
    EXPECT_EQ(rig.files.read(file), "old\r\n");
    EXPECT_EQ(entries(rig.folder), QStringList{"Kestrelmap.ini"});
}

TEST(KestrelmapFolder, IsKestrelmapInHome) {
    testApp();
    EXPECT_EQ(kestrelmapFolder(), QDir::homePath().toStdString() + "/Kestrelmap/");
}

// ---- dialogs, answered from a timer once the modal dialog is up ----

enum class Answer { Enter, Escape, ClickOk, ClickCancel };

struct SeenBox {
    QString title;
    QString text;
    QStringList buttons;
    QMessageBox::Icon icon = QMessageBox::Information;
    bool answered = false;
};

// Answers the next modal message box with `answer` and records what it showed.
void answerMessageBox(Answer answer, SeenBox& seen) {
    auto* timer = new QTimer(testApp());
    QObject::connect(timer, &QTimer::timeout, [timer, answer, &seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        for (QAbstractButton* b : box->buttons()) {
            seen.buttons << b->text().remove('&');
        }
        seen.answered = true;
        switch (answer) {
            case Answer::Enter:
                QTest::keyClick(box, Qt::Key_Return);
                break;
            case Answer::Escape:
                QTest::keyClick(box, Qt::Key_Escape);
                break;
            case Answer::ClickOk:
                box->button(QMessageBox::Ok)->click();
                break;
            case Answer::ClickCancel:
                box->button(QMessageBox::Cancel)->click();
                break;
        }
    });
    timer->start(10);
}

TEST(QtMessageBox, AnswersAsTheOperatorChose) {
    testApp();
    using kestrel::MessageButtons;
    using kestrel::MessageResult;
    struct Case {
        MessageButtons buttons;
        bool cancelIsDefault;
        Answer answer;
        MessageResult expected;
    };
    const Case cases[] = {
        {MessageButtons::OkCancel, true, Answer::Enter, MessageResult::Cancel},
        {MessageButtons::OkCancel, false, Answer::Enter, MessageResult::Ok},
        {MessageButtons::OkCancel, true, Answer::Escape, MessageResult::Cancel},
        {MessageButtons::OkCancel, false, Answer::Escape, MessageResult::Cancel},
        {MessageButtons::OkCancel, true, Answer::ClickOk, MessageResult::Ok},
        {MessageButtons::OkCancel, false, Answer::ClickCancel, MessageResult::Cancel},
        {MessageButtons::Ok, false, Answer::Enter, MessageResult::Ok},
        {MessageButtons::Ok, false, Answer::Escape, MessageResult::Ok},
    };
    for (const Case& c : cases) {
        const int line = int(&c - cases);
        QtMessageBox messages;
        int syncs = 0;
        bool modalAtSync = true;
        messages.beforeModal = [&] {
            ++syncs;
            modalAtSync = QApplication::activeModalWidget() != nullptr;
        };
        SeenBox seen;
        answerMessageBox(c.answer, seen);
        const MessageResult result =
            messages.show("Exit Kestrelmap ?", "Kestrelmap", c.buttons, c.cancelIsDefault);
        ASSERT_TRUE(seen.answered) << "case " << line;
        EXPECT_EQ(result, c.expected) << "case " << line;
        EXPECT_EQ(syncs, 1) << "case " << line;
        EXPECT_FALSE(modalAtSync) << "the widgets are synced before the box is up";
        EXPECT_EQ(seen.title, "Kestrelmap");
        EXPECT_EQ(seen.text, "Exit Kestrelmap ?");
        EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
        const QStringList expectedButtons =
            c.buttons == MessageButtons::Ok ? QStringList{"OK"} : QStringList{"OK", "Cancel"};
        EXPECT_EQ(seen.buttons, expectedButtons) << "case " << line;
    }
}

// Answers the next colour dialog: checks its start colour, then either picks `choose` or
// cancels (an invalid `choose`).
void answerColourDialog(QColor choose, QColor& startSeen) {
    auto* timer = new QTimer(testApp());
    QObject::connect(timer, &QTimer::timeout, [timer, choose, &startSeen] {
        auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        startSeen = dialog->currentColor();
        if (choose.isValid()) {
            dialog->setCurrentColor(choose);
            dialog->accept();
        } else {
            dialog->reject();
        }
    });
    timer->start(10);
}

TEST(QtColourPicker, StartsFromTheColourAndYieldsTheChoice) {
    testApp();
    QtColourPicker picker;
    int syncs = 0;
    picker.beforeModal = [&] { ++syncs; };
    struct Case {
        int32_t start;
        QColor choose;  // invalid: cancel
        int32_t expected;
    };
    const Case cases[] = {
        {0x00336699, QColor(), 0x00336699},                  // cancelled: the start colour
        {0x00FFFFFF, QColor(), 0x00FFFFFF},                  // white
        {0x00000000, QColor(0x11, 0x22, 0x33), 0x00332211},  // red in the lowest byte
        {0x00C0C0C0, QColor(255, 0, 0), 0x000000FF},
    };
    for (const Case& c : cases) {
        QColor startSeen;
        answerColourDialog(c.choose, startSeen);
        EXPECT_EQ(picker.pick(c.start, 3), c.expected);
        EXPECT_EQ(startSeen, QColor(c.start & 0xff, (c.start >> 8) & 0xff, (c.start >> 16) & 0xff))
            << std::hex << c.start;
    }
    EXPECT_EQ(syncs, 4);
}

TEST(QtPlatform, BundlesOneSetOfFacilities) {
    testApp();
    QtPlatform qtPlatform("/tmp/kestrel-folder/");
    int syncs = 0;
    qtPlatform.setBeforeModal([&] { ++syncs; });
    kestrel::Platform platform = qtPlatform.platform();
    EXPECT_EQ(&platform.serial, &qtPlatform.serial);
    EXPECT_EQ(&platform.files, &qtPlatform.files);
    EXPECT_EQ(qtPlatform.serial.devicePath(6).toStdString(), "/dev/ttyS5");
    QColor startSeen;
    answerColourDialog(QColor(), startSeen);
    EXPECT_EQ(platform.colourPicker.pick(0x123456, 3), 0x123456);
    SeenBox seen;
    answerMessageBox(Answer::Enter, seen);
    EXPECT_EQ(platform.messages.show("COM port not available", "Kestrelmap",
                                     kestrel::MessageButtons::Ok, false),
              kestrel::MessageResult::Ok);
    EXPECT_EQ(syncs, 2);
    const kestrel::LocalTime now = platform.clock.now();
    EXPECT_GE(now.year, 2024);
    EXPECT_TRUE(now.month >= 1 && now.month <= 12 && now.hour >= 0 && now.hour <= 23);
}

}  // namespace
}  // namespace kestrel::test
