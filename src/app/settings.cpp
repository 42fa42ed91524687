#include "app/form_kestrelmap.h"
#include "app/settings_file.h"
#include "options/colour_sets.h"

namespace kestrel {

namespace {

std::string settingsPath(const Form_Kestrelmap& main) {
    return main.folder() + std::string(kSettingsFileName);
}

// Turns the hemisphere button over with its own click toggle until it shows `letter`; a button
// holding neither letter of its pair is given the letter directly.
void setHemisphere(Form_Kestrelmap& main, Button& button, const std::string& letter,
                   void (Form_Kestrelmap::*toggle)()) {
    if (button.Tag != letter) {
        (main.*toggle)();
    }
    if (button.Tag != letter) {
        button.Caption = letter;
        button.Tag = letter;
    }
}

void applySettings(Form_Kestrelmap& main, const StoredSettings& settings) {
    const auto registers = main.positionRegisters();
    for (size_t i = 0; i < registers.size(); ++i) {
        registers[i]->Tag = settings.digits[i];
    }
    setHemisphere(main, main.CmdButton_LAT_HEMI, settings.latHemisphere,
                  &Form_Kestrelmap::CmdButton_LAT_HEMI_Click);
    setHemisphere(main, main.CmdButton_LONG_HEMI, settings.longHemisphere,
                  &Form_Kestrelmap::CmdButton_LONG_HEMI_Click);

    Form_Kestrelmap_Options& options = main.OptionsForm;
    options.Load();
    options.Picture_DISPLAY_BACKGROUND_COLOR.BackColor = Colour::fromRgb(settings.colours[0]);
    options.Picture_BUTTON_BACKGROUND_COLOR.BackColor = Colour::fromRgb(settings.colours[1]);
    main.BUTTON_BC = settings.colours[1];
    options.Picture_LEGEND_TEXT_COLOR.BackColor = Colour::fromRgb(settings.colours[2]);
    options.Picture_VECTOR_COLOR.BackColor = Colour::fromRgb(settings.colours[3]);
    main.VECTOR_COLOR = vectorColourText(options.Picture_VECTOR_COLOR.BackColor.rgb);
    main.MSComm1.setPortNumber(settings.port);
}

}  // namespace

// Loads the settings file. A file that cannot be read or does not hold twenty good lines is
// replaced by the defaults and read once more; when even that fails (the folder is missing or
// the file is read-only) the defaults are applied from memory. It never loops.
void Form_Kestrelmap::LOAD_SETTINGS() {
    const std::string path = settingsPath(*this);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (const auto text = m_platform.files.read(path)) {
            if (const auto settings = parseSettings(*text)) {
                applySettings(*this, *settings);
                return;
            }
        }
        std::string error;
        if (attempt == 1 || !m_platform.files.write(path, defaultSettingsText(), error)) {
            break;
        }
    }
    applySettings(*this, *parseSettings(defaultSettingsText()));
}

void Form_Kestrelmap::SAVE_SETTINGS() {
    std::string error;
    if (!writeSettingsFile(*this, error)) {
        m_platform.messages.show("The settings were not saved: " + settingsPath(*this) +
                                     " could not be written (" + error + ").",
                                 "Kestrelmap", MessageButtons::Ok, false);
    }
}

bool writeSettingsFile(Form_Kestrelmap& main, std::string& error) {
    StoredSettings settings;
    const auto registers = main.positionRegisters();
    for (size_t i = 0; i < registers.size(); ++i) {
        settings.digits[i] = registers[i]->Tag;
    }
    settings.latHemisphere = main.CmdButton_LAT_HEMI.Tag;
    settings.longHemisphere = main.CmdButton_LONG_HEMI.Tag;
    const Form_Kestrelmap_Options& options = main.OptionsForm;
    settings.colours = {options.Picture_DISPLAY_BACKGROUND_COLOR.BackColor.rgb,
                        options.Picture_BUTTON_BACKGROUND_COLOR.BackColor.rgb,
                        options.Picture_LEGEND_TEXT_COLOR.BackColor.rgb,
                        options.Picture_VECTOR_COLOR.BackColor.rgb};
    settings.port = main.MSComm1.portNumber();
    return main.platform().files.write(settingsPath(main), settingsText(settings), error);
}

}  // namespace kestrel
