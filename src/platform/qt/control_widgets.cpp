#include "platform/qt/control_widgets.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHash>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <cmath>
#include <utility>

#include "options/night_panel.h"

namespace kestrel::qt {

namespace {

constexpr double kDesignDpi = 96.0;
constexpr double kPointsPerInch = 72.0;

// A classic two-pixel bevel: `outerTopLeft` / `outerBottomRight` on the outer ring, the inner
// pair one pixel further in.
void drawBevel(QPainter& p, const QRect& r, const QColor& outerTopLeft, const QColor& innerTopLeft,
               const QColor& innerBottomRight, const QColor& outerBottomRight) {
    const auto ring = [&p](const QRect& box, const QColor& topLeft, const QColor& bottomRight) {
        p.setPen(topLeft);
        p.drawLine(box.topLeft(), box.topRight());
        p.drawLine(box.topLeft(), box.bottomLeft());
        p.setPen(bottomRight);
        p.drawLine(box.bottomLeft(), box.bottomRight());
        p.drawLine(box.topRight(), box.bottomRight());
    };
    ring(r, outerTopLeft, outerBottomRight);
    ring(r.adjusted(1, 1, -1, -1), innerTopLeft, innerBottomRight);
}

QColor shadeOf(const QColor& colour, int factor) {
    return factor > 100 ? colour.lighter(factor) : colour.darker(10000 / factor);
}

// The glyph image drawn at `ratio` device pixels per logical pixel, nearest neighbour: black on
// white, or the night ink on the night paper.
QImage scaledGlyph(const GlyphImage& glyph, double ratio, bool night) {
    const int width = int(std::ceil(glyph.width * ratio));
    const int height = int(std::ceil(glyph.height * ratio));
    const QRgb ink = night ? toQColor(kNightInk).rgb() : qRgb(0, 0, 0);
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(night ? toQColor(kNightPaper) : QColor(Qt::white));
    for (int y = 0; y < height; ++y) {
        const int gy = std::min(int(y / ratio), glyph.height - 1);
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int gx = std::min(int(x / ratio), glyph.width - 1);
            if (glyph.black(gx, gy)) {
                line[x] = ink;
            }
        }
    }
    image.setDevicePixelRatio(ratio);
    return image;
}

const QImage& cachedGlyph(const GlyphImage& glyph, double ratio, bool night) {
    static QHash<QPair<const GlyphImage*, double>, QImage> cache[2];
    const QPair<const GlyphImage*, double> key(&glyph, ratio);
    auto& images = cache[night ? 1 : 0];
    auto it = images.find(key);
    if (it == images.end()) {
        it = images.insert(key, scaledGlyph(glyph, ratio, night));
    }
    return *it;
}

// A glyph register as static text: its name from the widget, its value what it shows, also as
// the text a screen reader reads through the text interface.
class GlyphAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
  public:
    explicit GlyphAccessible(GlyphView* view) : QAccessibleWidget(view, QAccessible::StaticText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) {
            return static_cast<QAccessibleTextInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) {
            return value();
        }
        return QAccessibleWidget::text(t);
    }

    // The text interface: the value, read only, nothing selected.
    void selection(int, int* startOffset, int* endOffset) const override {
        *startOffset = 0;
        *endOffset = 0;
    }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int startOffset, int endOffset) const override {
        return value().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return int(value().size()); }
    QRect characterRect(int) const override { return rect(); }
    int offsetAtPoint(const QPoint&) const override { return 0; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* startOffset, int* endOffset) const override {
        *startOffset = offset;
        *endOffset = offset;
        return {};
    }

  private:
    QString value() const { return static_cast<GlyphView*>(widget())->spokenValue(); }
};

QAccessibleInterface* glyphAccessibleFactory(const QString& /*key*/, QObject* object) {
    if (auto* view = qobject_cast<GlyphView*>(object)) {
        return new GlyphAccessible(view);
    }
    return nullptr;
}

}  // namespace

QColor toQColor(const Colour& colour) {
    const QPalette palette = QApplication::palette();
    switch (colour.system) {
        case Colour::System::ButtonFace:
            return palette.color(QPalette::Button);
        case Colour::System::ButtonShadow:
            return palette.color(QPalette::Dark);
        case Colour::System::WindowBackground:
            return palette.color(QPalette::Window);
        case Colour::System::None:
            break;
    }
    return QColor(colour.rgb & 0xff, (colour.rgb >> 8) & 0xff, (colour.rgb >> 16) & 0xff);
}

QFont fontFor(FontRole role) {
    const FontSpec style = fontSpec(role);
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(int(std::lround(style.pointSize * kDesignDpi / kPointsPerInch)));
    font.setBold(style.bold);
    return font;
}

// ---- PanelButton ----

PanelButton::PanelButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PanelButton::setCaption(const QString& caption) {
    if (caption != text()) {
        setText(caption);
    }
}

void PanelButton::setBackColour(const QColor& colour) {
    if (colour != m_back) {
        m_back = colour;
        update();
    }
}

void PanelButton::setNight(bool night) {
    if (night != m_night) {
        m_night = night;
        update();
    }
}

void PanelButton::paintEvent(QPaintEvent* /*event*/) {
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, m_back);
    const bool down = isDown();
    if (m_night) {
        const QColor ink = toQColor(kNightInk);
        const QColor dim = ink.darker(200);
        drawBevel(p, r, down ? dim : ink, dim, dim, down ? ink : dim);
    } else if (down) {
        drawBevel(p, r, Qt::black, shadeOf(m_back, 60), m_back, Qt::white);
    } else {
        drawBevel(p, r, Qt::white, shadeOf(m_back, 130), shadeOf(m_back, 60), Qt::black);
    }
    QRect textBox = r.adjusted(3, 2, -3, -2);  // inside the bevel, a pixel clear of it
    if (down) {
        textBox.translate(1, 1);
    }
    int flags = Qt::AlignCenter;
    p.setFont(captionFont(textBox.size(), flags));
    if (m_night) {
        const QColor ink = toQColor(kNightInk);
        p.setPen(isEnabled() ? ink : ink.darker(200));
        p.drawText(textBox, flags, text());
    } else if (isEnabled()) {
        p.setPen(Qt::black);
        p.drawText(textBox, flags, text());
    } else {
        p.setPen(Qt::white);
        p.drawText(textBox.translated(1, 1), flags, text());
        p.setPen(shadeOf(m_back, 55));
        p.drawText(textBox, flags, text());
    }
    if (hasFocus() && r.width() > 8 && r.height() > 8) {
        QPen dotted(m_night ? toQColor(kNightInk) : QColor(Qt::black), 1, Qt::DotLine);
        p.setPen(dotted);
        p.drawRect(r.adjusted(3, 3, -4, -4));
    }
}

QFont PanelButton::captionFont(const QSize& box, int& flags) const {
    QFont f = font();
    const int base = f.pixelSize() > 0 ? f.pixelSize() : QFontInfo(f).pixelSize();
    const QString caption = text();
    // One line, the font at most a tenth smaller: a caption that just misses stays one line.
    for (int px = base; px * 10 >= base * 9; --px) {
        f.setPixelSize(px);
        if (QFontMetrics(f).horizontalAdvance(caption) <= box.width()) {
            return f;
        }
    }
    // Otherwise wrapped at blanks, the font made smaller only if the lines still do not fit.
    flags |= Qt::TextWordWrap;
    constexpr int kSmallestPixels = 7;
    for (int px = base; px >= kSmallestPixels; --px) {
        f.setPixelSize(px);
        const QRect need = QFontMetrics(f).boundingRect(QRect(QPoint(), box), flags, caption);
        if (need.width() <= box.width() && need.height() <= box.height()) {
            break;
        }
    }
    return f;
}

// ---- CaptionedBox, FrameBox ----

CaptionedBox::CaptionedBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CaptionedBox::setCaption(const QString& caption) {
    if (caption != m_caption) {
        m_caption = caption;
        update();
    }
}

void CaptionedBox::setColours(const QColor& back, const QColor& text) {
    if (back != m_back || text != m_text) {
        m_back = back;
        m_text = text;
        update();
    }
}

void FrameBox::setNight(bool night) {
    if (night != m_night) {
        m_night = night;
        update();
    }
}

void FrameBox::paintEvent(QPaintEvent* /*event*/) {
    QPainter p(this);
    p.fillRect(rect(), m_back);
    p.setFont(font());
    const QFontMetrics metrics(font());
    const int lineY = metrics.height() / 2;
    // An etched line: a dark line with a light one one pixel to the lower right.
    const QRect box(0, lineY, width() - 2, height() - lineY - 2);
    const QColor nightLine = toQColor(kNightInk).darker(200);
    p.setPen(m_night ? nightLine : shadeOf(m_back, 55));
    p.drawRect(box);
    p.setPen(m_night ? nightLine : shadeOf(m_back, 150));
    p.drawRect(box.translated(1, 1));
    if (!m_caption.isEmpty()) {
        const int textWidth = metrics.horizontalAdvance(m_caption);
        const QRect captionBox(7, 0, textWidth + 4, metrics.height());
        p.fillRect(captionBox, m_back);
        p.setPen(m_text);
        p.drawText(captionBox, Qt::AlignCenter, m_caption);
    }
}

// ---- TextLabel ----

void TextLabel::paintEvent(QPaintEvent* /*event*/) {
    QPainter p(this);
    p.fillRect(rect(), m_back);
    p.setFont(font());
    p.setPen(m_text);
    p.drawText(rect().adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter, m_caption);
}

// ---- GlyphView ----

GlyphView::GlyphView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void GlyphView::setImage(const GlyphImage* image) {
    if (image != m_image) {
        m_image = image;
        update();
    }
}

void GlyphView::setNight(bool night) {
    if (night != m_night) {
        m_night = night;
        update();
    }
}

void GlyphView::setSpokenValue(const QString& value) {
    if (value == m_spoken) {
        return;
    }
    const QString old = std::exchange(m_spoken, value);
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent changed(this, value);
        QAccessible::updateAccessibility(&changed);
        QAccessibleTextUpdateEvent text(this, 0, old, value);
        QAccessible::updateAccessibility(&text);
    }
}

void GlyphView::paintEvent(QPaintEvent* /*event*/) {
    QPainter p(this);
    p.fillRect(rect(), m_night ? toQColor(kNightPaper) : QColor(Qt::white));
    if (m_image != nullptr) {
        // Centred across the box, at its top: the neighbours' shared border pixels stay white.
        const QPoint corner((width() - m_image->width) / 2, 0);
        p.drawImage(corner, cachedGlyph(*m_image, devicePixelRatioF(), m_night));
    }
}

void installGlyphAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(glyphAccessibleFactory);
        return true;
    }();
    (void)installed;
}

// ---- ColourBox ----

ColourBox::ColourBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ColourBox::setBackColour(const QColor& colour) {
    if (colour != m_back) {
        m_back = colour;
        update();
    }
}

void ColourBox::paintEvent(QPaintEvent* /*event*/) {
    QPainter p(this);
    p.fillRect(rect(), m_back);
    const QColor face = QApplication::palette().color(QPalette::Button);
    drawBevel(p, rect(), shadeOf(face, 55), Qt::black, face, Qt::white);
}

void ColourBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        m_pressed = true;
    }
}

void ColourBox::mouseReleaseEvent(QMouseEvent* event) {
    const bool wasPressed = std::exchange(m_pressed, false);
    if (wasPressed && event->button() == Qt::LeftButton &&
        rect().contains(event->position().toPoint())) {
        emit clicked();
    }
}

}  // namespace kestrel::qt
