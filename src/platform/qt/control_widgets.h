#pragma once
// The widgets that stand for the core's controls: a button painted in its background colour
// (enabled or not), a frame, a label, a glyph view and a colour preview box. Each is a dumb
// view: setters compare and repaint only on a change, and a click only emits a signal.

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

#include "app/controls.h"
#include "app/layout.h"
#include "display/glyphs.h"

namespace kestrel::qt {

// A core colour on this platform: RGB values as they are, system colours from the palette.
QColor toQColor(const Colour& colour);

// The font of a layout font role, sized in pixels at 96 dpi so the designed layout holds
// whatever the screen's font resolution.
QFont fontFor(FontRole role);

// A command button of the graphical style: a raised bevel filled with the background colour,
// the caption centred and wrapped at blanks, greyed and embossed when disabled.
class PanelButton : public QAbstractButton {
    Q_OBJECT
  public:
    explicit PanelButton(QWidget* parent = nullptr);
    void setCaption(const QString& caption);
    void setBackColour(const QColor& colour);
    QColor backColour() const { return m_back; }
    // At night the caption, bevel and focus mark are drawn in the night ink, never in white.
    void setNight(bool night);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    // The font that fits the caption into `box`; adds word wrap to `flags` when it needs it.
    QFont captionFont(const QSize& box, int& flags) const;

    QColor m_back = Qt::lightGray;
    bool m_night = false;
};

// A caption on a background colour with a text colour: what frames and labels share. Each
// setter repaints only on a change.
class CaptionedBox : public QWidget {
    Q_OBJECT
  public:
    explicit CaptionedBox(QWidget* parent = nullptr);
    void setCaption(const QString& caption);
    void setColours(const QColor& back, const QColor& text);
    QString caption() const { return m_caption; }
    QColor backColour() const { return m_back; }
    QColor textColour() const { return m_text; }

  protected:
    QString m_caption;
    QColor m_back = Qt::lightGray;
    QColor m_text = Qt::black;
};

// A frame: an etched border with the caption set into its top edge, on its background colour.
// At night the border is drawn in the dimmed night ink.
class FrameBox : public CaptionedBox {
    Q_OBJECT
  public:
    using CaptionedBox::CaptionedBox;
    void setNight(bool night);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool m_night = false;
};

// One line of text on a background, left aligned.
class TextLabel : public CaptionedBox {
    Q_OBJECT
  public:
    using CaptionedBox::CaptionedBox;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// Shows one glyph image on white, pixel for pixel, centred across the top of the box (at night
// dark red on black). At a device-pixel ratio above 1 every image pixel becomes a block of whole
// device pixels (nearest neighbour), so the figures stay sharp. To assistive technology it is
// static text whose value is what it shows ("3", "dash").
class GlyphView : public QWidget {
    Q_OBJECT
  public:
    explicit GlyphView(QWidget* parent = nullptr);
    void setImage(const GlyphImage* image);
    const GlyphImage* image() const { return m_image; }
    void setNight(bool night);
    // The spoken value; a change is announced to assistive technology.
    void setSpokenValue(const QString& value);
    QString spokenValue() const { return m_spoken; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    const GlyphImage* m_image = nullptr;
    bool m_night = false;
    QString m_spoken;
};

// Makes assistive technology see each GlyphView as static text with its spoken value. Safe to
// call more than once.
void installGlyphAccessibility();

// A colour preview box: a sunken border around its colour. It reports clicks; whether a click
// does anything is up to the handler wired to it.
class ColourBox : public QWidget {
    Q_OBJECT
  public:
    explicit ColourBox(QWidget* parent = nullptr);
    void setBackColour(const QColor& colour);
    QColor backColour() const { return m_back; }

  signals:
    void clicked();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QColor m_back = Qt::lightGray;
    bool m_pressed = false;
};

}  // namespace kestrel::qt
