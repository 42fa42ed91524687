// The night panel on screen and across starts, and a first start without the folder on a real
// disk, answered both ways.

#include <QImage>
#include <QSettings>

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

// The colours of a register's glyph on a grab of the main window: ink and paper count, and
// anything else.
struct GlyphInks {
    int ink = 0;
    int paper = 0;
    int other = 0;
};
GlyphInks glyphInks(WindowRig& rig, const std::string& name, QRgb ink, QRgb paper) {
    const QImage shot = rig.window().grab().toImage().convertToFormat(QImage::Format_RGB32);
    QWidget* view = rig.control(name);
    const QPoint corner = view->mapTo(&rig.window(), QPoint((view->width() - kGlyphWidth) / 2, 0));
    GlyphInks seen;
    for (int y = 0; y < kGlyphHeight; ++y) {
        for (int x = 0; x < kGlyphWidth; ++x) {
            const QRgb px = shot.pixel(corner + QPoint(x, y)) & 0xffffff;
            (px == ink ? seen.ink : px == paper ? seen.paper : seen.other)++;
        }
    }
    return seen;
}

QRgb windowPixel(WindowRig& rig, QPoint at) {
    return rig.window().grab().toImage().pixel(at) & 0xffffff;
}

void clickOption(WindowRig& rig, const std::string& name) {
    QTest::mouseClick(rig.optionsControl(name), Qt::LeftButton);
}

std::string confText(const TestHome& home) {
    return home.readFile("Kestrelmap.conf");
}

TEST(NightPanelOnScreen, GlyphsRedOnBlackThenTheDayBackAndTheChoiceKept) {
    TestHome home;
    const QRgb night[2] = {rgbOf(kNightInk), rgbOf(kNightPaper)};
    const QRgb day[2] = {0x000000, 0xffffff};
    const QPoint inFrame(12, 40);  // Frame_POSITION's background, left of POSIT SOURCE
    std::string settingsAtDay;
    {
        WindowRig rig(home);
        const GlyphInks before = glyphInks(rig, "Picture_LAT_DEGX1", day[0], day[1]);
        EXPECT_GT(before.ink, 20);
        EXPECT_EQ(before.other, 0);
        rig.form().SAVE_SETTINGS();
        settingsAtDay = home.readFile("Kestrelmap.ini");

        rig.click("CmdButton_SHOW_OPTIONS");
        clickOption(rig, "CmdButton_NIGHT_PANEL");
        ASSERT_TRUE(rig.form().OptionsForm.nightPanel());
        const GlyphInks dark = glyphInks(rig, "Picture_LAT_DEGX1", night[0], night[1]);
        EXPECT_EQ(dark.ink, before.ink);  // the same figure, red on black
        EXPECT_EQ(dark.other, 0);
        EXPECT_EQ(windowPixel(rig, inFrame), night[1]);
        EXPECT_NE(confText(home).find("night=true"), std::string::npos) << confText(home);

        clickOption(rig, "CmdButton_DEFAULT_COLORS");
        EXPECT_FALSE(rig.form().OptionsForm.nightPanel());
        const GlyphInks back = glyphInks(rig, "Picture_LAT_DEGX1", day[0], day[1]);
        EXPECT_EQ(back.ink, before.ink);
        EXPECT_EQ(back.other, 0);
        EXPECT_EQ(windowPixel(rig, inFrame), rgbOf(Colour::fromRgb(33410)));
        EXPECT_NE(confText(home).find("night=false"), std::string::npos) << confText(home);

        clickOption(rig, "CmdButton_NIGHT_PANEL");  // night again, for the next start
        rig.form().SAVE_SETTINGS();
        EXPECT_EQ(home.readFile("Kestrelmap.ini"), settingsAtDay);  // no night colour in it
    }
    WindowRig again(home);
    EXPECT_TRUE(again.form().OptionsForm.nightPanel());
    EXPECT_EQ(glyphInks(again, "Picture_LAT_DEGX1", night[0], night[1]).other, 0);
}

TEST(NightPanelOnScreen, OnlyTrueInTheFileMeansNight) {
    const struct {
        const char* conf;
        bool night;
    } cases[] = {
        {"[display]\nnight=true\n", true},
        {"[display]\nnight=TRUE \n", true},
        {"[display]\nnight=false\n", false},
        {"[display]\nnight=banana\n", false},
        {"[display]\nnight=1\n", false},
        {"\x01\x02 garbage [[[\n", false},
        {"", false},
    };
    for (const auto& c : cases) {
        TestHome home;
        home.writeFile("Kestrelmap.conf", c.conf);
        EXPECT_EQ(qt::readNightChoice(home.folder), c.night) << c.conf;
    }
}

// A HOME without the Kestrelmap folder; the first message box is answered with `answer`.
TEST(FirstStart, FolderMadeAndFilesWrittenOnlyWhenAsked) {
    for (const auto answer : {QMessageBox::Ok, QMessageBox::Cancel}) {
        testApp();
        QTemporaryDir home;
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", home.path().toLocal8Bit());
        const std::string folder = home.path().toStdString() + "/Kestrelmap/";
        {
            DialogAnswerer dialogs;
            dialogs.thenPress(answer);
            qt::Program program(folder);
            program.start();
            QTest::qWait(20);
            ASSERT_FALSE(dialogs.seen().empty());
            EXPECT_TRUE(dialogs.seen()[0].text.contains("does not exist")) << answer;
            const bool kept = answer == QMessageBox::Ok;
            const QDir dir(QString::fromStdString(folder));
            EXPECT_EQ(dir.exists(), kept) << answer;
            for (const char* name : {"Current_Hunt.kml", "Live_Hunt.kml", "Kestrelmap.ini"}) {
                EXPECT_EQ(dir.exists(name), kept) << name;
            }
            // The night switch keeps nothing either when there is no folder.
            program.form().OptionsForm.setNightPanel(true);
            EXPECT_EQ(dir.exists("Kestrelmap.conf"), kept) << answer;
            EXPECT_EQ(QDir(QString::fromStdString(folder)).exists(), kept) << answer;
        }
        qputenv("HOME", oldHome);
    }
}

}  // namespace
}  // namespace kestrel::test
