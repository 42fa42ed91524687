// The program's dialogs answered from the test, as the operator would: the port warning on
// activation, the close question from the close box and from EXIT, and the colour picker; and
// the options window shown, hidden and never closed.

#include <QColorDialog>
#include <QScreen>

#include "platform/qt/control_widgets.h"
#include "qt/window_rig.h"

namespace kestrel::test {
namespace {

const QString kPortWarning = "COM port not available";
const QString kCloseQuestion = "This will close Kestrelmap... Are you SURE ?";

int countSeen(const DialogAnswerer& dialogs, const QString& text) {
    int n = 0;
    for (const DialogAnswerer::Seen& seen : dialogs.seen()) {
        n += seen.text == text ? 1 : 0;
    }
    return n;
}

TEST(Activation, PortWarningOnFirstShowAndAfterTheOptionsWindowOnly) {
    TestHome home(PortSetup::Busy);
    WindowRig rig(home);
    ASSERT_TRUE(QTest::qWaitFor([&]() { return !rig.dialogs.seen().empty(); }, 2000));
    QTest::qWait(50);
    ASSERT_EQ(rig.dialogs.seen().size(), 1u);  // its own box closing does not raise it again
    EXPECT_EQ(rig.dialogs.seen()[0].text, kPortWarning);
    EXPECT_EQ(rig.dialogs.seen()[0].title, "Kestrelmap");

    // Back from the options window: the warning again, once.
    rig.click("CmdButton_SHOW_OPTIONS");
    qt::OptionsWindow& options = rig.window().optionsWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&options));
    QTest::mouseClick(rig.optionsControl("cmdbutton_EXIT"), Qt::LeftButton);
    EXPECT_FALSE(options.isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&]() { return rig.dialogs.seen().size() == 2; }, 2000));
    QTest::qWait(50);
    EXPECT_EQ(countSeen(rig.dialogs, kPortWarning), 2);

    // Back from a window that is not ours: nothing.
    QWidget stranger;
    stranger.show();
    stranger.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&stranger));
    rig.window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&rig.window()));
    QTest::qWait(50);
    EXPECT_EQ(rig.dialogs.seen().size(), 2u);
}

TEST(Activation, NoWarningWithAGoodPort) {
    TestHome home(PortSetup::Free);
    WindowRig rig(home);
    rig.click("CmdButton_SHOW_OPTIONS");
    ASSERT_TRUE(QTest::qWaitForWindowActive(&rig.window().optionsWindow()));
    QTest::mouseClick(rig.optionsControl("cmdbutton_EXIT"), Qt::LeftButton);
    QTest::qWait(100);
    EXPECT_TRUE(rig.dialogs.seen().empty());
}

TEST(CloseQuestion, EnterCancelsAndOkSavesThePositionShown) {
    TestHome home;
    std::string settingsBefore;
    {
        WindowRig rig(home);
        settingsBefore = home.readFile("Kestrelmap.ini");
        rig.click("CmdButton_LAT_DEGX1_UP");  // 34 becomes 35
        ASSERT_EQ(rig.form().Picture_LAT_DEGX1.Tag, "5");

        // The close box asks; Enter answers Cancel and nothing happens.
        rig.dialogs.thenKey(Qt::Key_Return);
        rig.window().close();
        ASSERT_EQ(rig.dialogs.seen().size(), 1u);
        EXPECT_EQ(rig.dialogs.seen()[0].text, kCloseQuestion);
        EXPECT_EQ(rig.dialogs.seen()[0].title, "Close Kestrelmap Program");
        EXPECT_TRUE(rig.window().isVisible());
        EXPECT_EQ(rig.unloadedSignals, 0);
        EXPECT_EQ(home.readFile("Kestrelmap.ini"), settingsBefore);
        EXPECT_TRUE(rig.window().timer(0).isActive());

        // OK: the settings are written, both windows go, the program is told to end.
        rig.dialogs.thenPress(QMessageBox::Ok);
        rig.window().close();
        ASSERT_EQ(rig.dialogs.seen().size(), 2u);
        EXPECT_EQ(rig.unloadedSignals, 1);
        EXPECT_FALSE(rig.window().isVisible());
        EXPECT_FALSE(rig.window().optionsWindow().isVisible());
        EXPECT_FALSE(rig.window().timer(0).isActive());
        EXPECT_EQ(home.readFile("Kestrelmap.ini").substr(0, 6), "3\r\n5\r\n");
    }
    // The next start shows the saved position.
    WindowRig next(home);
    EXPECT_EQ(next.form().Picture_LAT_DEGX1.Tag, "5");
    EXPECT_EQ(next.form().Picture_LAT_DEGX1.glyph, Glyph::Five);
}

TEST(CloseQuestion, ExitAsksTheSameAndOkEndsTheProgram) {
    TestHome home;
    WindowRig rig(home);
    rig.click("CmdButton_SHOW_OPTIONS");
    rig.dialogs.thenPress(QMessageBox::Cancel);
    rig.click("cmdbutton_EXIT");
    ASSERT_EQ(rig.dialogs.seen().size(), 1u);
    EXPECT_EQ(rig.dialogs.seen()[0].text, kCloseQuestion);
    EXPECT_TRUE(rig.window().isVisible());
    EXPECT_TRUE(rig.window().optionsWindow().isVisible());

    rig.click("CmdButton_LONG_MINX001_UP");  // 44.50 becomes 44.51
    rig.dialogs.thenPress(QMessageBox::Ok);
    rig.click("cmdbutton_EXIT");
    EXPECT_EQ(rig.unloadedSignals, 1);
    EXPECT_FALSE(rig.window().isVisible());
    EXPECT_FALSE(rig.window().optionsWindow().isVisible());
    const std::string saved = home.readFile("Kestrelmap.ini");
    EXPECT_EQ(saved.substr(0, 39),
              "3\r\n4\r\n2\r\n5\r\n1\r\n1\r\n1\r\n1\r\n9\r\n4\r\n4\r\n5\r\n1\r\n");
}

TEST(OptionsWindow, ShownModelessCentredAndOnlyEverHidden) {
    TestHome home;
    WindowRig rig(home);
    qt::OptionsWindow& options = rig.window().optionsWindow();
    EXPECT_FALSE(options.isVisible());
    rig.click("CmdButton_SHOW_OPTIONS");
    ASSERT_TRUE(options.isVisible());
    const QRect screen = rig.window().screen()->availableGeometry();
    // Centred as far as the window frame (a few pixels on some platforms) lets one know.
    const QPoint offCentre = options.geometry().center() - screen.center();
    EXPECT_LE(std::abs(offCentre.x()), 3);
    EXPECT_LE(std::abs(offCentre.y()), 3);

    rig.click("CmdButton_SHOW_OPTIONS");  // already shown: stays shown
    EXPECT_TRUE(options.isVisible());
    EXPECT_TRUE(rig.form().OptionsForm.Visible);

    // The main window goes on working while the options window is up.
    rig.click("CmdButton_BRGX1_UP");
    EXPECT_EQ(rig.form().Picture_BRGX1.Tag, "1");

    // Its close box hides it; the window and its state stay, and it comes back where it was.
    options.move(options.pos() + QPoint(30, 20));
    const QPoint movedTo = options.pos();
    options.close();
    EXPECT_FALSE(options.isVisible());
    EXPECT_FALSE(rig.form().OptionsForm.Visible);
    EXPECT_TRUE(rig.form().OptionsForm.Loaded);
    rig.click("CmdButton_SHOW_OPTIONS");
    EXPECT_TRUE(options.isVisible());
    EXPECT_EQ(options.pos(), movedTo);
    EXPECT_EQ(rig.unloadedSignals, 0);
}

TEST(ColourPicker, CancelOnButtonBackgroundStillColoursEveryButton) {
    TestHome home;
    WindowRig rig(home);
    rig.click("CmdButton_SHOW_OPTIONS");
    auto* preview =
        static_cast<qt::ColourBox*>(rig.optionsControl("Picture_BUTTON_BACKGROUND_COLOR"));
    const QColor start = preview->backColour();

    // Picking a colour repaints every button, the disabled timer button included.
    const QColor chosen(12, 200, 99);
    rig.dialogs.then([&](QWidget* dialog) {
        auto* picker = qobject_cast<QColorDialog*>(dialog);
        ASSERT_NE(picker, nullptr);
        EXPECT_EQ(picker->currentColor(), start);
        picker->setCurrentColor(chosen);
        picker->accept();
    });
    QTest::mouseClick(rig.optionsControl("cmdbutton_BUTTON_BACKGROUND_COLOR"), Qt::LeftButton);
    ASSERT_EQ(rig.dialogs.seen().size(), 1u);
    EXPECT_EQ(preview->backColour(), chosen);
    const auto buttonsOf = [](QWidget& window) { return window.findChildren<qt::PanelButton*>(); };
    for (qt::PanelButton* button : buttonsOf(rig.window())) {
        EXPECT_EQ(button->backColour(), chosen) << button->objectName().toStdString();
    }
    EXPECT_FALSE(rig.control("CmdButton_TIMER")->isEnabled());

    // Cancel on the clickable preview box: the start colour is applied all the same.
    rig.window().runHandler([&]() { rig.form().CmdButton_TIMER.BackColor = kLockedGrey; });
    rig.dialogs.then([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    QTest::mouseClick(preview, Qt::LeftButton);
    ASSERT_EQ(rig.dialogs.seen().size(), 2u);
    for (qt::PanelButton* button : buttonsOf(rig.window().optionsWindow())) {
        EXPECT_EQ(button->backColour(), chosen) << button->objectName().toStdString();
    }
    EXPECT_EQ(static_cast<qt::PanelButton*>(rig.control("CmdButton_TIMER"))->backColour(), chosen);

    // The display and vector preview boxes open nothing.
    QTest::mouseClick(rig.optionsControl("Picture_DISPLAY_BACKGROUND_COLOR"), Qt::LeftButton);
    QTest::mouseClick(rig.optionsControl("Picture_VECTOR_COLOR"), Qt::LeftButton);
    QTest::qWait(30);
    EXPECT_EQ(rig.dialogs.seen().size(), 2u);
}

}  // namespace
}  // namespace kestrel::test
