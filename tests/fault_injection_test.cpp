// Faults from outside, injected through the fakes: the Kestrelmap folder missing or removed, a
// map file replaced by a folder, the disk filling up in the middle of the writes, a truncated
// settings file, the serial device vanishing mid-sentence, and a minute of garbage at full line
// rate. Each time the program goes on, the operator hears of it at most once (or sees the
// design's dashes), and the next good map file holds every plot made before the fault.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <string_view>

#include "soak/hunt_checks.h"
#include "soak/sentences.h"

namespace kestrel::test {
namespace {

// The placemarks of a map document: the text between <Document> and </Document>.
std::string placemarksOf(const std::string& doc) {
    const size_t start = doc.find("<Document>\r\n");
    const size_t end = doc.find("</Document>");
    if (start == std::string::npos || end == std::string::npos) {
        return "(no document)";
    }
    return doc.substr(start + 12, end - start - 12);
}

class Hunt {
  public:
    HardenRig rig;
    Form_Kestrelmap& f() { return rig.main(); }

    void start() {
        f().Form_Load();
        f().Form_Activate();
    }
    // Characters arriving on the open port, handled as the shell hands them over.
    void feed(std::string_view text) {
        rig.serial.waiting += text;
        f().serialEvent();
        expectSound("after serial input");
    }
    // One second of the timers: the time-out tick, and the hold-off tick when it is due.
    void second() {
        advanceClock(rig.clock.time, 1);
        f().Timer_TIMEOUT_Timer();
        if (f().Timer_BLINK.Enabled && ++m_blinkSeconds >= 3) {
            m_blinkSeconds = 0;
            f().Timer_BLINK_Timer();
        }
        expectSound("after a tick");
    }
    // A plot by the button followed by the hold-off; true when a plot was made.
    bool plot() {
        const int beeps = rig.beeper.beeps;
        f().CmdButton_ADD_PLOT_Click();
        expectSound("after a plot");
        for (int i = 0; i < 3; ++i) {
            second();
        }
        return rig.beeper.beeps == beeps + 1;
    }
    std::string current() { return rig.files.files[f().CURRENT_FILENAME]; }
    size_t messages() const { return rig.messages.shown.size(); }
    std::string lastMessage() const {
        return rig.messages.shown.empty() ? "" : rig.messages.shown.back().text;
    }

    void expectSound(const char* when) {
        EXPECT_EQ("", huntProblem(f())) << when;
        if (!rig.files.faults.empty()) {
            ADD_FAILURE() << when << ": " << rig.files.faults.front();
            rig.files.faults.clear();
        }
    }
    // Both hunt files hold every plot in memory, and the placemarks `before` come first.
    void expectAllPlotsInFiles(const std::string& before) {
        EXPECT_EQ("", rig.mapFilesProblem(true));
        if (!before.empty()) {
            EXPECT_EQ(0u, placemarksOf(current()).rfind(placemarksOf(before), 0))
                << "a plot made before the fault is missing from the map file";
        }
    }

  private:
    int m_blinkSeconds = 0;
};

// ---- The folder and the disk ----

TEST(FaultFolder, MissingAtStartUpThenCreated) {
    Hunt h;
    h.rig.files.failAll = true;
    h.rig.files.failReason = "No such file or directory";
    h.start();
    ASSERT_EQ(1u, h.messages());
    EXPECT_NE(std::string::npos, h.lastMessage().find("/hunt/")) << h.lastMessage();
    EXPECT_NE(std::string::npos, h.lastMessage().find("Create the folder")) << h.lastMessage();
    EXPECT_EQ("3|4|2|5|1|1|1|1|9|4|4|5|0", [&] {
        std::string t;
        for (DigitRegister* r : h.f().positionRegisters()) {
            t += (t.empty() ? "" : "|") + r->Tag;
        }
        return t;
    }()) << "the default settings apply from memory";
    EXPECT_LE(h.rig.files.writes, 6) << "start-up must not loop on a missing folder";

    EXPECT_TRUE(h.plot());
    EXPECT_TRUE(h.plot());
    EXPECT_EQ(1u, h.messages()) << "later failures of the same run stay quiet";

    h.rig.files.failAll = false;  // the operator creates the folder
    EXPECT_TRUE(h.plot());
    EXPECT_EQ(1u, h.messages());
    EXPECT_EQ(3, h.f().NUMBER_OF_PLOTS);
    h.expectAllPlotsInFiles("");
}

TEST(FaultFolder, RemovedDuringHuntAndRestoredTwice) {
    Hunt h;
    h.start();
    ASSERT_EQ(0u, h.messages());
    ASSERT_TRUE(h.plot());
    ASSERT_TRUE(h.plot());
    const std::string before = h.current();

    h.rig.files.failAll = true;
    EXPECT_TRUE(h.plot()) << "a plot is made in memory while the folder is gone";
    EXPECT_EQ(1u, h.messages());
    EXPECT_NE(std::string::npos, h.lastMessage().find(".kml")) << h.lastMessage();
    EXPECT_EQ(before, h.current()) << "the last good map file stays as it was";
    EXPECT_TRUE(h.plot());
    EXPECT_EQ(1u, h.messages());

    h.rig.files.failAll = false;
    EXPECT_TRUE(h.plot());
    EXPECT_EQ(5, h.f().NUMBER_OF_PLOTS);
    h.expectAllPlotsInFiles(before);

    // A new run of failures is told again, once.
    h.rig.files.failAll = true;
    EXPECT_TRUE(h.plot());
    EXPECT_TRUE(h.plot());
    EXPECT_EQ(2u, h.messages());
    h.rig.files.failAll = false;
    EXPECT_TRUE(h.plot());
    h.expectAllPlotsInFiles(before);
    EXPECT_EQ(8, h.f().NUMBER_OF_PLOTS);
}

TEST(FaultFolder, MissingAtCloseStillCloses) {
    Hunt h;
    h.start();
    h.rig.files.failAll = true;
    EXPECT_TRUE(h.f().requestClose(CloseReason::Operator));
    EXPECT_TRUE(h.f().Unloaded);
    ASSERT_EQ(2u, h.messages()) << "the close question and one message";
    EXPECT_NE(std::string::npos, h.lastMessage().find("not saved")) << h.lastMessage();
}

TEST(FaultFiles, MapFileReplacedByFolder) {
    Hunt h;
    h.start();
    ASSERT_TRUE(h.plot());
    const std::string before = h.current();

    h.rig.files.unwritable.insert(h.f().CURRENT_FILENAME);
    h.rig.files.failReason = "Is a directory";
    EXPECT_TRUE(h.plot());
    ASSERT_EQ(1u, h.messages());
    EXPECT_NE(std::string::npos, h.lastMessage().find("Current_Hunt.kml")) << h.lastMessage();
    EXPECT_NE(std::string::npos, h.lastMessage().find("Is a directory")) << h.lastMessage();
    // The time-stamped file is still written with every plot.
    EXPECT_EQ(2, countOf(h.rig.files.files[h.f().FILENAME_STRING], "<Placemark>"));
    EXPECT_EQ(before, h.current());
    EXPECT_TRUE(h.plot());
    EXPECT_EQ(1u, h.messages());

    h.rig.files.unwritable.clear();  // the folder is removed again
    EXPECT_TRUE(h.plot());
    EXPECT_EQ(1u, h.messages());
    h.expectAllPlotsInFiles(before);
    EXPECT_EQ(4, h.f().NUMBER_OF_PLOTS);
}

// The disk fills up at the Nth write from here: the first or the second hunt file of a plot,
// or the settings file at close.
TEST(FaultFiles, DiskFullInTheMiddleOfTheWrites) {
    for (int nth : {1, 2}) {
        SCOPED_TRACE("failing write " + std::to_string(nth) + " of the plot");
        Hunt h;
        h.start();
        ASSERT_TRUE(h.plot());
        ASSERT_TRUE(h.plot());
        const std::string before = h.current();
        h.rig.files.failOnWrite = h.rig.files.writes + nth;
        EXPECT_TRUE(h.plot());
        EXPECT_EQ(1u, h.messages());
        EXPECT_NE(std::string::npos, h.lastMessage().find("No space left on device"));
        EXPECT_TRUE(h.plot()) << "the disk has room again";
        EXPECT_EQ(1u, h.messages());
        h.expectAllPlotsInFiles(before);
        EXPECT_EQ(4, h.f().NUMBER_OF_PLOTS);
    }
    Hunt h;
    h.start();
    h.rig.files.failOnWrite = h.rig.files.writes + 1;
    EXPECT_TRUE(h.f().requestClose(CloseReason::Operator));
    EXPECT_TRUE(h.f().Unloaded);
    EXPECT_EQ(2u, h.messages()) << "the close question and the settings message";
}

// ---- The settings file ----

// Every settings file the program saved, cut at every byte: start-up always completes,
// silently, with either the saved settings or the defaults; never a mixture.
TEST(FaultSettings, TruncatedAtEveryByteOffset) {
    Hunt saver;
    saver.start();
    Form_Kestrelmap& s = saver.f();
    s.CmdButton_LAT_HEMI_Click();   // S
    s.CmdButton_LONG_HEMI_Click();  // E
    s.CmdButton_LAT_DEGX10_UP_Click();
    s.CmdButton_LONG_MINX001_DN_Click();
    s.OptionsForm.Picture_VECTOR_COLOR.BackColor = Colour::fromRgb(0x00FF00);
    s.MSComm1.setPortNumber(3);
    s.SAVE_SETTINGS();
    const std::string file = saver.rig.files.files[HardenRig::kSettings];
    ASSERT_GT(file.size(), 40u);

    auto signature = [](Form_Kestrelmap& f) {
        std::string t;
        for (DigitRegister* r : f.positionRegisters()) {
            t += r->Tag;
        }
        return t + f.CmdButton_LAT_HEMI.Tag + f.CmdButton_LONG_HEMI.Tag +
               std::to_string(f.OptionsForm.Picture_VECTOR_COLOR.BackColor.rgb) + "/" +
               std::to_string(f.MSComm1.portNumber());
    };
    const std::string saved = signature(s);
    const std::string defaults = "3425111194450NW255/1";

    for (size_t cut = 0; cut <= file.size(); ++cut) {
        SCOPED_TRACE("settings cut after byte " + std::to_string(cut));
        Hunt h;
        h.rig.files.files[HardenRig::kSettings] = file.substr(0, cut);
        h.start();
        CheckOptions loaded;
        loaded.tagsFromSettings = true;
        EXPECT_EQ("", huntProblem(h.f(), loaded));
        EXPECT_EQ(0u, h.messages());
        const std::string got = signature(h.f());
        EXPECT_TRUE(got == saved || got == defaults) << got;
        if (cut + 2 >= file.size()) {
            EXPECT_EQ(saved, got) << "only the last line end is cut";
        }
        if (got == defaults) {
            Form_Kestrelmap& again = h.rig.restart();
            again.Form_Load();
            EXPECT_EQ(defaults, signature(again)) << "the defaults were written back";
        }
    }
}

// ---- The serial line ----

// A hunt on GPS POS and DF BRG, driven by a receiver that moves north a little each second.
class LineHunt : public Hunt {
  public:
    void startOnInstruments() {
        start();
        f().CmdButton_POSIT_SOURCE_Click();
        f().CmdButton_DF_SOURCE_Click();
        ASSERT_TRUE(f().MSComm1.isOpen());
    }
    std::string nextFix() {
        fix.latDeg += 0.0005;
        fix.second = (fix.second + 1) % 60;
        return rmcSentence(fix);
    }
    // A second of good data: a fix and two bearings, then the tick.
    void goodSecond(int bearing = 40) {
        feed(nextFix());
        feed(bearingLine(bearing));
        feed(bearingLine(bearing + 1));
        second();
    }
    bool showsFix() {
        return f().GPS_TIMEOUT > 0 && !Form_Kestrelmap::showsDash(f().Picture_LAT_DEGX10) &&
               !Form_Kestrelmap::showsDash(f().Picture_LONG_MINX001);
    }
    Fix fix;
};

TEST(FaultSerial, DeviceVanishesMidSentenceAndReturns) {
    LineHunt h;
    h.startOnInstruments();
    for (int i = 0; i < 3; ++i) {
        h.goodSecond();
    }
    ASSERT_TRUE(h.plot());
    ASSERT_TRUE(h.showsFix());
    const std::string before = h.current();

    // The cable is pulled in the middle of a sentence; the shell closes and reopens the port,
    // the core sees nothing for a while.
    const std::string cut = h.nextFix();
    h.feed(cut.substr(0, 30));
    for (int i = 0; i < 12; ++i) {
        h.second();
    }
    EXPECT_TRUE(Form_Kestrelmap::showsDash(h.f().Picture_LAT_DEGX10)) << "stale data shows dashes";
    EXPECT_TRUE(Form_Kestrelmap::showsDash(h.f().Picture_BRGX1));
    EXPECT_EQ(0u, h.messages());

    // The device returns: the half sentence is followed by whole ones; within two sentences
    // the display follows the receiver again, and shows none of the broken sentence's digits.
    h.feed(h.nextFix());
    h.feed(h.nextFix());
    EXPECT_TRUE(h.showsFix());
    const long hundredths = std::lround((h.fix.latDeg - 34) * 60 * 100);
    EXPECT_EQ(std::to_string(hundredths % 10), h.f().Picture_LAT_MINX001.Tag);
    h.feed(bearingLine(100));
    EXPECT_FALSE(Form_Kestrelmap::showsDash(h.f().Picture_BRGX1));

    h.feed(plotCommand());
    EXPECT_EQ(2, h.f().NUMBER_OF_PLOTS);
    h.expectAllPlotsInFiles(before);
    EXPECT_EQ(0u, h.messages());
}

// A minute of noise at full line rate (480 characters a second, in the pieces a USB adapter
// delivers) with sentence starts, "%", "@PLOT" and carriage returns mixed in: the invariants
// hold after every event, and the first good sentences afterwards are shown at once.
TEST(FaultSerial, GarbageAtFullLineRateForAMinute) {
    LineHunt h;
    h.startOnInstruments();
    for (int i = 0; i < 3; ++i) {
        h.goodSecond();
    }
    ASSERT_TRUE(h.plot());
    const std::string before = h.current();
    const int plotsBefore = h.f().NUMBER_OF_PLOTS;

    static const std::string_view kTokens[] = {"$GPRMC,", "$GNRMC,", "%", "@PLOT",    "\r", "\n",
                                               ",A,",     ",V,",     "*", "4807.038", ",N,"};
    TestRandom random(20260307);
    for (int s = 0; s < 60; ++s) {
        std::string noise;
        while (noise.size() < 480) {
            if (random.chance(0.1)) {
                noise += kTokens[random.below(sizeof kTokens / sizeof kTokens[0])];
            } else {
                noise += static_cast<char>(random.below(256));
            }
        }
        for (size_t at = 0; at < noise.size();) {
            const size_t piece = 1 + random.below(64);
            h.feed(noise.substr(at, piece));
            at += piece;
        }
        h.second();
    }
    EXPECT_EQ(0u, h.messages());
    EXPECT_GE(h.f().NUMBER_OF_PLOTS, plotsBefore);

    // A clean line again: a CR ends whatever half line the noise left.
    h.feed("\r\n");
    h.feed(h.nextFix());
    EXPECT_TRUE(h.showsFix());
    h.feed(bearingLine(200));
    EXPECT_FALSE(Form_Kestrelmap::showsDash(h.f().Picture_BRGX1));
    for (int i = 0; i < 3; ++i) {
        h.second();
    }
    h.feed(h.nextFix());
    EXPECT_TRUE(h.plot());
    h.expectAllPlotsInFiles(before);
}

}  // namespace
}  // namespace kestrel::test
