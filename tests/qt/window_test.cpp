// The real main window in a temporary HOME: what start-up shows, clicks on the real buttons,
// the keyboard, the timers and the serial line.

#include <QFontMetrics>
#include <QImage>
#include <QRegularExpression>

#include "accessibility/spoken_panel.h"
#include "app/layout.h"
#include "display/glyphs.h"
#include "hunt/status_line.h"
#include "platform/qt/control_widgets.h"
#include "qt/window_rig.h"

namespace kestrel::test {
namespace {

using qt::PanelButton;

// Pixels of `shot` that differ from `glyph` drawn black on white at `origin`.
int glyphMismatches(const QImage& shot, QPoint origin, const GlyphImage& glyph) {
    int wrong = 0;
    for (int y = 0; y < glyph.height; ++y) {
        for (int x = 0; x < glyph.width; ++x) {
            const QRgb expected = glyph.black(x, y) ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
            if ((shot.pixel(origin + QPoint(x, y)) & 0xffffff) != (expected & 0xffffff)) {
                ++wrong;
            }
        }
    }
    return wrong;
}

// Where a register or decimal point of the main window draws its image.
QPoint imageCorner(WindowRig& rig, const std::string& name, int imageWidth = kGlyphWidth) {
    QWidget* view = rig.control(name);
    return view->mapTo(&rig.window(), QPoint((view->width() - imageWidth) / 2, 0));
}

QImage shotOf(QWidget& window) {
    return window.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QColor rgbColour(int32_t rgb) {
    return QColor(rgb & 0xff, (rgb >> 8) & 0xff, (rgb >> 16) & 0xff);
}

// Every caption, tag and register value of the main window but the plot button's (which a
// plot changes), to see that nothing else changed.
std::string panelState(Form_Kestrelmap& form) {
    std::string state;
    for (const MainControlLayout& row : mainWindowLayout()) {
        if (row.name == "CmdButton_ADD_PLOT") {
            continue;
        }
        if (const auto* button = std::get_if<Button Form_Kestrelmap::*>(&row.control)) {
            state += (form.**button).Caption + "|" + (form.**button).Tag + ";";
        } else if (const auto* reg = std::get_if<DigitRegister Form_Kestrelmap::*>(&row.control)) {
            state += (form.**reg).Tag + std::to_string(int((form.**reg).glyph)) + ";";
        }
    }
    return state;
}

constexpr int32_t kDisplay = 10 | (20 << 8) | (30 << 16);
constexpr int32_t kButtons = 200 | (100 << 8) | (50 << 16);
constexpr int32_t kLegend = 0 | (0 << 8) | (255 << 16);

TEST(MainWindow, StartUpShowsCaptionStoredPositionAndColours) {
    TestHome home;
    home.writeSettings({"9",
                        "2",
                        "3",
                        "4",
                        "5",
                        "6",
                        "0",
                        "7",
                        "8",
                        "5",
                        "9",
                        "1",
                        "2",
                        "S",
                        "E",
                        std::to_string(kDisplay),
                        std::to_string(kButtons),
                        std::to_string(kLegend),
                        "255",
                        "1"});
    WindowRig rig(home);
    qt::MainWindow& window = rig.window();
    ASSERT_TRUE(window.isVisible());
    EXPECT_EQ(window.size(), QSize(913, 133));

    const QRegularExpression caption("^Kestrelmap (\\d{6}_\\d{6})$");
    const auto match = caption.match(window.windowTitle());
    ASSERT_TRUE(match.hasMatch()) << window.windowTitle().toStdString();
    EXPECT_TRUE(QFile::exists(QString::fromStdString(home.folder) + match.captured(1) + ".kml"));

    // The stored digits as glyphs; latitude tens keeps "9" and shows the dash.
    const QImage shot = shotOf(window);
    const struct {
        const char* reg;
        Glyph glyph;
    } shown[] = {
        {"Picture_LAT_DEGX10", Glyph::Dash},   {"Picture_LAT_DEGX1", Glyph::Two},
        {"Picture_LAT_MINX10", Glyph::Three},  {"Picture_LAT_MINX001", Glyph::Six},
        {"Picture_LONG_DEGX100", Glyph::Zero}, {"Picture_LONG_DEGX10", Glyph::Seven},
        {"Picture_LONG_MINX1", Glyph::Nine},   {"Picture_LONG_MINX001", Glyph::Two},
        {"Picture_BRGX100", Glyph::Zero},
    };
    for (const auto& s : shown) {
        EXPECT_EQ(glyphMismatches(shot, imageCorner(rig, s.reg), glyphImage(s.glyph)), 0) << s.reg;
    }
    EXPECT_EQ(rig.form().Picture_LAT_DEGX10.Tag, "9");
    EXPECT_EQ(glyphMismatches(shot, imageCorner(rig, "Picture_LAT_POINT", kPointWidth),
                              decimalPointImage()),
              0);
    EXPECT_EQ(static_cast<PanelButton*>(rig.control("CmdButton_LAT_HEMI"))->text(), "S");
    EXPECT_EQ(static_cast<PanelButton*>(rig.control("CmdButton_LONG_HEMI"))->text(), "E");

    // Display colour on the window and inside a frame, button colour on enabled and disabled
    // buttons alike, legend colour on the frame captions and the identification line.
    EXPECT_EQ(shot.pixelColor(3, 3), rgbColour(kDisplay));
    EXPECT_EQ(shot.pixelColor(632 + 76, 8 + 40), rgbColour(kDisplay));
    for (const char* name : {"cmdbutton_EXIT", "CmdButton_TIMER", "CmdButton_BRGX1_DN"}) {
        const QPoint inside =
            rig.control(name)->mapTo(&window, QPoint(rig.control(name)->width() - 5, 4));
        EXPECT_EQ(shot.pixelColor(inside), rgbColour(kButtons)) << name;
    }
    EXPECT_FALSE(rig.control("CmdButton_TIMER")->isEnabled());
    auto* frame = static_cast<qt::FrameBox*>(rig.control("Frame_DF"));
    EXPECT_EQ(frame->textColour(), rgbColour(kLegend));
    EXPECT_EQ(frame->caption(), "DF");
    auto* ident = static_cast<qt::TextLabel*>(rig.control("Label_IDENT"));
    EXPECT_EQ(ident->textColour(), rgbColour(kLegend));
    EXPECT_FALSE(ident->caption().isEmpty());
    EXPECT_TRUE(rig.dialogs.seen().empty());
}

// The status line at its widest still fits the identification line at its designed size, and
// the window shows it from start-up on.
TEST(MainWindow, StatusLineFitsTheIdentificationLine) {
    TestHome home;
    WindowRig rig(home);
    auto* ident = static_cast<qt::TextLabel*>(rig.control("Label_IDENT"));
    EXPECT_TRUE(ident->caption().startsWith("No fix yet: ")) << ident->caption().toStdString();

    estimate::Estimate fix;
    fix.shown = fix.provisional = true;
    fix.latitudeDeg = -89.99999;
    fix.longitudeDeg = -179.99;
    fix.semiMajorM = 99999;
    fix.used = 99;
    fix.plots = 297;
    const std::string widest = statusLine(fix, Here{0.5, 0.5}, 12);
    const std::string reason = "No fix yet: the bearings are nearly parallel from 12 vehicles";
    for (const std::string& text : {widest, reason}) {
        const int width =
            QFontMetrics(ident->font()).horizontalAdvance(QString::fromStdString(text));
        EXPECT_LE(width, ident->width() - 4) << text;
    }
}

TEST(MainWindow, ClicksAtTheDesignedPlacesStepTheirRegisters) {
    TestHome home;
    WindowRig rig(home);  // the default position: N 34 25.11, W 119 44.50
    Form_Kestrelmap& form = rig.form();
    struct Case {
        QPoint windowPoint;  // where the operator clicks, from the design
        DigitRegister Form_Kestrelmap::*reg;
        const char* expected;
    };
    const Case cases[] = {
        {{8 + 96 + 12, 8 + 16 + 8}, &Form_Kestrelmap::Picture_LAT_DEGX1, "5"},
        {{8 + 96 + 12, 8 + 64 + 8}, &Form_Kestrelmap::Picture_LAT_DEGX1, "4"},
        {{8 + 96 + 12, 8 + 64 + 8}, &Form_Kestrelmap::Picture_LAT_DEGX1, "3"},
        {{8 + 272 + 12, 8 + 16 + 8}, &Form_Kestrelmap::Picture_LONG_DEGX100, "0"},
        {{8 + 440 + 12, 8 + 64 + 8}, &Form_Kestrelmap::Picture_LONG_MINX001, "9"},
        {{488 + 104 + 12, 8 + 16 + 8}, &Form_Kestrelmap::Picture_BRGX1, "1"},
        {{488 + 56 + 12, 8 + 64 + 8}, &Form_Kestrelmap::Picture_BRGX100, "3"},
    };
    // What a screen reader says for the frames follows their registers.
    const auto spokenAs = [&](const char* frame) {
        return rig.control(frame)->accessibleDescription().toStdString();
    };
    for (const Case& c : cases) {
        rig.clickAt(c.windowPoint);
        EXPECT_EQ(spokenAs("Frame_POSITION"), spokenPosition(form)) << c.windowPoint.x();
        EXPECT_EQ(spokenAs("Frame_DF"), spokenBearing(form)) << c.windowPoint.x();
        const DigitRegister& reg = form.*c.reg;
        EXPECT_EQ(reg.Tag, c.expected) << c.windowPoint.x() << "," << c.windowPoint.y();
        const GlyphImage& glyph = glyphImage(digitGlyph(c.expected[0] - '0'));
        const QPoint registerCorner(c.windowPoint.x() - 12 + 1, 8 + 32);
        EXPECT_EQ(glyphMismatches(shotOf(rig.window()), registerCorner, glyph), 0)
            << c.windowPoint.x();
    }
    // The hemisphere buttons stand over the position frame, where the design puts them.
    auto* latitude = static_cast<PanelButton*>(rig.control("CmdButton_LAT_HEMI"));
    rig.clickAt({56 + 12, 32 + 24});
    EXPECT_EQ(form.CmdButton_LAT_HEMI.Tag, "S");
    EXPECT_EQ(latitude->text(), "S");
    EXPECT_EQ(spokenAs("Frame_POSITION"),
              "33 degrees 25.11 minutes south, 19 degrees 44.59 minutes west");
    rig.clickAt({256 + 12, 32 + 40});
    EXPECT_EQ(form.CmdButton_LONG_HEMI.Tag, "E");
}

TEST(MainWindow, OnlyTheSpaceBarDoesAnythingAndNoKeyReachesAControl) {
    TestHome home;
    WindowRig rig(home);
    Form_Kestrelmap& form = rig.form();
    QWidget* up = rig.control("CmdButton_LAT_DEGX1_UP");
    up->setFocus();
    ASSERT_TRUE(up->hasFocus());

    // Letters, digits, Enter, Tab and the arrows on a focused step button change nothing.
    const std::string before = panelState(form);
    QTest::keyClicks(up, "aZ7+-");
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Tab, Qt::Key_Down, Qt::Key_Escape}) {
        QTest::keyClick(up, key);
    }
    EXPECT_TRUE(up->hasFocus());
    EXPECT_EQ(panelState(form), before);
    EXPECT_EQ(form.NUMBER_OF_PLOTS, 0);

    // The space bar plots from a step button and from the window itself, once per key-down,
    // automatic repeats included (each after the plot button's busy time has run out); the
    // digit under the focused button stays.
    const auto busyTimeOver = [&]() {
        rig.window().runHandler([&]() { form.Timer_BLINK_Timer(); });
    };
    QTest::keyClick(up, Qt::Key_Space);
    EXPECT_EQ(form.NUMBER_OF_PLOTS, 1);
    busyTimeOver();
    QTest::keyPress(&rig.window(), Qt::Key_Space);
    busyTimeOver();
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ", true);
    QApplication::sendEvent(up, &repeat);
    QTest::keyRelease(&rig.window(), Qt::Key_Space);
    EXPECT_EQ(form.NUMBER_OF_PLOTS, 3);
    EXPECT_EQ(panelState(form), before);
    EXPECT_NE(home.readFile("Current_Hunt.kml").find("<Placemark>"), std::string::npos);
}

TEST(MainWindow, OptionsWindowKeysAreDiscardedToo) {
    TestHome home;
    WindowRig rig(home);
    rig.click("CmdButton_SHOW_OPTIONS");
    qt::OptionsWindow& options = rig.window().optionsWindow();
    ASSERT_TRUE(options.isVisible());
    QWidget* port = rig.optionsControl("CmdButton_COMM_PORT");
    port->setFocus();
    const std::string caption = rig.form().OptionsForm.CmdButton_COMM_PORT.Caption;
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter, Qt::Key_A}) {
        QTest::keyClick(port, key);
    }
    EXPECT_EQ(rig.form().OptionsForm.CmdButton_COMM_PORT.Caption, caption);
    EXPECT_EQ(rig.form().NUMBER_OF_PLOTS, 0);  // the space bar plots only from the main window
    EXPECT_TRUE(options.isVisible());
}

// The icon resource is compiled into a static library: a resource that is not linked in or
// not initialised leaves the windows without one, silently.
void expectProgramIcon(const QWidget& window) {
    SCOPED_TRACE(window.objectName().toStdString());
    const QIcon icon = window.windowIcon();
    EXPECT_EQ(icon.availableSizes(),
              (QList<QSize>{{16, 16}, {32, 32}, {48, 48}, {64, 64}, {128, 128}}));
    const QImage image = icon.pixmap(QSize(64, 64)).toImage();
    ASSERT_EQ(image.size(), QSize(64, 64));
    // The olive tile of packaging/kestrelmap.svg (#828200, give or take the rendering), not an
    // empty picture.
    const QColor tile = image.pixelColor(6, 32);
    EXPECT_NEAR(tile.red(), 0x82, 3);
    EXPECT_NEAR(tile.green(), 0x82, 3);
    EXPECT_NEAR(tile.blue(), 0, 3);
    EXPECT_EQ(tile.alpha(), 255);
}

TEST(MainWindow, BothWindowsCarryTheProgramIcon) {
    TestHome home;
    WindowRig rig(home);
    expectProgramIcon(rig.window());
    expectProgramIcon(rig.window().optionsWindow());
}

TEST(MainWindow, CoreTimersRunAsRealTimers) {
    TestHome home;
    WindowRig rig(home);
    const QTimer& timeout = rig.window().timer(0);
    const QTimer& blink = rig.window().timer(1);
    const QTimer& plot = rig.window().timer(2);
    EXPECT_TRUE(timeout.isActive());
    EXPECT_EQ(timeout.interval(), 1000);
    EXPECT_FALSE(blink.isActive());
    EXPECT_FALSE(plot.isActive());

    rig.click("CmdButton_ADD_PLOT");
    EXPECT_EQ(rig.form().NUMBER_OF_PLOTS, 1);
    ASSERT_TRUE(blink.isActive());
    EXPECT_EQ(blink.interval(), 3000);

    // A restart of the core's timer restarts the real one; disabling it stops it.
    QTest::qWait(60);
    const int left = blink.remainingTime();
    rig.window().runHandler([&]() { rig.form().Timer_BLINK.setEnabled(true); });
    EXPECT_GT(blink.remainingTime(), left);
    rig.window().runHandler([&]() { rig.form().Timer_BLINK.setEnabled(false); });
    EXPECT_FALSE(blink.isActive());
}

TEST(MainWindow, SerialDataReachesTheRegisters) {
    TestHome home;
    ASSERT_TRUE(home.pty.ok());
    WindowRig rig(home);
    rig.click("CmdButton_POSIT_SOURCE");
    ASSERT_EQ(rig.form().CmdButton_POSIT_SOURCE.Tag, "GPS");
    ASSERT_TRUE(
        home.pty.write("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n"));
    ASSERT_TRUE(QTest::qWaitFor([&]() { return rig.form().Picture_LAT_DEGX10.Tag == "4"; }, 3000));
    EXPECT_EQ(rig.form().Picture_LONG_MINX1.Tag, "1");
    const QImage shot = shotOf(rig.window());
    EXPECT_EQ(
        glyphMismatches(shot, imageCorner(rig, "Picture_LAT_DEGX1"), glyphImage(Glyph::Eight)), 0);
    EXPECT_FALSE(rig.control("CmdButton_LAT_DEGX1_UP")->isEnabled());
}

}  // namespace
}  // namespace kestrel::test
