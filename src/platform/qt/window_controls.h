#pragma once
// Builds the widgets of one window from its layout table and mirrors the core's controls onto
// them, with the names and values a screen reader reads and the night panel's inks. It holds no
// state of its own beyond the widgets (and whether the frames' spoken descriptions are due): a
// sync reads every control of the core and sets whatever differs; a click runs the control's
// handler through the window's runner.

#include <QString>
#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "accessibility/spoken_panel.h"
#include "app/form_kestrelmap.h"
#include "app/layout.h"
#include "display/glyphs.h"
#include "options/night_panel.h"
#include "platform/qt/control_widgets.h"

namespace kestrel::qt {

// Runs a core handler, then brings the widgets up to date (or ends the program).
using HandlerRunner = std::function<void(const std::function<void()>&)>;

template <class Form>
class WindowControls {
  public:
    using Layout = ControlLayout<Form>;

    static constexpr PanelWindow kWindow =
        std::is_same_v<Form, Form_Kestrelmap> ? PanelWindow::Main : PanelWindow::Options;

    WindowControls(QWidget& window, Form& form, const std::vector<Layout>& table, HandlerRunner run)
        : m_form(form) {
        installGlyphAccessibility();
        for (const Layout& row : table) {
            QWidget* parent = row.parent.empty() ? &window : m_byName.at(row.parent);
            QWidget* widget = create(row, parent, window, run);
            widget->setObjectName(QString::fromStdString(row.name));
            widget->setGeometry(row.rect.left, row.rect.top, row.rect.width, row.rect.height);
            if (row.font != FontRole::Default) {
                widget->setFont(fontFor(row.font));
            }
            widget->setAccessibleName(
                QString::fromStdString(spokenName(kWindow, row.name, captionOf(row.control))));
            if (row.kind == ControlKind::DecimalPoint) {
                static_cast<GlyphView*>(widget)->setSpokenValue(QStringLiteral("point"));
            }
            widget->show();
            m_byName[row.name] = widget;
            m_bound.push_back({&row, widget});
            if (std::holds_alternative<Frame Form::*>(row.control)) {
                m_described.push_back({&row, widget});
            }
        }
    }

    // The widget of a control, by its design name; null when there is none.
    QWidget* widget(const std::string& name) const {
        const auto it = m_byName.find(name);
        return it == m_byName.end() ? nullptr : it->second;
    }

    // `night`: the night panel is on, so buttons and glyphs take the night inks.
    void sync(bool night) {
        const bool nightChanged = night != m_night;
        m_night = night;
        for (const Bound& bound : m_bound) {
            std::visit([&](auto member) { syncOne(member, *bound.row, bound.widget); },
                       bound.row->control);
            if (nightChanged) {
                if (auto* button = qobject_cast<PanelButton*>(bound.widget)) {
                    button->setNight(night);
                } else if (auto* glyph = qobject_cast<GlyphView*>(bound.widget)) {
                    glyph->setNight(night);
                } else if (auto* frame = qobject_cast<FrameBox*>(bound.widget)) {
                    frame->setNight(night);
                }
            }
        }
        if constexpr (kWindow == PanelWindow::Main) {
            if (m_describe) {
                describe();
            }
        }
    }

  private:
    struct Bound {
        const Layout* row;
        QWidget* widget;
    };

    QWidget* create(const Layout& row, QWidget* parent, QWidget& window, const HandlerRunner& run) {
        const auto click = [this, &row, run]() {
            if (row.click != nullptr) {
                Form& form = m_form;
                const auto handler = row.click;
                run([&form, handler]() { (form.*handler)(); });
            }
        };
        switch (row.kind) {
            case ControlKind::Frame:
                return new FrameBox(parent);
            case ControlKind::Label:
                return new TextLabel(parent);
            case ControlKind::Button: {
                auto* button = new PanelButton(parent);
                QObject::connect(button, &PanelButton::clicked, &window, click);
                return button;
            }
            case ControlKind::DigitRegister:
                return new GlyphView(parent);
            case ControlKind::DecimalPoint: {
                auto* point = new GlyphView(parent);
                point->setImage(&decimalPointImage());
                return point;
            }
            case ControlKind::ColourBox: {
                auto* box = new ColourBox(parent);
                QObject::connect(box, &ColourBox::clicked, &window, click);
                return box;
            }
        }
        return new QWidget(parent);
    }

    std::string captionOf(const typename Layout::Control& control) const {
        if (const auto* frame = std::get_if<Frame Form::*>(&control)) {
            return (m_form.*(*frame)).Caption;
        }
        if (const auto* button = std::get_if<Button Form::*>(&control)) {
            return (m_form.*(*button)).Caption;
        }
        return {};
    }

    // A caption that shows a setting is part of the name, which follows it; a hemisphere's
    // caption is also part of the spoken position.
    void syncName(QWidget* widget, const QString& oldCaption, const Layout& row,
                  const QString& caption) {
        if (oldCaption != caption) {
            widget->setAccessibleName(
                QString::fromStdString(spokenName(kWindow, row.name, caption.toStdString())));
            m_describe = true;
        }
    }

    // The frames that describe what they show (the POSITION and DF frames), after a caption or
    // a register has changed.
    void describe() {
        m_describe = false;
        for (const Bound& bound : m_described) {
            const QString description =
                QString::fromStdString(spokenDescription(bound.row->name, m_form));
            if (bound.widget->accessibleDescription() != description) {
                bound.widget->setAccessibleDescription(description);
            }
        }
    }

    void syncOne(std::monostate, const Layout&, QWidget*) {}

    void syncOne(Frame Form::*member, const Layout& row, QWidget* widget) {
        const Frame& frame = m_form.*member;
        const QString caption = QString::fromStdString(frame.Caption);
        syncName(widget, static_cast<CaptionedBox*>(widget)->caption(), row, caption);
        const QColor back = toQColor(frame.BackColor);
        const QColor text = toQColor(frame.ForeColor);
        if (row.kind == ControlKind::Label) {
            auto* label = static_cast<TextLabel*>(widget);
            label->setCaption(caption);
            label->setColours(back, text);
        } else {
            auto* box = static_cast<FrameBox*>(widget);
            box->setCaption(caption);
            box->setColours(back, text);
        }
    }

    void syncOne(Button Form::*member, const Layout& row, QWidget* widget) {
        const Button& button = m_form.*member;
        auto* view = static_cast<PanelButton*>(widget);
        const QString caption = QString::fromStdString(button.Caption);
        syncName(widget, view->text(), row, caption);
        view->setCaption(caption);
        view->setBackColour(toQColor(shownColour(button.BackColor, m_night)));
        if (view->isEnabled() != button.Enabled) {
            view->setEnabled(button.Enabled);
        }
    }

    void syncOne(DigitRegister Form::*member, const Layout&, QWidget* widget) {
        auto* view = static_cast<GlyphView*>(widget);
        const Glyph glyph = (m_form.*member).glyph;
        const GlyphImage* image = &glyphImage(glyph);
        if (view->image() != image) {
            view->setImage(image);
            view->setSpokenValue(QString::fromStdString(spokenGlyph(glyph)));
            m_describe = true;
        }
    }

    void syncOne(PictureBox Form::*member, const Layout&, QWidget* widget) {
        static_cast<ColourBox*>(widget)->setBackColour(toQColor((m_form.*member).BackColor));
    }

    Form& m_form;
    bool m_night = false;
    std::map<std::string, QWidget*> m_byName;
    std::vector<Bound> m_bound;
    std::vector<Bound> m_described;  // the controls that are frames
    bool m_describe = true;          // a caption or a register changed since the last describe()
};

}  // namespace kestrel::qt
