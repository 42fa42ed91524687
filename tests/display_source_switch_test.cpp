// The two source switches: state table, port, locking, save/restore, and the refusals.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_platform.h"

namespace kestrel {
namespace {

using F = Form_Kestrelmap;
using Handler = void (F::*)();

constexpr int32_t kButtonColour = 44718;

#define KM_STEP(name) &F::CmdButton_##name##_UP, &F::CmdButton_##name##_DN

const std::vector<Button F::*> kPositionEntry{
    &F::CmdButton_LAT_HEMI, &F::CmdButton_LONG_HEMI, KM_STEP(LAT_DEGX10),   KM_STEP(LAT_DEGX1),
    KM_STEP(LAT_MINX10),    KM_STEP(LAT_MINX1),      KM_STEP(LAT_MINX01),   KM_STEP(LAT_MINX001),
    KM_STEP(LONG_DEGX100),  KM_STEP(LONG_DEGX10),    KM_STEP(LONG_DEGX1),   KM_STEP(LONG_MINX10),
    KM_STEP(LONG_MINX1),    KM_STEP(LONG_MINX01),    KM_STEP(LONG_MINX001),
};
const std::vector<Button F::*> kBearingEntry{KM_STEP(BRGX100), KM_STEP(BRGX10), KM_STEP(BRGX1)};

// A window as start-up leaves it with a usable port: both sources manual, port closed.
struct Rig : test::FakeRig {
    Rig() {
        main().PORT_VALID = true;
        main().BUTTON_BC = kButtonColour;
        // Start-up paints every button in the button colour.
        for (const auto* group : {&kPositionEntry, &kBearingEntry}) {
            for (Button F::*b : *group) {
                (main().*b).BackColor = Colour::fromRgb(kButtonColour);
            }
        }
        main().OptionsForm.CmdButton_COMM_PORT = {"COM PORT 1 : FREE", "", true,
                                                  Colour::fromRgb(kButtonColour)};
    }
};

bool locked(const Button& b) {
    return !b.Enabled && b.BackColor == kLockedGrey;
}
bool unlocked(const Button& b) {
    return b.Enabled && b.BackColor == Colour::fromRgb(kButtonColour);
}

// Every button of the group locked (true) or unlocked (false).
::testing::AssertionResult group(F& form, const std::vector<Button F::*>& buttons, bool isLocked) {
    for (Button F::*b : buttons) {
        if (isLocked ? !locked(form.*b) : !unlocked(form.*b)) {
            return ::testing::AssertionFailure()
                   << "button " << (form.*b).Caption << " " << (form.*b).Enabled;
        }
    }
    return ::testing::AssertionSuccess();
}

struct Transition {
    Handler click;
    const char* position;  // source values after the click
    const char* bearing;
    int opens;  // port opens and closes caused by the click
    int closes;
    bool timerUnlocked;
};

TEST(SourceSwitch, WalksEveryTransitionOfTheStateTable) {
    const Handler pos = &F::CmdButton_POSIT_SOURCE_Click;
    const Handler brg = &F::CmdButton_DF_SOURCE_Click;
    // MAN/MAN -> GPS/MAN -> GPS/DF -> MAN/DF -> MAN/MAN -> MAN/DF -> GPS/DF -> GPS/MAN -> MAN/MAN
    const Transition walk[] = {
        {pos, "GPS", "MAN", 1, 0, true},  {brg, "GPS", "DF", 0, 0, true},
        {pos, "MAN", "DF", 0, 0, false},  {brg, "MAN", "MAN", 0, 1, false},
        {brg, "MAN", "DF", 1, 0, false},  {pos, "GPS", "DF", 0, 0, true},
        {brg, "GPS", "MAN", 0, 0, false}, {pos, "MAN", "MAN", 0, 1, false},
    };
    Rig rig;
    F& form = rig.main();
    for (const Transition& t : walk) {
        const int opens = rig.serial.opens;
        const int closes = rig.serial.closes;
        (form.*t.click)();
        const std::string state = std::string(t.position) + "/" + t.bearing;
        const bool gps = std::string(t.position) == "GPS";
        const bool df = std::string(t.bearing) == "DF";
        EXPECT_EQ(form.CmdButton_POSIT_SOURCE.Tag, t.position) << state;
        EXPECT_EQ(form.CmdButton_POSIT_SOURCE.Caption, gps ? "GPS POS" : "MAN POS") << state;
        EXPECT_EQ(form.CmdButton_DF_SOURCE.Tag, t.bearing) << state;
        EXPECT_EQ(form.CmdButton_DF_SOURCE.Caption, df ? "DF BRG" : "MAN BRG") << state;
        EXPECT_EQ(rig.serial.isOpen(), gps || df) << state;
        EXPECT_EQ(rig.serial.opens - opens, t.opens) << state;
        EXPECT_EQ(rig.serial.closes - closes, t.closes) << state;
        EXPECT_TRUE(group(form, kPositionEntry, gps)) << state;
        EXPECT_TRUE(group(form, kBearingEntry, df)) << state;
        EXPECT_TRUE(t.timerUnlocked ? unlocked(form.CmdButton_TIMER) : locked(form.CmdButton_TIMER))
            << state;
    }
    EXPECT_TRUE(rig.messages.shown.empty());
}

struct Snapshot {
    std::vector<DigitRegister> registers;
    std::vector<std::string> hemispheres;

    explicit Snapshot(F& form) {
        for (DigitRegister* r : form.positionRegisters()) {
            registers.push_back(*r);
        }
        for (DigitRegister* r : form.bearingRegisters()) {
            registers.push_back(*r);
        }
        for (const Button* b : {&form.CmdButton_LAT_HEMI, &form.CmdButton_LONG_HEMI}) {
            hemispheres.push_back(b->Caption + "|" + b->Tag);
        }
    }
    bool operator==(const Snapshot& o) const {
        if (hemispheres != o.hemispheres || registers.size() != o.registers.size()) {
            return false;
        }
        for (std::size_t i = 0; i < registers.size(); ++i) {
            if (registers[i].Tag != o.registers[i].Tag ||
                registers[i].glyph != o.registers[i].glyph) {
                return false;
            }
        }
        return true;
    }
};

void writeDigits(F& form, const std::string& position, const std::string& bearing) {
    std::size_t i = 0;
    for (DigitRegister* r : form.positionRegisters()) {
        form.SET_DIGIT(*r, position[i++] - '0');
    }
    i = 0;
    for (DigitRegister* r : form.bearingRegisters()) {
        form.SET_DIGIT(*r, bearing[i++] - '0');
    }
}

void setHemispheres(F& form, const char* lat, const char* lon) {
    form.CmdButton_LAT_HEMI = {lat, lat};
    form.CmdButton_LONG_HEMI = {lon, lon};
}

TEST(SourceSwitch, ManualDigitsSurviveAnInstrumentPeriod) {
    Rig rig;
    F& form = rig.main();
    writeDigits(form, "4215370710592", "271");
    setHemispheres(form, "N", "W");
    form.SHOW_GLYPH(form.Picture_LAT_MINX001, Glyph::Dash);  // the glyph is kept, too
    const Snapshot manual(form);

    // Straight there and back.
    form.CmdButton_POSIT_SOURCE_Click();
    form.CmdButton_POSIT_SOURCE_Click();
    EXPECT_TRUE(Snapshot(form) == manual);

    // GPS writes 51 28.40 N 000 27.94 E and a dash, then back: the manual entry returns.
    form.CmdButton_POSIT_SOURCE_Click();
    writeDigits(form, "5128400002794", "271");
    setHemispheres(form, "N", "E");
    form.SHOW_GLYPH(form.Picture_LONG_DEGX1, Glyph::Dash);
    EXPECT_FALSE(Snapshot(form) == manual);
    form.CmdButton_POSIT_SOURCE_Click();
    EXPECT_TRUE(Snapshot(form) == manual);

    // The bearing alone: the position registers are not touched by its restore.
    form.CmdButton_DF_SOURCE_Click();
    writeDigits(form, "4215370710592", "359");
    form.SHOW_GLYPH(form.Picture_BRGX100, Glyph::S);
    form.SET_DIGIT(form.Picture_LAT_DEGX1, 7);
    form.CmdButton_DF_SOURCE_Click();
    EXPECT_EQ(form.Picture_BRGX100.Tag + form.Picture_BRGX10.Tag + form.Picture_BRGX1.Tag, "271");
    EXPECT_EQ(form.Picture_BRGX100.glyph, Glyph::Two);
    EXPECT_EQ(form.Picture_LAT_DEGX1.Tag, "7");

    // Both on the instrument, the port selection puts both back through the two routines.
    form.CmdButton_POSIT_SOURCE_Click();
    form.CmdButton_DF_SOURCE_Click();
    writeDigits(form, "0000000000000", "000");
    const Snapshot before(form);
    form.positToManual();
    form.dfToManual();
    EXPECT_FALSE(Snapshot(form) == before);
    EXPECT_EQ(form.Picture_LAT_DEGX1.Tag, "7");
    EXPECT_EQ(form.Picture_BRGX1.Tag, "1");
    EXPECT_EQ(form.CmdButton_POSIT_SOURCE.Tag, "MAN");
    EXPECT_EQ(form.CmdButton_DF_SOURCE.Caption, "MAN BRG");
    EXPECT_TRUE(group(form, kPositionEntry, false));
    EXPECT_TRUE(group(form, kBearingEntry, false));
    EXPECT_TRUE(locked(form.CmdButton_TIMER));
    EXPECT_TRUE(rig.serial.isOpen());  // the caller closes the port
}

TEST(SourceSwitch, BackToManualOnAManualSourceChangesNothing) {
    Rig rig;
    F& form = rig.main();
    writeDigits(form, "4215370710592", "271");
    const Snapshot manual(form);
    form.positToManual();
    form.dfToManual();
    EXPECT_TRUE(Snapshot(form) == manual);  // the never-saved shadows were not restored
    EXPECT_EQ(rig.serial.opens + rig.serial.closes, 0);
}

// Everything a refused click must leave alone.
std::string visibleState(F& form, test::FakeSerialPort& serial) {
    std::string s = form.CmdButton_POSIT_SOURCE.Caption + form.CmdButton_POSIT_SOURCE.Tag +
                    form.CmdButton_DF_SOURCE.Caption + form.CmdButton_DF_SOURCE.Tag;
    for (const auto* group : {&kPositionEntry, &kBearingEntry}) {
        for (Button F::*b : *group) {
            s += (form.*b).Enabled ? "e" : "d";
        }
    }
    s += form.CmdButton_TIMER.Enabled ? "T" : "t";
    s += serial.isOpen() ? "O" : "C";
    for (DigitRegister* r : form.positionRegisters()) {
        s += r->Tag;
    }
    for (DigitRegister* r : form.bearingRegisters()) {
        s += r->Tag;
    }
    return s;
}

TEST(SourceSwitch, WithoutAValidPortBothSwitchesOnlyTellTheOperator) {
    for (const char* start : {"MAN/MAN", "GPS/MAN", "MAN/DF"}) {
        Rig rig;
        F& form = rig.main();
        writeDigits(form, "4215370710592", "271");
        if (std::string(start) == "GPS/MAN") {
            form.CmdButton_POSIT_SOURCE_Click();
        } else if (std::string(start) == "MAN/DF") {
            form.CmdButton_DF_SOURCE_Click();
        }
        form.PORT_VALID = false;
        const std::string before = visibleState(form, rig.serial);
        const int operations = rig.serial.opens + rig.serial.closes;
        form.CmdButton_POSIT_SOURCE_Click();
        form.CmdButton_DF_SOURCE_Click();
        EXPECT_EQ(visibleState(form, rig.serial), before) << start;
        EXPECT_EQ(rig.serial.opens + rig.serial.closes, operations) << start;
        ASSERT_EQ(rig.messages.shown.size(), 2u) << start;
        for (const auto& shown : rig.messages.shown) {
            EXPECT_EQ(shown.text, "COM port not available");
            EXPECT_EQ(shown.title, "Kestrelmap");
            EXPECT_EQ(shown.buttons, MessageButtons::Ok);
        }
    }
}

TEST(SourceSwitch, APortThatFailsToOpenLeavesTheSourceManualAndMarksItBusy) {
    for (Handler click : {&F::CmdButton_POSIT_SOURCE_Click, &F::CmdButton_DF_SOURCE_Click}) {
        Rig rig;
        F& form = rig.main();
        rig.serial.setPortNumber(3);
        rig.serial.busyPorts.insert(3);
        writeDigits(form, "4215370710592", "271");
        const std::string before = visibleState(form, rig.serial);
        (form.*click)();
        EXPECT_EQ(visibleState(form, rig.serial), before);
        EXPECT_EQ(rig.serial.opens, 1);
        EXPECT_FALSE(form.PORT_VALID);
        EXPECT_EQ(form.OptionsForm.CmdButton_COMM_PORT.Caption, "COM PORT 3 : BUSY");
        EXPECT_EQ(form.OptionsForm.CmdButton_COMM_PORT.BackColor, Colour::buttonShadow());
        EXPECT_TRUE(group(form, kPositionEntry, false));
        EXPECT_TRUE(group(form, kBearingEntry, false));
        ASSERT_EQ(rig.messages.shown.size(), 1u);
        EXPECT_EQ(rig.messages.shown[0].text, "COM port not available");

        // The next click is refused outright; once the port is free again the switch works.
        (form.*click)();
        EXPECT_EQ(rig.serial.opens, 1);
        rig.serial.busyPorts.clear();
        form.PORT_VALID = true;
        (form.*click)();
        EXPECT_TRUE(rig.serial.isOpen());
        EXPECT_TRUE(form.CmdButton_POSIT_SOURCE.Tag == "GPS" ||
                    form.CmdButton_DF_SOURCE.Tag == "DF");
    }
}

}  // namespace
}  // namespace kestrel
