// The night panel on screen and across starts, and a first start without the folder on a real
// disk, answered both ways.

#include <QImage>

#include "app/layout.h"
#include "display/glyphs.h"
#include "options/night_panel.h"
#include "platform/qt/control_widgets.h"
#include "qt/window_rig.h"

namespace kestrel::test {
namespace {

QRgb rgbOf(Colour colour) {
    return qt::toQColor(colour).rgb() & 0xffffff;
}

// How many pixels of a register's glyph on a grab of the main window are `ink`; -1 when any
// pixel is neither `ink` nor `paper`.
int inkPixels(WindowRig& rig, const std::string& name, QRgb ink, QRgb paper) {
    const QImage shot = rig.window().grab().toImage().convertToFormat(QImage::Format_RGB32);
    QWidget* view = rig.control(name);
    const QPoint corner = view->mapTo(&rig.window(), QPoint((view->width() - kGlyphWidth) / 2, 0));
    int inked = 0;
    for (int y = 0; y < kGlyphHeight; ++y) {
        for (int x = 0; x < kGlyphWidth; ++x) {
            const QRgb px = shot.pixel(corner + QPoint(x, y)) & 0xffffff;
            if (px != ink && px != paper) {
                return -1;
            }
            inked += px == ink ? 1 : 0;
        }
    }
    return inked;
}

TEST(NightPanelOnScreen, GlyphsRedOnBlackThenTheDayBackAndTheChoiceKept) {
    TestHome home;
    const QRgb ink = rgbOf(kNightInk), paper = rgbOf(kNightPaper);
    const auto click = [](WindowRig& rig, const char* name) {
        QTest::mouseClick(rig.optionsControl(name), Qt::LeftButton);
    };
    {
        WindowRig rig(home);
        const int dayInk = inkPixels(rig, "Picture_LAT_DEGX1", 0x000000, 0xffffff);
        EXPECT_GT(dayInk, 20);
        rig.form().SAVE_SETTINGS();
        const std::string settingsAtDay = home.readFile("Kestrelmap.ini");

        rig.click("CmdButton_SHOW_OPTIONS");
        click(rig, "CmdButton_NIGHT_PANEL");
        EXPECT_EQ(inkPixels(rig, "Picture_LAT_DEGX1", ink, paper), dayInk);        // red on black
        EXPECT_EQ(rig.window().grab().toImage().pixel(12, 40) & 0xffffff, paper);  // a frame
        EXPECT_NE(home.readFile("Kestrelmap.conf").find("night=true"), std::string::npos);

        click(rig, "CmdButton_DEFAULT_COLORS");
        EXPECT_EQ(inkPixels(rig, "Picture_LAT_DEGX1", 0x000000, 0xffffff), dayInk);
        EXPECT_NE(home.readFile("Kestrelmap.conf").find("night=false"), std::string::npos);

        click(rig, "CmdButton_NIGHT_PANEL");  // night again, for the next start
        rig.form().SAVE_SETTINGS();
        EXPECT_EQ(home.readFile("Kestrelmap.ini"), settingsAtDay);  // no night colour in it
    }
    WindowRig again(home);
    EXPECT_GT(inkPixels(again, "Picture_LAT_DEGX1", ink, paper), 20);
}

// A first start without the folder on a real disk: the operator's answer decides whether
// anything is kept; a folder that cannot be made (its parent is missing) is told once more.
TEST(FirstStart, FolderMadeAndFilesWrittenOnlyWhenAsked) {
    const struct {
        QMessageBox::StandardButton answer;
        const char* parent;  // under the scratch HOME
        bool kept;
        size_t messages;  // before the port's own message at activation
    } cases[] = {
        {QMessageBox::Ok, "", true, 1},
        {QMessageBox::Cancel, "", false, 1},
        {QMessageBox::Ok, "gone/", false, 2},
    };
    for (const auto& c : cases) {
        testApp();
        QTemporaryDir home;
        const std::string folder = home.path().toStdString() + "/" + c.parent + "Kestrelmap/";
        DialogAnswerer dialogs;
        dialogs.thenPress(c.answer);
        qt::Program program(folder);
        program.setMapOverrides({.port = 0});
        program.start();
        QTest::qWait(20);
        ASSERT_GE(dialogs.seen().size(), c.messages) << c.parent;
        EXPECT_TRUE(dialogs.seen()[0].text.contains("does not exist"));
        if (c.messages == 2) {
            EXPECT_TRUE(dialogs.seen()[1].text.contains("its parent folder does not exist"));
        }
        const QDir dir(QString::fromStdString(folder));
        for (const char* name : {".", "Current_Hunt.kml", "Live_Hunt.kml", "Kestrelmap.ini"}) {
            EXPECT_EQ(dir.exists(name), c.kept) << name << " " << c.answer;
        }
        // Nor does the night switch make the folder.
        program.form().OptionsForm.setNightPanel(true);
        EXPECT_EQ(dir.exists("Kestrelmap.conf"), c.kept) << c.answer;
    }
}

}  // namespace
}  // namespace kestrel::test
