#pragma once
// The main window: the whole program at run time. It owns the hunt state, the controls of the
// digit panel as plain data, the serial port, the three timers and the options window. Every
// event handler and named routine is a member, defined in the file of its subsystem
// (app/, input/, display/, plot/). It never talks to a toolkit: the shell forwards events to
// the handlers and mirrors the controls onto widgets.

#include <array>
#include <cstdint>
#include <string>

#include <optional>
#include <vector>

#include "app/controls.h"
#include "app/hunt_events.h"
#include "app/input_switch.h"
#include "app/write_notice.h"
#include "input/heading_reading.h"
#include "input/input_buffer.h"
#include "options/form_kestrelmap_options.h"
#include "platform/platform.h"

namespace kestrel {

// The plots in memory: rows 0 to 100, columns 0 to 3 of text; rows 1 to 99 hold plots by
// plot number (column 1 position, column 2 end point, column 3 name).
using PlotTable = std::array<std::array<std::string, 4>, 101>;

// Why a close of the main window was requested.
enum class CloseReason { Operator, System };

class Form_Kestrelmap {
  public:
    // `folder` is the fixed Kestrelmap folder, ending with its separator.
    Form_Kestrelmap(Platform& platform, std::string folder);
    Form_Kestrelmap(const Form_Kestrelmap&) = delete;
    Form_Kestrelmap& operator=(const Form_Kestrelmap&) = delete;

    // ---- Hunt state (public: the options window reads and sets it) ----
    std::string FILENAME_STRING;
    std::string CURRENT_FILENAME;
    float GOOGLE_LATITUDE_DEGREES = 0;
    float GOOGLE_LONGITUDE_DEGREES = 0;
    float DELTA_LATITUDE = 0;
    float DELTA_LONGITUDE = 0;
    int16_t NUMBER_OF_PLOTS = 0;
    int16_t NEXT_PLOT_NUMBER = 0;
    int16_t PLOT_TIMER = 0;
    int16_t PLOT_RANGE = 0;
    std::string INBUFF;
    int16_t GPS_TIMEOUT = 0;
    int16_t DF_TIMEOUT = 0;
    std::string GPRMC_STRING;
    int16_t COURSE = 0;
    int16_t SPEED = 0;
    std::string AGRELLO_STRING;
    int16_t BEARING = 0;
    int32_t BUTTON_BC = 0;
    std::string VECTOR_COLOR;
    bool PORT_VALID = false;
    PlotTable PLOT_TABLE;

    // ---- The window itself ----
    std::string Caption;
    Colour BackColor = Colour::buttonFace();
    Colour ForeColor = Colour::fromRgb(0);
    bool Unloaded = false;  // set by Form_Unload; the shell then ends the program

    // ---- Frames and the identification line ----
    Frame Frame_POSITION;
    Frame Frame_DF;
    Frame Frame_PLOT;
    Frame Frame_CONTROL;
    Frame Label_IDENT;

    // ---- Source switches and hemisphere buttons (with their hidden shadows) ----
    Button CmdButton_POSIT_SOURCE;
    Button CmdButton_DF_SOURCE;
    Button CmdButton_LAT_HEMI;
    Button CmdButton_LONG_HEMI;
    Button CmdButton_LAT_HEMI_TEMP;
    Button CmdButton_LONG_HEMI_TEMP;

    // ---- Digit registers, in screen order ----
    DigitRegister Picture_LAT_DEGX10;
    DigitRegister Picture_LAT_DEGX1;
    DigitRegister Picture_LAT_MINX10;
    DigitRegister Picture_LAT_MINX1;
    DigitRegister Picture_LAT_MINX01;
    DigitRegister Picture_LAT_MINX001;
    DigitRegister Picture_LONG_DEGX100;
    DigitRegister Picture_LONG_DEGX10;
    DigitRegister Picture_LONG_DEGX1;
    DigitRegister Picture_LONG_MINX10;
    DigitRegister Picture_LONG_MINX1;
    DigitRegister Picture_LONG_MINX01;
    DigitRegister Picture_LONG_MINX001;
    DigitRegister Picture_BRGX100;
    DigitRegister Picture_BRGX10;
    DigitRegister Picture_BRGX1;

    // ---- Shadow registers (hidden; hold the hand-entered digits while an instrument rules) ----
    DigitRegister Picture_LAT_DEGX10_TEMP;
    DigitRegister Picture_LAT_DEGX1_TEMP;
    DigitRegister Picture_LAT_MINX10_TEMP;
    DigitRegister Picture_LAT_MINX1_TEMP;
    DigitRegister Picture_LAT_MINX01_TEMP;
    DigitRegister Picture_LAT_MINX001_TEMP;
    DigitRegister Picture_LONG_DEGX100_TEMP;
    DigitRegister Picture_LONG_DEGX10_TEMP;
    DigitRegister Picture_LONG_DEGX1_TEMP;
    DigitRegister Picture_LONG_MINX10_TEMP;
    DigitRegister Picture_LONG_MINX1_TEMP;
    DigitRegister Picture_LONG_MINX01_TEMP;
    DigitRegister Picture_LONG_MINX001_TEMP;
    DigitRegister Picture_BRGX100_TEMP;
    DigitRegister Picture_BRGX10_TEMP;
    DigitRegister Picture_BRGX1_TEMP;

    // ---- Step buttons above and below each register ----
    Button CmdButton_LAT_DEGX10_UP;
    Button CmdButton_LAT_DEGX10_DN;
    Button CmdButton_LAT_DEGX1_UP;
    Button CmdButton_LAT_DEGX1_DN;
    Button CmdButton_LAT_MINX10_UP;
    Button CmdButton_LAT_MINX10_DN;
    Button CmdButton_LAT_MINX1_UP;
    Button CmdButton_LAT_MINX1_DN;
    Button CmdButton_LAT_MINX01_UP;
    Button CmdButton_LAT_MINX01_DN;
    Button CmdButton_LAT_MINX001_UP;
    Button CmdButton_LAT_MINX001_DN;
    Button CmdButton_LONG_DEGX100_UP;
    Button CmdButton_LONG_DEGX100_DN;
    Button CmdButton_LONG_DEGX10_UP;
    Button CmdButton_LONG_DEGX10_DN;
    Button CmdButton_LONG_DEGX1_UP;
    Button CmdButton_LONG_DEGX1_DN;
    Button CmdButton_LONG_MINX10_UP;
    Button CmdButton_LONG_MINX10_DN;
    Button CmdButton_LONG_MINX1_UP;
    Button CmdButton_LONG_MINX1_DN;
    Button CmdButton_LONG_MINX01_UP;
    Button CmdButton_LONG_MINX01_DN;
    Button CmdButton_LONG_MINX001_UP;
    Button CmdButton_LONG_MINX001_DN;
    Button CmdButton_BRGX100_UP;
    Button CmdButton_BRGX100_DN;
    Button CmdButton_BRGX10_UP;
    Button CmdButton_BRGX10_DN;
    Button CmdButton_BRGX1_UP;
    Button CmdButton_BRGX1_DN;

    // ---- Plot and control buttons ----
    Button CmdButton_RANGE;
    Button CmdButton_TIMER;
    Button CmdButton_ADD_PLOT;
    Button CmdButton_SHOW_OPTIONS;
    Button cmdbutton_EXIT;

    // ---- Timers and the serial port ----
    Timer Timer_TIMEOUT;
    Timer Timer_BLINK;
    Timer Timer_PLOT;
    SerialPort& MSComm1;

    // ---- The options window, created hidden at start-up ----
    Form_Kestrelmap_Options OptionsForm;

    // ---- Window events (app/) ----
    void Form_Load();
    void Form_Activate();
    void Form_KeyDown(int& KeyCode, int Shift);
    void Form_KeyPress(int& KeyAscii);
    // Asks the close question; returns true when the close is cancelled.
    bool Form_QueryUnload(CloseReason reason);
    void Form_Unload();
    // A close request from any source: the question, then the unload when it goes ahead.
    // Returns true when the window was unloaded.
    bool requestClose(CloseReason reason);
    void CmdButton_SHOW_OPTIONS_Click();
    void cmdbutton_EXIT_Click();

    // ---- Settings file (app/) ----
    void LOAD_SETTINGS();
    void SAVE_SETTINGS();

    // ---- Instrument input (input/) ----
    // The shell calls this for every port event; it feeds MSComm1_OnComm at line rate.
    void serialEvent();
    void MSComm1_OnComm();
    void GPRMC_PARSE();
    void AGRELLO_PARSE();
    void Timer_TIMEOUT_Timer();
    void Timer_BLINK_Timer();
    // Characters received on an input beside the COM line, framed by the same rules on that
    // input's own buffers; each complete line is announced under the input's name.
    void receiveOn(InputBuffer& input, std::string_view characters);
    // A heading sentence ("$" up to its carriage return); a usable one is kept with its time.
    void takeHeading(std::string_view sentence);
    // The last usable heading while it is fresh (at most 2 seconds old).
    std::optional<HeadingReading> freshHeading() const;

    // ---- Digit registers and manual entry (display/) ----
    void SET_DIGIT(DigitRegister& reg, int d);
    void SHOW_GLYPH(DigitRegister& reg, Glyph glyph);
    void RENDER_DIGIT(DigitRegister& reg);
    static bool showsDash(const DigitRegister& reg) { return reg.glyph == Glyph::Dash; }
    // The thirteen position registers and the three bearing registers, in screen order.
    std::array<DigitRegister*, 13> positionRegisters();
    std::array<DigitRegister*, 3> bearingRegisters();
    std::array<const DigitRegister*, 13> positionRegisters() const;
    std::array<const DigitRegister*, 3> bearingRegisters() const;
    // The serial port turned out unusable: PORT_VALID false, the options window's port button
    // shows BUSY on the button-shadow colour.
    void markPortBusy();

    void CmdButton_LAT_DEGX10_UP_Click();
    void CmdButton_LAT_DEGX10_DN_Click();
    void CmdButton_LAT_DEGX1_UP_Click();
    void CmdButton_LAT_DEGX1_DN_Click();
    void CmdButton_LAT_MINX10_UP_Click();
    void CmdButton_LAT_MINX10_DN_Click();
    void CmdButton_LAT_MINX1_UP_Click();
    void CmdButton_LAT_MINX1_DN_Click();
    void CmdButton_LAT_MINX01_UP_Click();
    void CmdButton_LAT_MINX01_DN_Click();
    void CmdButton_LAT_MINX001_UP_Click();
    void CmdButton_LAT_MINX001_DN_Click();
    void CmdButton_LONG_DEGX100_UP_Click();
    void CmdButton_LONG_DEGX100_DN_Click();
    void CmdButton_LONG_DEGX10_UP_Click();
    void CmdButton_LONG_DEGX10_DN_Click();
    void CmdButton_LONG_DEGX1_UP_Click();
    void CmdButton_LONG_DEGX1_DN_Click();
    void CmdButton_LONG_MINX10_UP_Click();
    void CmdButton_LONG_MINX10_DN_Click();
    void CmdButton_LONG_MINX1_UP_Click();
    void CmdButton_LONG_MINX1_DN_Click();
    void CmdButton_LONG_MINX01_UP_Click();
    void CmdButton_LONG_MINX01_DN_Click();
    void CmdButton_LONG_MINX001_UP_Click();
    void CmdButton_LONG_MINX001_DN_Click();
    void CmdButton_BRGX100_UP_Click();
    void CmdButton_BRGX100_DN_Click();
    void CmdButton_BRGX10_UP_Click();
    void CmdButton_BRGX10_DN_Click();
    void CmdButton_BRGX1_UP_Click();
    void CmdButton_BRGX1_DN_Click();
    void CmdButton_LAT_HEMI_Click();
    void CmdButton_LONG_HEMI_Click();
    void CmdButton_POSIT_SOURCE_Click();
    void CmdButton_DF_SOURCE_Click();
    void POSIT_SAVE();
    void POSIT_RESTORE();
    void DF_SAVE();
    void DF_RESTORE();
    // A source on its instrument back to manual, exactly as its switch does (saved digits back,
    // entry buttons unlocked, CmdButton_TIMER locked); the port is left to the caller. Nothing
    // happens when the source is manual already.
    void positToManual();
    void dfToManual();
    // A source from manual to its instrument, as its switch does (digits saved, entry buttons
    // locked); the inputs are left to the caller.
    void positToInstrument();
    void dfToInstrument();
    // Hands the opening and closing of inputs on a source switch to `inputs` (null: the
    // designed COM line alone). It must outlive the window or be removed first.
    void setInputSwitch(InputSwitch* inputs) { m_inputSwitch = inputs; }

    // ---- Plotting (plot/) ----
    void POSITION();
    void ENDPOINT();
    void BUILD_KML_FILE();
    void CmdButton_ADD_PLOT_Click();
    void CmdButton_RANGE_Click();
    void CmdButton_TIMER_Click();
    void Timer_PLOT_Timer();
    // Writes the map document built from PLOT_TABLE to both hunt files and tells the operator
    // of the first failure of a run (`quietly`: only notes it). Returns the first failure.
    std::optional<WriteFailure> writeHuntFiles(bool quietly = false);
    // Live_Hunt.kml, which a map viewer opens once to follow the current maps (the team map's
    // link too when there is a team). A failure is not told: the hunt files' writes tell of
    // the folder.
    void writeLiveHunt(bool withTeamMap);

    // ---- Announcements to what attaches beside the panel (app/) ----
    // The observer must outlive the window or be removed first.
    void addObserver(HuntObserver& observer);
    void removeObserver(HuntObserver& observer);
    // The shell calls this after every handler it ran.
    void afterEvent();
    // A complete line from an input, for the observers (the recorded hunt).
    void announceLine(std::string_view input, std::string_view line);
    // The position the digits show, in signed decimal degrees (what POSITION reads).
    struct Degrees {
        double latitude = 0;
        double longitude = 0;
    };
    Degrees displayedPosition() const;
    // The same while the panel shows a position; nothing while its digits are dashed (no fix
    // yet, or the GPS lost: the registers then keep the last place under the dashes).
    std::optional<Degrees> shownPosition() const;
    // The bearing the digits show when a line may be drawn from it: hand-entered, or from the
    // direction finder and not timed out (what ENDPOINT reads). Nothing otherwise.
    std::optional<int> drawableBearing() const;
    // What the last bearing line and its parse said beyond the three digits the panel keeps.
    std::optional<int> lastBearingQuality;   // the digit after "/" in the last bearing line
    std::optional<int> lastRelativeBearing;  // the last relative bearing that became a true one
    std::string lastHeadingFrom = "COG";     // what turned it into a true one: COG, HDT or HDG

    Platform& platform() { return m_platform; }
    const std::string& folder() const { return m_folder; }
    // The hunt's stamp MMDDYY_HHMMSS, set at start-up; the hunt's other files carry it too.
    const std::string& stamp() const { return m_stamp; }

  private:
    Platform& m_platform;
    std::string m_folder;
    std::string m_stamp;

    // Private state of each subsystem; each adds its members under its own heading.
    // -- app/
    bool m_closeQuestionOpen = false;  // the close question is on screen
    bool offerFolder();                // a missing folder made on request; true: told "not kept"
    // -- input/
    std::string m_pendingSerial;  // received, not yet handed to MSComm1_OnComm
    size_t m_pendingTaken = 0;    // characters of m_pendingSerial already handed over
    std::string m_lineSoFar;      // the COM line's line being received, for the announcement
    std::optional<HeadingReading> m_heading;  // the last usable heading sentence
    int64_t m_headingAtMs = 0;                // when it arrived, by the platform clock
    // -- display/
    std::vector<HuntObserver*> m_observers;
    InputSwitch* m_inputSwitch = nullptr;
    void switchSourceThroughInputs(bool position);
    // -- plot/
    PlotRecord plotRecord() const;  // the plot being made, from the panel as it stands
    void announcePlot(const PlotRecord& record);
    WriteNotice m_huntFilesNotice{m_platform.messages, "map file",
                                  "The plots are kept in memory; the next plot writes the map "
                                  "files again."};
};

}  // namespace kestrel
