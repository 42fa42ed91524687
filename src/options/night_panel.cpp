#include "options/night_panel.h"

#include "app/form_kestrelmap.h"
#include "options/colour_sets.h"

namespace kestrel {

namespace {

constexpr const char* kNightCaption = "NIGHT PANEL";
constexpr const char* kDayCaption = "DAY PANEL";

}  // namespace

void Form_Kestrelmap_Options::setNightPanel(bool night) {
    if (night == m_night) {
        return;
    }
    m_night = night;
    CmdButton_NIGHT_PANEL.Caption = night ? kDayCaption : kNightCaption;
    // The sets end with their preview boxes, which hold the day colours throughout.
    const PictureBox display = Picture_DISPLAY_BACKGROUND_COLOR;
    const PictureBox button = Picture_BUTTON_BACKGROUND_COLOR;
    const PictureBox legend = Picture_LEGEND_TEXT_COLOR;
    if (night) {
        m_dayIdentBack = m_main.Label_IDENT.BackColor;
        applyColourSet(m_main, kDisplaySet, kNightPaper);
        applyColourSet(m_main, kButtonSet, kNightPaper);
        applyColourSet(m_main, kLegendSet, kNightInk);
        m_main.Label_IDENT.BackColor = kNightPaper;
        m_main.BUTTON_BC = kNightPaper.rgb;
    } else {
        applyColourSet(m_main, kDisplaySet, display.BackColor);
        applyColourSet(m_main, kButtonSet, button.BackColor);
        applyColourSet(m_main, kLegendSet, legend.BackColor);
        m_main.Label_IDENT.BackColor = m_dayIdentBack;
        m_main.BUTTON_BC = button.BackColor.rgb;
    }
    Picture_DISPLAY_BACKGROUND_COLOR = display;
    Picture_BUTTON_BACKGROUND_COLOR = button;
    Picture_LEGEND_TEXT_COLOR = legend;
    if (nightPanelChanged) {
        nightPanelChanged(night);
    }
}

void Form_Kestrelmap_Options::CmdButton_NIGHT_PANEL_Click() {
    setNightPanel(!m_night);
}

}  // namespace kestrel
