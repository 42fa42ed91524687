#include "app/form_kestrelmap.h"
#include "options/colour_sets.h"

namespace kestrel {

namespace {

// Picker flags: start from the given colour, custom colours open.
constexpr int kPickerFlags = 3;

// The picker starts from the preview box's colour and yields a colour, the start colour when
// the operator cancels; that colour is applied either way. A colour outside 0 to 0xFFFFFF
// counts as a cancel.
Colour pickFrom(Platform& platform, const PictureBox& box) {
    const int32_t start = box.BackColor.rgb;
    const int32_t picked = platform.colourPicker.pick(start, kPickerFlags);
    return Colour::fromRgb(picked >= 0 && picked <= kMaxRgb ? picked : start);
}

// The button colour goes to every button, enabled or not, and becomes the colour that buttons
// unlocked later return to.
void applyButtonColour(Form_Kestrelmap& main, Colour colour) {
    applyColourSet(main, kButtonSet, colour);
    main.BUTTON_BC = colour.rgb;
}

void applyVectorColour(Form_Kestrelmap& main, Colour colour) {
    Form_Kestrelmap_Options& options = main.OptionsForm;
    options.Picture_VECTOR_COLOR.BackColor = colour;
    main.VECTOR_COLOR = vectorColourText(options.Picture_VECTOR_COLOR.BackColor.rgb);
}

}  // namespace

// A colour is chosen on the day panel (the night one would hide it), so a pick ends the night.
void Form_Kestrelmap_Options::cmdbutton_DISPLAY_BACKGROUND_COLOR_Click() {
    setNightPanel(false);
    applyColourSet(m_main, kDisplaySet,
                   pickFrom(m_main.platform(), Picture_DISPLAY_BACKGROUND_COLOR));
}

void Form_Kestrelmap_Options::cmdbutton_BUTTON_BACKGROUND_COLOR_Click() {
    setNightPanel(false);
    const Colour colour = pickFrom(m_main.platform(), Picture_BUTTON_BACKGROUND_COLOR);
    applyButtonColour(m_main, colour);
    m_main.Label_IDENT.BackColor = colour;
}

void Form_Kestrelmap_Options::cmdbutton_LEGEND_TEXT_COLOR_Click() {
    setNightPanel(false);
    applyColourSet(m_main, kLegendSet, pickFrom(m_main.platform(), Picture_LEGEND_TEXT_COLOR));
}

void Form_Kestrelmap_Options::CmdButton_VECTOR_COLOR_Click() {
    applyVectorColour(m_main, pickFrom(m_main.platform(), Picture_VECTOR_COLOR));
}

// The four defaults, without a picker or a question; Label_IDENT keeps its background. The day
// panel comes back first.
void Form_Kestrelmap_Options::CmdButton_DEFAULT_COLORS_Click() {
    setNightPanel(false);
    applyColourSet(m_main, kDisplaySet, Colour::fromRgb(kDefaultDisplayColour));
    applyButtonColour(m_main, Colour::fromRgb(kDefaultButtonColour));
    applyColourSet(m_main, kLegendSet, Colour::fromRgb(kDefaultLegendColour));
    applyVectorColour(m_main, Colour::fromRgb(kDefaultVectorColour));
}

// Two of the preview boxes answer a click like their buttons; the display and vector boxes are
// inert (they have no handler).
void Form_Kestrelmap_Options::Picture_BUTTON_BACKGROUND_COLOR_Click() {
    cmdbutton_BUTTON_BACKGROUND_COLOR_Click();
}

void Form_Kestrelmap_Options::Picture_LEGEND_TEXT_COLOR_Click() {
    cmdbutton_LEGEND_TEXT_COLOR_Click();
}

}  // namespace kestrel
