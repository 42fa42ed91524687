#include "app/form_kestrelmap.h"
#include "app/hunt_stamp.h"
#include "input/port_select.h"
#include "options/colour_sets.h"

namespace kestrel {

// The window's load event: names the hunt, writes the empty map to both hunt files, loads the
// settings, tries the serial port once and paints the stored position and colours. A missing
// folder is offered to be made first. Trouble with the folder never stops it: the operator is
// told once and the hunt goes on in memory.
void Form_Kestrelmap::Form_Load() {
    CURRENT_FILENAME = "Current_Hunt";
    m_stamp = huntStamp(m_platform.clock.now());
    Caption = "Kestrelmap " + m_stamp;
    FILENAME_STRING = m_folder + m_stamp + ".kml";
    CURRENT_FILENAME = m_folder + CURRENT_FILENAME + ".kml";

    const bool folderTold = offerFolder();
    // Told here in start-up's own words, so the map writer tells no more of this run.
    const std::optional<WriteFailure> failure = writeHuntFiles(true);
    if (failure && !folderTold) {
        m_platform.messages.show("Kestrelmap cannot write its map file " + failure->file + " (" +
                                     failure->reason + ").\nCreate the folder " + m_folder +
                                     " and start Kestrelmap again.",
                                 "Kestrelmap", MessageButtons::Ok, false);
    }
    writeLiveHunt(false);

    NEXT_PLOT_NUMBER = 1;
    LOAD_SETTINGS();

    const int16_t port = MSComm1.portNumber();
    PORT_VALID = true;
    OptionsForm.CmdButton_COMM_PORT.Caption = portCaption(port, true);
    if (!tryPort(MSComm1)) {
        PORT_VALID = false;
        OptionsForm.CmdButton_COMM_PORT.Caption = portCaption(port, false);
    }

    for (DigitRegister* reg : positionRegisters()) {
        RENDER_DIGIT(*reg);
    }

    const Form_Kestrelmap_Options& options = OptionsForm;
    applyColourSet(*this, kDisplaySet, options.Picture_DISPLAY_BACKGROUND_COLOR.BackColor);
    applyColourSet(*this, kButtonSet, options.Picture_BUTTON_BACKGROUND_COLOR.BackColor);
    applyColourSet(*this, kLegendSet, options.Picture_LEGEND_TEXT_COLOR.BackColor);
    if (!PORT_VALID) {
        OptionsForm.CmdButton_COMM_PORT.BackColor = Colour::buttonShadow();
    }
    for (HuntObserver* observer : std::vector(m_observers)) {
        observer->huntStarted();
    }
}

void Form_Kestrelmap::writeLiveHunt(bool withTeamMap) {
    std::string ignored;
    m_platform.files.write(m_folder + "Live_Hunt.kml", liveHuntDocument(withTeamMap), ignored);
}

}  // namespace kestrel
