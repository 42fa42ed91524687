// The simulator's timing and plumbing: the line's pace, cable pulls and silences, replay
// files, the command line, and the pseudo-terminal linked into a folder.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "kestrel-sim/command_line.h"
#include "kestrel-sim/pacing.h"
#include "kestrel-sim/pty_port.h"
#include "kestrel-sim/runner.h"
#include "kestrel-sim/sentences.h"

namespace kestrel::sim {
namespace {

TEST(SimPacing, FourThousandEightHundredBaudIsFourHundredEightyCharactersASecond) {
    LinePacer pacer;
    EXPECT_DOUBLE_EQ(pacer.charsPerSecond(), 480);
    struct Case {
        std::size_t chars;
        std::int64_t us;
    };
    const Case cases[] = {{0, 0}, {1, 2083}, {3, 6250}, {8, 16666}, {72, 150000}, {480, 1'000'000}};
    for (const Case& c : cases) {
        EXPECT_EQ(pacer.durationUs(c.chars), c.us) << c.chars;
    }
    EXPECT_EQ(pacer.arrivalUs(1000, 0), 1000 + 2083);
    EXPECT_EQ(pacer.arrivalUs(0, 479), 1'000'000);
}

TEST(SimPacing, ALineWaitsForTheOneBefore) {
    LinePacer pacer;
    EXPECT_EQ(pacer.schedule(0, 72), 0);             // an RMC sentence: 150 ms
    EXPECT_EQ(pacer.schedule(137'000, 8), 150'000);  // a bearing line while it is sent
    EXPECT_EQ(pacer.busyUntilUs(), 166'666);
    EXPECT_EQ(pacer.schedule(400'000, 8), 400'000);  // the line was free again
}

class ScriptedSource : public LineSource {
  public:
    explicit ScriptedSource(std::vector<std::pair<std::int64_t, std::string>> lines)
        : m_lines(std::move(lines)) {}
    std::optional<SimEvent> next() override {
        if (m_next == m_lines.size()) {
            return std::nullopt;
        }
        SimEvent e;
        e.atMs = m_lines[m_next].first;
        e.text = m_lines[m_next++].second;
        return e;
    }

  private:
    std::vector<std::pair<std::int64_t, std::string>> m_lines;
    std::size_t m_next = 0;
};

std::string play(std::vector<std::pair<std::int64_t, std::string>> lines, ScheduleSettings s,
                 RunSummary* summary = nullptr, int* pulls = nullptr) {
    Scheduler scheduler(std::make_unique<ScriptedSource>(std::move(lines)), s);
    StringSink sink;
    RunSettings fast;
    fast.paced = false;
    const RunSummary r = runSimulation(scheduler, sink, fast);
    if (summary != nullptr) {
        *summary = r;
    }
    if (pulls != nullptr) {
        *pulls = sink.cablePulls();
    }
    return sink.bytes();
}

TEST(SimSchedule, OutagesDropLinesAndAPullCutsTheLineInProgress) {
    const std::string long72(70, 'x');  // 72 characters with CR LF: 150 ms on the line
    ScheduleSettings s;
    s.cablePull = {1000, 500};
    RunSummary r;
    int pulls = 0;
    // 0.9 s: cut after 100 ms (48 characters arrive); 1.2 s: dropped; 1.5 s: back; 2.1 s:
    // dropped in the second pull.
    EXPECT_EQ(play({{0, "a"}, {900, long72}, {1200, "b"}, {1500, "c"}, {2100, "x"}, {2600, "d"}}, s,
                   &r, &pulls),
              "a\r\n" + long72.substr(0, 48) + "c\r\nd\r\n");
    EXPECT_EQ(r.cutBytes, 72 - 48);
    EXPECT_EQ(pulls, 2);  // at 1 s and 2 s

    ScheduleSettings quiet;
    quiet.silence = {1000, 500};
    quiet.durationMs = 2600;
    EXPECT_EQ(
        play({{0, "a"}, {1000, "b"}, {1499, "c"}, {1500, "d"}, {2400, "e"}, {2600, "f"}}, quiet),
        "a\r\nd\r\n");  // 2.0-2.5 s silent, 2.6 s past the end
}

TEST(SimSchedule, ThePacedRunKeepsToTheLine) {
    // 96 characters take 200 ms at 4800 baud; the run must not be much faster or slower.
    Scheduler scheduler(
        std::make_unique<ScriptedSource>(std::vector<std::pair<std::int64_t, std::string>>{
            {0, std::string(46, 'x')}, {10, std::string(46, 'y')}}),
        ScheduleSettings{});
    StringSink sink;
    const auto t0 = std::chrono::steady_clock::now();
    const RunSummary r = runSimulation(scheduler, sink, RunSettings{});
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    EXPECT_EQ(r.bytes, 96);
    EXPECT_EQ(r.endUs, 200'000);
    EXPECT_GE(ms, 195);
    EXPECT_LT(ms, 1500);  // generous: the machine may be busy
}

TEST(SimReplay, TimestampsAreSecondsAndATab) {
    struct Case {
        const char* line;
        std::optional<std::int64_t> ms;
        const char* rest;
    };
    const Case cases[] = {
        {"12.250\t$GPRMC", 12250, "$GPRMC"},
        {"3\t%123/4", 3000, "%123/4"},
        {"0.0005\tx", 0, "x"},
        {"7.5\t", 7500, ""},
        {"$GPRMC,1\t2", std::nullopt, "$GPRMC,1\t2"},
        {"12.250 $GPRMC", std::nullopt, "12.250 $GPRMC"},
        {"\t%123/4", std::nullopt, "\t%123/4"},
        {"1.2.3\tx", std::nullopt, "1.2.3\tx"},
        {"99999999999999\tx", std::nullopt, "99999999999999\tx"},
    };
    for (const Case& c : cases) {
        std::string_view line = c.line;
        EXPECT_EQ(ReplaySource::takeTimestampMs(line), c.ms) << c.line;
        EXPECT_EQ(line, c.rest) << c.line;
    }
}

std::vector<std::pair<std::int64_t, std::string>> replayed(std::string_view file,
                                                           ReplaySettings settings,
                                                           std::size_t max = 100) {
    ReplaySource source(file, settings);
    std::vector<std::pair<std::int64_t, std::string>> out;
    while (out.size() < max) {
        std::optional<SimEvent> e = source.next();
        if (!e) {
            break;
        }
        out.emplace_back(e->atMs, e->text);
    }
    return out;
}

TEST(SimReplay, WithAndWithoutTheRecordedTiming) {
    using Lines = std::vector<std::pair<std::int64_t, std::string>>;
    const std::string file = "100.0\t$A\r\n100.3\t%1\n\n%2\r99.0\t%3\n101.5\t@PLOT";
    EXPECT_EQ(replayed(file, {true, 4, false}),
              (Lines{{0, "$A"}, {300, "%1"}, {300, "%2"}, {300, "%3"}, {1500, "@PLOT"}}));
    EXPECT_EQ(replayed(file, {false, 2, false}),
              (Lines{{0, "$A"}, {500, "%1"}, {1000, "%2"}, {1500, "%3"}, {2000, "@PLOT"}}));
    EXPECT_EQ(replayed("5\ta\n6\tb\n", {true, 4, true}, 5),
              (Lines{{0, "a"}, {1000, "b"}, {1250, "a"}, {2250, "b"}, {2500, "a"}}));
    EXPECT_TRUE(replayed("\r\n\n\r", {true, 4, true}).empty());  // nothing to loop over
}

TEST(SimReplay, InputLogsAndPlainLogsKeepTheirOwnPace) {
    using Lines = std::vector<std::pair<std::int64_t, std::string>>;
    const std::string log =
        "2026-12-08T23:59:59.750Z\tLINE\t$GPRMC,1\r\n"
        "2026-12-09T00:00:00.000Z\tDF\t%045/7\tq\r\n"  // a TAB in the line stays
        "2026-12-09T00:00:01Z\tGPS\t@PLOT\r\n"
        "not stamped\r\n";
    EXPECT_EQ(replayed(log, {}),
              (Lines{{0, "$GPRMC,1"}, {250, "%045/7\tq"}, {1250, "@PLOT"}, {1250, "not stamped"}}));
    ReplaySettings faster;
    faster.speed = 2.5;
    EXPECT_EQ(replayed(log, faster),
              (Lines{{0, "$GPRMC,1"}, {100, "%045/7\tq"}, {500, "@PLOT"}, {500, "not stamped"}}));
    ReplaySettings even;
    even.rateGiven = true;
    even.linesPerSecond = 10;
    EXPECT_EQ(replayed(log, even)[3], (std::pair<std::int64_t, std::string>{300, "not stamped"}));

    // A plain NMEA log: the lines between two RMC sentences share the second between them; the
    // RMC times cross midnight; bare LF line ends.
    const std::string r1 = "$GPRMC,235959.00,A,1,N,2,W,0,0,081226,,*" +
                           nmeaChecksum("GPRMC,235959.00,A,1,N,2,W,0,0,081226,,");
    const std::string r2 = "$GNRMC,000000.50,A";     // no checksum: taken as it is
    const std::string r3 = "$GPRMC,000001.50,A*00";  // a wrong one: not a time
    EXPECT_EQ(replayed("%a\n" + r1 + "\n%b\n%c\n" + r2 + "\n%d\n" + r3 + "\n", {}),
              (Lines{{0, "%a"},
                     {500, r1},
                     {1000, "%b"},
                     {1500, "%c"},
                     {2000, r2},
                     {2500, "%d"},
                     {3000, r3}}));
    EXPECT_EQ(ReplaySource::rmcTimeOfDayMs("$GPRMC,123519.5,A"), 45319500);
    EXPECT_EQ(ReplaySource::rmcTimeOfDayMs("$GPRMC,1235,A"), std::nullopt);
    EXPECT_EQ(ReplaySource::rmcTimeOfDayMs("$GPGGA,123519,A"), std::nullopt);
    // Without RMC times: the even pace, as before.
    EXPECT_EQ(replayed("%a\n%b\n", {}), (Lines{{0, "%a"}, {250, "%b"}}));
}

TEST(SimReplay, LinesGoOutWithCrLfWhateverTheFileHad) {
    for (const char* file : {"$A\n%1\n", "$A\r\n%1\r\n", "$A\r%1"}) {
        Scheduler replay(std::make_unique<ReplaySource>(file, ReplaySettings{}),
                         ScheduleSettings{});
        StringSink sink;
        RunSettings fast;
        fast.paced = false;
        runSimulation(replay, sink, fast);
        EXPECT_EQ(sink.bytes(), "$A\r\n%1\r\n") << file;
    }
}

TEST(SimReplay, RecordHoldsOnlyLinesWrittenInFullWithTheirArrival) {
    // 0.9 s: a 72-character line cut by the pull at 1 s is not in the record; "a" (3 characters,
    // 6.25 ms on the line) arrives at 6 ms.
    Scheduler scheduler(
        std::make_unique<ScriptedSource>(std::vector<std::pair<std::int64_t, std::string>>{
            {0, "a"}, {900, std::string(70, 'x')}, {1600, "c"}}),
        ScheduleSettings{{1000, 500}, {}, kNever});
    std::ostringstream record;
    StringSink sink;
    RunSettings fast;
    fast.paced = false;
    fast.record = &record;
    runSimulation(scheduler, sink, fast);
    EXPECT_EQ(record.str(), "0.006\ta\n1.606\tc\n");
}

TEST(SimReplay, ARecordPlaysBackTheSameBytes) {
    std::vector<std::string_view> args = {"--plot-every", "3", "--garbage-every", "2",
                                          "--duration",   "20"};
    const CommandLine options = *parseCommandLine(args, "/tmp").options;
    std::ostringstream record;
    StringSink original;
    RunSettings fast;
    fast.paced = false;
    fast.record = &record;
    Scheduler generated(std::make_unique<GeneratedSource>(options.generator), options.schedule);
    runSimulation(generated, original, fast);
    StringSink again;
    fast.record = nullptr;
    Scheduler replay(std::make_unique<ReplaySource>(record.str(), ReplaySettings{true, 4, false}),
                     ScheduleSettings{});
    runSimulation(replay, again, fast);
    EXPECT_EQ(again.bytes(), original.bytes());
}

struct CliCase {
    std::vector<std::string_view> args;
    std::string error;  // empty: accepted
};

TEST(SimCommandLine, RefusesBadOptionsWithAReason) {
    const CliCase cases[] = {
        {{"--port", "9"}, "--port needs a whole number from 1 to 8, not \"9\""},
        {{"--port=2.5"}, "--port needs a whole number from 1 to 8, not \"2.5\""},
        {{"--lat", "91"}, "--lat needs a number from -89.9 to 89.9, not \"91\""},
        {{"--duration", "1,5"}, "--duration needs a number from 0 to 10000000, not \"1,5\""},
        {{"--talker", "gp"}, "--talker needs two capital letters, such as GP or GN, not \"gp\""},
        {{"--seed", "-1"},
         "--seed needs a whole number from 0 to 18446744073709551615, not \"-1\""},
        {{"--start", "2024-02-30T00:00:00"},
         "--start needs a time like 2024-06-15T18:00:00, not \"2024-02-30T00:00:00\""},
        {{"--tx-lat", "34.5"}, "give both --tx-lat and --tx-lon, or neither"},
        {{"--cable-pull-every", "5", "--cable-pull-for", "5"},
         "--cable-pull-for must be shorter than --cable-pull-every"},
        {{"--silence-every", "10"}, "--silence-for must be shorter than --silence-every"},
        {{"--fast=1"}, "--fast takes no value"},
        {{"--replay-speed", "0"}, "--replay-speed needs a number from 0.1 to 1000, not \"0\""},
        {{"--duration"}, "--duration needs a value (S)"},
        {{"--bogus"}, "unknown option --bogus (see --help)"},
        {{"COM1"}, "unknown option COM1 (see --help)"},
        {{"--kraken", "65536"}, "--kraken needs a whole number from 0 to 65535, not \"65536\""},
        {{"--kraken-frequency", "146.52"},
         "--kraken-frequency needs a number from 1000000 to 6000000000, not "
         "\"146.52\""},
        {{"--kraken-second-frequency", "146550000"}, "--kraken-second-frequency needs --kraken"},
        {{"--kraken", "8081", "--fast"}, "--kraken serves a paced run: not with --fast"},
        {{"--kraken", "8081", "--replay", "x.log"},
         "--kraken plays the generated drive: not with --replay"},
        {{"--kraken=8081", "--kraken-second-frequency", "146525000"},
         "--kraken-second-frequency must be at least 10 kHz from --kraken-frequency"},
        {{"--stdout", "--kraken", "0", "--kraken-second-frequency=446e6", "--no-df",
          "--no-turn-lag"},
         ""},
        {{"--stdout", "--fast", "--duration=2.5", "--talker", "GN", "--port", "8"}, ""},
    };
    for (const CliCase& c : cases) {
        const ParsedCommandLine parsed = parseCommandLine(c.args, "/home/op");
        EXPECT_EQ(parsed.error, c.error) << c.args[0];
        EXPECT_EQ(parsed.options.has_value(), c.error.empty()) << c.args[0];
    }
    EXPECT_EQ(parseCommandLine({}, nullptr).error, "HOME is not set: pass --folder");
}

TEST(SimCommandLine, DefaultsAndDerivedValues) {
    const CommandLine d = *parseCommandLine({}, "/home/op").options;
    EXPECT_EQ(d.folder, "/home/op/Kestrelmap");
    EXPECT_EQ(d.port, 1);
    EXPECT_EQ(d.generator.talker, "GP");
    EXPECT_EQ(d.generator.startEpochSeconds, *parseUtc(kDefaultStart));
    EXPECT_NEAR(distanceMiles(d.generator.route.start, d.generator.transmitter), 3.2, 0.001);
    EXPECT_NEAR(bearingDeg(d.generator.route.start, d.generator.transmitter), 40, 0.01);
    EXPECT_EQ(d.schedule.durationMs, kNever);
    EXPECT_EQ(d.krakenPort, -1);
    EXPECT_FALSE(d.generator.kraken.on);
    EXPECT_TRUE(d.generator.turnLag);
    const CommandLine s =
        *parseCommandLine(
             {"--lat", "-20", "--lon", "30", "--stop-every", "0", "--duration", "1.25"}, "/h")
             .options;
    EXPECT_NEAR(distanceMiles(s.generator.route.start, s.generator.transmitter), 3.2, 0.001);
    EXPECT_EQ(s.generator.route.stopEveryMs, kNever);
    EXPECT_EQ(s.schedule.durationMs, 1250);
    const ReplaySettings r =
        parseCommandLine({"--replay-speed", "4", "--replay-rate=8"}, "/h").options->replay;
    EXPECT_EQ(r.speed, 4);
    EXPECT_TRUE(r.rateGiven);
    EXPECT_FALSE(d.replay.rateGiven);
    // --help names every option it accepts.
    const std::string help = helpText();
    for (const char* name :
         {"--folder", "--cable-pull-for", "--replay-timing", "--gps-void-every", "--record",
          "--no-df", "--replay-speed", "--kraken", "--kraken-second-frequency", "--no-turn-lag"}) {
        EXPECT_NE(help.find(name), std::string::npos) << name;
    }
}

// --- the pseudo-terminal -------------------------------------------------------------------

class SimPty : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/kestrel-sim-test-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        m_folder = dir;
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }
    std::string link() const { return m_folder + "/COM3"; }
    std::string m_folder;
};

std::string readAvailable(int fd, int waitMs) {
    std::string out;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, waitMs) > 0 && (p.revents & POLLIN)) {
        char buf[256];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        out.append(buf, static_cast<std::size_t>(n));
        waitMs = 50;
    }
    return out;
}

TEST_F(SimPty, LinksTheDeviceAndDeliversBytesUnchangedOnlyToAListener) {
    std::string error;
    std::unique_ptr<PtyPort> port = PtyPort::open(m_folder, 3, error);
    ASSERT_TRUE(port) << error;
    EXPECT_EQ(std::filesystem::read_symlink(link()).string(), port->devicePath());
    EXPECT_FALSE(port->listening());
    EXPECT_EQ(port->write("lost\r\n"), 6u);  // nobody listens: dropped, not queued

    const int fd = ::open(link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(port->listening());
    EXPECT_EQ(port->write("%123/7\r\n\xff"), 0u);
    EXPECT_EQ(readAvailable(fd, 1000), "%123/7\r\n\xff");  // raw: CR kept, no echo

    port->unplug();
    EXPECT_FALSE(std::filesystem::is_symlink(link()));
    char c;
    EXPECT_LE(::read(fd, &c, 1), 0);  // the listener sees the device go
    ::close(fd);
    ASSERT_TRUE(port->plugIn(error)) << error;
    EXPECT_EQ(std::filesystem::read_symlink(link()).string(), port->devicePath());
    port.reset();
    EXPECT_FALSE(std::filesystem::is_symlink(link()));
}

TEST_F(SimPty, APullMayLeaveTheLinkPointingNowhere) {
    std::string error;
    std::unique_ptr<PtyPort> port = PtyPort::open(m_folder, 3, error);
    ASSERT_TRUE(port) << error;
    const std::string first = port->devicePath();
    port->unplug(true);
    EXPECT_EQ(std::filesystem::read_symlink(link()).string(), first);
    ASSERT_TRUE(port->plugIn(error)) << error;
    EXPECT_EQ(std::filesystem::read_symlink(link()).string(), port->devicePath());
    port->unplug(true);
    port.reset();  // the dangling link goes with the simulator
    EXPECT_FALSE(std::filesystem::is_symlink(link()));
}

TEST_F(SimPty, ReplacesALinkButNeverAFile) {
    std::filesystem::create_symlink("/dev/ttyUSB0", link());
    std::string error;
    {
        std::unique_ptr<PtyPort> port = PtyPort::open(m_folder, 3, error);
        ASSERT_TRUE(port) << error;
        EXPECT_EQ(std::filesystem::read_symlink(link()).string(), port->devicePath());
    }
    // The operator's own link is put back afterwards.
    EXPECT_EQ(std::filesystem::read_symlink(link()).string(), "/dev/ttyUSB0");

    std::filesystem::remove(link());
    std::ofstream(link()) << "keep me";
    EXPECT_FALSE(PtyPort::open(m_folder, 3, error));
    EXPECT_EQ(error, link() + " exists and is not a symbolic link; not replacing it");
    EXPECT_FALSE(PtyPort::open(m_folder + "/missing", 3, error));
    EXPECT_NE(error.find("does not exist"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::sim
