// Both windows against the geometry table: every control where the table puts it, the digit
// columns aligned, nothing visible below the identification line, no control on top of
// another beyond the one-pixel shared border of neighbours; and glyphs drawn crisp at any
// device-pixel ratio.

#include <QImage>
#include <QPainter>

#include "app/layout.h"
#include "display/glyphs.h"
#include "platform/qt/control_widgets.h"
#include "qt/window_rig.h"

namespace kestrel::test {
namespace {

template <class Form>
void expectWindowMatchesTable(QWidget& window, const std::vector<ControlLayout<Form>>& table,
                              const std::function<QWidget*(const std::string&)>& control) {
    for (const ControlLayout<Form>& row : table) {
        QWidget* widget = control(row.name);
        ASSERT_NE(widget, nullptr) << row.name;
        EXPECT_TRUE(widget->isVisible()) << row.name;
        const Rect& r = row.rect;
        EXPECT_EQ(widget->geometry(), QRect(r.left, r.top, r.width, r.height)) << row.name;
        const QWidget* parent = widget->parentWidget();
        EXPECT_EQ(parent->objectName().toStdString(),
                  row.parent.empty() ? window.objectName().toStdString() : row.parent)
            << row.name;
        const Rect w = windowRect(table, row);
        EXPECT_EQ(widget->mapTo(&window, QPoint(0, 0)), QPoint(w.left, w.top)) << row.name;
        const FontSpec font = fontSpec(row.font);
        EXPECT_EQ(widget->font().pixelSize(), qRound(font.pointSize * 96 / 72)) << row.name;
        EXPECT_EQ(widget->font().bold(), font.bold) << row.name;
    }
}

// Controls that are not frames may touch their neighbours by the one shared border pixel.
template <class Form>
void expectNoOverlaps(const std::vector<ControlLayout<Form>>& table) {
    for (size_t i = 0; i < table.size(); ++i) {
        for (size_t j = i + 1; j < table.size(); ++j) {
            const auto& a = table[i];
            const auto& b = table[j];
            if (a.kind == ControlKind::Frame || b.kind == ControlKind::Frame) {
                continue;
            }
            const Rect ra = windowRect(table, a);
            const Rect rb = windowRect(table, b);
            const int across = std::min(ra.right(), rb.right()) - std::max(ra.left, rb.left);
            const int down = std::min(ra.bottom(), rb.bottom()) - std::max(ra.top, rb.top);
            EXPECT_FALSE(across > 1 && down > 1) << a.name << " on " << b.name;
        }
    }
}

TEST(Layout, MainWindowMatchesTheTable) {
    TestHome home;
    WindowRig rig(home);
    qt::MainWindow& window = rig.window();
    const auto& table = mainWindowLayout();
    EXPECT_EQ(window.size(), QSize(kMainClientWidth, kMainClientHeight));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    expectWindowMatchesTable<Form_Kestrelmap>(window, table,
                                              [&](const std::string& n) { return rig.control(n); });
    expectNoOverlaps(table);
    // Frames, 4 ; identification line ; 2 source and 2 hemisphere buttons ; 16 columns of 3 ;
    // 2 points ; range, timer, add plot, show options, exit.
    EXPECT_EQ(table.size(), 4u + 1 + 4 + 16 * 3 + 2 + 5);

    for (const MainControlLayout& row : table) {
        const Rect r = windowRect(table, row);
        EXPECT_GE(r.left, 0) << row.name;
        EXPECT_LE(r.right(), kMainClientWidth) << row.name;
        EXPECT_LE(r.bottom(), kMainVisibleBottom) << row.name;
        // Children stay inside their frame.
        if (!row.parent.empty()) {
            QWidget* frame = rig.control(row.parent);
            EXPECT_TRUE(frame->rect().contains(rig.control(row.name)->geometry())) << row.name;
        }
    }
    // What the operator sees: every visible widget of the window is one of the table's.
    for (QWidget* child : window.findChildren<QWidget*>()) {
        if (child->isVisible()) {
            EXPECT_LE(child->mapTo(&window, QPoint(0, child->height())).y(), kMainVisibleBottom)
                << child->objectName().toStdString();
        }
    }
}

TEST(Layout, DigitColumnsShareLeftEdgeAndWidth) {
    TestHome home;
    WindowRig rig(home);
    ASSERT_EQ(digitColumns().size(), 16u);
    for (const std::string& column : digitColumns()) {
        const QRect up = rig.control("CmdButton_" + column + "_UP")->geometry();
        const QRect reg = rig.control("Picture_" + column)->geometry();
        const QRect down = rig.control("CmdButton_" + column + "_DN")->geometry();
        EXPECT_EQ(up.left(), reg.left()) << column;
        EXPECT_EQ(down.left(), reg.left()) << column;
        EXPECT_EQ(up.width(), 25) << column;
        EXPECT_EQ(reg.width(), 25) << column;
        EXPECT_EQ(down.width(), 25) << column;
        EXPECT_EQ(up.top(), 16) << column;
        EXPECT_EQ(reg.top(), 32) << column;
        EXPECT_EQ(down.top(), 64) << column;
        EXPECT_EQ(rig.control("Picture_" + column)->parentWidget(),
                  rig.control("CmdButton_" + column + "_UP")->parentWidget());
    }
    // The hemisphere buttons lie over the position frame and are on top of it.
    QWidget* frame = rig.control("Frame_POSITION");
    for (const char* hemi : {"CmdButton_LAT_HEMI", "CmdButton_LONG_HEMI"}) {
        QWidget* button = rig.control(hemi);
        EXPECT_TRUE(frame->geometry().contains(button->geometry())) << hemi;
        EXPECT_EQ(rig.window().childAt(button->geometry().center()), button) << hemi;
    }
}

TEST(Layout, OptionsWindowMatchesTheTable) {
    TestHome home;
    WindowRig rig(home);
    rig.click("CmdButton_SHOW_OPTIONS");
    qt::OptionsWindow& options = rig.window().optionsWindow();
    ASSERT_TRUE(options.isVisible());
    EXPECT_EQ(options.size(), QSize(403, 182));
    EXPECT_EQ(options.windowTitle(), "Kestrelmap_Options");
    const auto& table = optionsWindowLayout();
    expectWindowMatchesTable<Form_Kestrelmap_Options>(
        options, table, [&](const std::string& n) { return rig.optionsControl(n); });
    expectNoOverlaps(table);
    for (const OptionsControlLayout& row : table) {
        const Rect r = windowRect(table, row);
        EXPECT_LE(r.right(), kOptionsClientWidth) << row.name;
        EXPECT_LE(r.bottom(), kOptionsClientHeight) << row.name;
    }
    // Rows of the colour frame: button and preview box side by side at one height.
    for (const char* row : {"DISPLAY_BACKGROUND_COLOR", "BUTTON_BACKGROUND_COLOR",
                            "LEGEND_TEXT_COLOR", "VECTOR_COLOR"}) {
        QWidget* box = rig.optionsControl(std::string("Picture_") + row);
        QWidget* button = nullptr;
        for (const char* prefix : {"cmdbutton_", "CmdButton_"}) {
            if (button == nullptr) {
                button = rig.optionsControl(prefix + std::string(row));
            }
        }
        ASSERT_NE(button, nullptr) << row;
        EXPECT_EQ(box->y(), button->y()) << row;
        EXPECT_EQ(box->height(), button->height()) << row;
        EXPECT_LT(button->x(), box->x()) << row;
    }
}

// A glyph painted at ratio 2 is every image pixel as a 2 x 2 block; at 1.5 still only pure
// black and white: no smoothing at any ratio.
TEST(Layout, GlyphsStayCrispAtEveryPixelRatio) {
    testApp();
    qt::GlyphView view;
    view.resize(25, 33);
    const GlyphImage& eight = glyphImage(Glyph::Eight);
    view.setImage(&eight);
    for (double ratio : {1.0, 1.5, 2.0, 3.0}) {
        QImage image(int(25 * ratio), int(33 * ratio), QImage::Format_RGB32);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::red);
        view.render(&image);
        int grey = 0;
        int wrong = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb px = image.pixel(x, y) & 0xffffff;
                if (px != 0 && px != 0xffffff) {
                    ++grey;
                }
                const int gx = int(x / ratio) - 1;  // centred: one white column on the left
                const int gy = int(y / ratio);
                if (ratio == int(ratio) && gx >= 0 && gx < eight.width && gy < eight.height &&
                    (px == 0) != eight.black(gx, gy)) {
                    ++wrong;
                }
            }
        }
        EXPECT_EQ(grey, 0) << ratio;
        EXPECT_EQ(wrong, 0) << ratio;
    }
}

}  // namespace
}  // namespace kestrel::test
