// Inputs beside the COM line: framing on each input's own buffers, gpsd's stream reduced to
// sentences, which input opens for which source state, and the status text.

#include <gtest/gtest.h>

#include "input_test_support.h"
#include "instruments/gpsd_stream.h"
#include "instruments/input_routing.h"
#include "instruments/input_status.h"

namespace kestrel::test {
namespace {

using namespace kestrel::instruments;

struct LineLog : HuntObserver {
    void lineReceived(std::string_view input, std::string_view line) override {
        lines.push_back(std::string(input) + ":" + std::string(line));
    }
    std::vector<std::string> lines;
};

TEST(OwnInputs, TwoInputsInterleavedNeverMixTheirLines) {
    InputRig rig("GPS", "DF");
    Form_Kestrelmap& f = rig.main();
    LineLog log;
    f.addObserver(log);
    InputBuffer gps("GPS", InputBuffer::Carries::Position);
    InputBuffer df("DF", InputBuffer::Carries::Bearing);
    const std::string fix = withChecksum(rmc("4807.038,N,01131.000,E,10,40"));
    // Each device's line arrives in pieces, the other's pieces between them.
    f.receiveOn(gps, fix.substr(0, 20));
    f.receiveOn(df, "%01");
    f.receiveOn(gps, fix.substr(20));
    f.receiveOn(df, "5/7\r");
    EXPECT_EQ(shownBearing(f), "---");  // the bearing came before the fix was complete
    f.receiveOn(gps, "\r\n");
    f.receiveOn(df, "\n%020/7\r\n");
    EXPECT_EQ(shownPosition(f), "N4807.04 E01131.00");
    EXPECT_EQ(shownBearing(f), "060");
    EXPECT_EQ(f.INBUFF, "");  // the COM line's buffer saw nothing
    EXPECT_EQ(log.lines, (std::vector<std::string>{"DF:%015/7", "GPS:" + fix, "DF:%020/7"}));
}

TEST(OwnInputs, EachInputTakesOnlyItsInstrumentsLines) {
    struct Case {
        InputBuffer::Carries carries;
        std::string text;
        std::string shown;  // position then bearing
    };
    const std::string fix = withChecksum(rmc("4807.038,N,01131.000,E,10,40")) + "\r\n";
    const Case cases[] = {
        {InputBuffer::Carries::Position, fix + "%015\r\n", "N4807.04 E01131.00 ---"},
        {InputBuffer::Carries::Bearing, fix + "%015\r\n", "N----.-- E-----.-- ---"},
        {InputBuffer::Carries::Position, "$HEHDT,100,T\r\n%015\r\n", "N----.-- E-----.-- ---"},
        {InputBuffer::Carries::Bearing, "$GPGGA,1,2\r\n$XYZ\r\n" + std::string("\xff\x00\r\n", 4),
         "N----.-- E-----.-- ---"},
    };
    for (const Case& c : cases) {
        InputRig rig("GPS", "DF");
        for (DigitRegister* reg : rig.main().positionRegisters()) {
            rig.main().SHOW_GLYPH(*reg, Glyph::Dash);
        }
        for (DigitRegister* reg : rig.main().bearingRegisters()) {
            rig.main().SHOW_GLYPH(*reg, Glyph::Dash);
        }
        InputBuffer input("X", c.carries);
        rig.main().receiveOn(input, c.text);
        EXPECT_EQ(shownPosition(rig.main()) + " " + shownBearing(rig.main()), c.shown) << c.text;
        EXPECT_LE(input.window.size(), 100u);
    }
}

TEST(OwnInputs, TheComLineAnnouncesItsLinesToo) {
    InputRig rig;
    LineLog log;
    rig.main().addObserver(log);
    rig.deliver("%0");
    rig.deliver("12\r\n\r\n$GPGSV,x\r");
    rig.deliver(std::string(600, 'x') + "\r");
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[0], "LINE:%012");
    EXPECT_EQ(log.lines[1], "LINE:$GPGSV,x");
    EXPECT_EQ(log.lines[2], "LINE:" + std::string(512, 'x'));  // a long line by its head
}

TEST(GpsdStreamTest, OnlyWholeSentencesPass) {
    struct Case {
        std::vector<std::string> chunks;
        std::string expected;
        bool heardGpsd;
    };
    const std::string big(5000, 'x');
    const Case cases[] = {
        {{"{\"class\":\"VERSION\"}\r\n$GPRMC,1\r\n"}, "$GPRMC,1\r\n", true},
        {{"$GPR", "MC,1\r", "\n$GPHDT,1,T\n"}, "$GPRMC,1\r\n$GPHDT,1,T\r\n", false},
        {{"garbage\r\n\x01\x02\n", "$GP"}, "", false},
        {{"$" + big + "\r\n$A\r\n"}, "$A\r\n", false},
        {{"$" + big, big, "\r\n$B\r\n"}, "$B\r\n", false},
    };
    for (const Case& c : cases) {
        GpsdStream stream;
        std::string out;
        for (const std::string& chunk : c.chunks) {
            out += stream.take(chunk);
        }
        EXPECT_EQ(out, c.expected);
        EXPECT_EQ(stream.heardGpsd(), c.heardGpsd);
    }
    GpsdStream cut;
    EXPECT_EQ(cut.take("$GPRMC,12"), "");
    cut.reset();  // gpsd went away mid-line
    EXPECT_EQ(cut.take("3\r\n$GPRMC,4\r\n"), "$GPRMC,4\r\n");
}

// An own input that opens or fails as the test says, and counts.
struct FakeInput : InstrumentInput {
    explicit FakeInput(std::string name) : name(std::move(name)) {}
    bool open(std::string& reason) override {
        ++opens;
        if (!failure.empty()) {
            reason = failure;
            return false;
        }
        isOpenNow = true;
        return true;
    }
    void close() override { isOpenNow = false; }
    bool isOpen() const override { return isOpenNow; }
    std::string where() const override { return name; }
    std::string name;
    std::string failure;
    bool isOpenNow = false;
    int opens = 0;
};

TEST(InputRouting, WhichInputOpensForWhichSourceState) {
    InputConfig line;
    InputConfig gpsOwn;
    gpsOwn.gps = GpsFrom::Serial;
    InputConfig gpsd;
    gpsd.gps = GpsFrom::Gpsd;
    InputConfig dfOwn;
    dfOwn.df = DfFrom::Serial;
    InputConfig both = gpsOwn;
    both.df = DfFrom::Serial;
    struct Case {
        const InputConfig& config;
        bool posit, bearing;
        NeededInputs need;
    };
    const Case cases[] = {
        {line, false, false, {false, false, false}}, {line, true, false, {true, false, false}},
        {line, false, true, {true, false, false}},   {line, true, true, {true, false, false}},
        {gpsOwn, true, false, {false, true, false}}, {gpsOwn, false, true, {true, true, false}},
        {gpsd, true, true, {true, true, false}},     {dfOwn, true, false, {true, false, false}},
        {dfOwn, false, true, {true, false, true}},   {both, false, false, {false, false, false}},
        {both, true, false, {false, true, false}},   {both, false, true, {false, true, true}},
        {both, true, true, {false, true, true}},
    };
    for (const Case& c : cases) {
        const NeededInputs got = neededInputs(c.config, c.posit, c.bearing);
        EXPECT_EQ(got, c.need) << c.posit << c.bearing << " gps " << int(c.config.gps) << " df "
                               << int(c.config.df);
    }
    EXPECT_FALSE(usesOwnInputs(line));
    EXPECT_TRUE(usesOwnInputs(gpsd));
}

// The window with both switches going through the router, on fakes.
struct RouterRig : InputRig {
    explicit RouterRig(const InputConfig& config) {
        main().PORT_VALID = true;
        router.setConfig(config);
        main().setInputSwitch(&router);
    }
    std::string state() {
        return main().CmdButton_POSIT_SOURCE.Tag + "/" + main().CmdButton_DF_SOURCE.Tag +
               " line:" + (serial.isOpen() ? "open" : "closed") +
               " gps:" + (gps.isOpen() ? "open" : "closed") +
               " df:" + (df.isOpen() ? "open" : "closed");
    }
    FakeInput gps{"/dev/ttyUSB0"};
    FakeInput df{"/dev/ttyUSB1"};
    InputRouter router{main(), gps, df};
};

TEST(InputRouting, SwitchesOpenAndCloseExactlyWhatTheSourcesNeed) {
    InputConfig both;
    both.gps = GpsFrom::Serial;
    both.df = DfFrom::Serial;
    RouterRig rig(both);
    rig.main().PORT_VALID = false;  // no COM line at all: it must not matter
    rig.main().CmdButton_DF_SOURCE_Click();
    EXPECT_EQ(rig.state(), "MAN/DF line:closed gps:open df:open");
    rig.main().CmdButton_POSIT_SOURCE_Click();
    EXPECT_EQ(rig.state(), "GPS/DF line:closed gps:open df:open");
    rig.main().CmdButton_DF_SOURCE_Click();
    EXPECT_EQ(rig.state(), "GPS/MAN line:closed gps:open df:closed");
    rig.main().CmdButton_POSIT_SOURCE_Click();
    EXPECT_EQ(rig.state(), "MAN/MAN line:closed gps:closed df:closed");
    EXPECT_EQ(rig.serial.opens, 0);
    rig.main().Form_Activate();  // back from the options window: the COM line is not missed
    EXPECT_TRUE(rig.messages.shown.empty());

    InputConfig dfOwn;
    dfOwn.df = DfFrom::Serial;
    RouterRig mixed(dfOwn);
    mixed.main().PORT_VALID = false;
    mixed.main().Form_Activate();  // the GPS is on the COM line: its absence is told
    ASSERT_EQ(mixed.messages.shown.size(), 1u);
    mixed.main().PORT_VALID = true;
    mixed.main().CmdButton_DF_SOURCE_Click();
    EXPECT_EQ(mixed.state(), "MAN/DF line:open gps:closed df:open");
    mixed.main().positToManual();
    mixed.main().dfToManual();  // as the port button does
    mixed.router.closeUnneeded();
    EXPECT_EQ(mixed.state(), "MAN/MAN line:open gps:closed df:closed");
}

TEST(InputRouting, AFailingInputLeavesTheSourceManualAndSaysWhy) {
    InputConfig both;
    both.gps = GpsFrom::Serial;
    both.df = DfFrom::Serial;
    RouterRig rig(both);
    rig.df.failure = "permission denied: add yourself to the group dialout";
    rig.main().CmdButton_DF_SOURCE_Click();
    EXPECT_EQ(rig.state(), "MAN/MAN line:closed gps:closed df:closed");  // GPS opened, undone
    ASSERT_EQ(rig.messages.shown.size(), 1u);
    EXPECT_EQ(rig.messages.shown[0].text,
              "Direction finder: cannot open /dev/ttyUSB1: permission denied: add yourself to "
              "the group dialout");
    EXPECT_EQ(rig.serial.opens, 0);

    InputConfig dfOwn;
    dfOwn.df = DfFrom::Serial;
    RouterRig busyLine(dfOwn);
    busyLine.serial.busyPorts.insert(1);
    busyLine.main().CmdButton_DF_SOURCE_Click();
    EXPECT_EQ(busyLine.state(), "MAN/MAN line:closed gps:closed df:closed");
    EXPECT_FALSE(busyLine.main().PORT_VALID);  // the COM line keeps its own rules
    EXPECT_EQ(busyLine.messages.shown.at(0).text, "COM port not available");
}

TEST(InputStatus, TextForEachState) {
    struct Case {
        InputRole role;
        std::function<void(InputMonitor&)> steps;
        int64_t nowMs;
        std::string expected;
    };
    const std::string fix = withChecksum(rmc("4807.038,N,01131.000,E,10,40"));
    const Case cases[] = {
        {InputRole::Gps, [](InputMonitor&) {}, 0, "closed (not needed)"},
        {InputRole::Gps, [](InputMonitor& m) { m.opened(1000); }, 13000, "no data for 12 s"},
        {InputRole::Gps,
         [&](InputMonitor& m) {
             m.opened(0);
             m.lineReceived(fix, 1000);
             m.lineReceived("$GPGSV", 1300);
         },
         1400, "receiving, last fix 0.4 s ago"},
        {InputRole::Gps,
         [](InputMonitor& m) {
             m.opened(0);
             m.lineReceived("$GPGSV", 1000);
         },
         1500, "receiving, last line 0.5 s ago"},
        {InputRole::Df,
         [](InputMonitor& m) {
             m.opened(0);
             m.lineReceived("%123/4", 1000);
         },
         9000, "no data for 8 s"},
        {InputRole::Df,
         [](InputMonitor& m) {
             m.opened(0);
             m.failed("gpsd at localhost:2947 not reachable");
         },
         9000, "gpsd at localhost:2947 not reachable"},
        {InputRole::Df,
         [](InputMonitor& m) {
             m.opened(0);
             m.failed("x");
             m.recovered(5000);
         },
         7000, "no data for 2 s"},
    };
    for (const Case& c : cases) {
        InputMonitor monitor(c.role);
        c.steps(monitor);
        EXPECT_EQ(monitor.statusText(c.nowMs), c.expected);
    }
}

}  // namespace
}  // namespace kestrel::test
