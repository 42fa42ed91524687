// The recorded hunt: the COM line's lines as the window announces them, and the input log that
// writes them with their receive times, and tells of a failing file once.

#include <gtest/gtest.h>

#include "hunt_log/input_log.h"
#include "input_test_support.h"

namespace kestrel::test {
namespace {

struct Heard : HuntObserver {
    void lineReceived(std::string_view input, std::string_view line) override {
        lines.push_back(std::string(input) + ":" + std::string(line));
    }
    std::vector<std::string> lines;
};

// What the window announces when the line brings `chunks`, one port event each.
std::vector<std::string> announced(const std::vector<std::string>& chunks) {
    InputRig rig;
    Heard heard;
    rig.main().addObserver(heard);
    for (const std::string& chunk : chunks) {
        rig.deliver(chunk);
    }
    return heard.lines;
}

TEST(InputLog, ComLineAnnouncesEachCompleteLine) {
    using Lines = std::vector<std::string>;
    const std::string fix = withChecksum(rmc("4807.038,N,01131.000,E,5,84"));
    EXPECT_EQ(announced({fix + "\r\n%045/7\r\n"}), (Lines{"LINE:" + fix, "LINE:%045/7"}));
    EXPECT_EQ(announced({"%04", "5/7", "\r\n@PL", "OT\r"}), (Lines{"LINE:%045/7", "LINE:@PLOT"}));
    EXPECT_EQ(announced({"no end yet"}), Lines{});
    // An empty line (a line end alone) carries nothing and is not announced.
    EXPECT_EQ(announced({"a\rb\r\n\r\n"}), (Lines{"LINE:a", "LINE:b"}));
    EXPECT_EQ(announced({"x\ty\x01\xff\r"}), Lines{"LINE:x\ty\x01\xff"});
    // A run of 5000 characters without a line end is kept to its first 512.
    EXPECT_EQ(announced({std::string(5000, 'g') + "\r"}), Lines{"LINE:" + std::string(512, 'g')});
}

TEST(InputLog, TimesAndPaths) {
    EXPECT_EQ(hunt_log::isoUtcMillisecondsText(1772874303000), "2026-03-07T09:05:03.000Z");
    EXPECT_EQ(hunt_log::isoUtcMillisecondsText(1772874303999), "2026-03-07T09:05:03.999Z");
    EXPECT_EQ(hunt_log::isoUtcMillisecondsText(-1), "1969-12-31T23:59:59.999Z");
    EXPECT_EQ(hunt_log::inputLogPath("/h/Kestrelmap/120726_140509.kml"),
              "/h/Kestrelmap/120726_140509_input.log");
}

struct LogRig {
    FakeFiles files;
    FakeMessageBox messages;
    FakeClock clock;
    hunt_log::InputLog log{files, messages, clock, "/k/1_input.log"};
    void line(int64_t utcMs, std::string_view input, std::string_view text) {
        clock.utcMs = utcMs;
        log.lineReceived(input, text);
    }
    std::string file() { return files.files["/k/1_input.log"]; }
};

TEST(InputLog, WritesEachLineAfterItsEvent) {
    LogRig rig;
    rig.line(1772874303042, "LINE", "$GPRMC,1");
    rig.line(1772874303250, "DF", "%045/7");
    EXPECT_EQ(rig.file(), "");  // held until the event is done
    rig.log.eventHandled();
    rig.line(1772874304001, "GPS", "$GNRMC,2");
    rig.log.eventHandled();
    EXPECT_EQ(rig.file(),
              "2026-03-07T09:05:03.042Z\tLINE\t$GPRMC,1\r\n"
              "2026-03-07T09:05:03.250Z\tDF\t%045/7\r\n"
              "2026-03-07T09:05:04.001Z\tGPS\t$GNRMC,2\r\n");
    EXPECT_EQ(rig.files.writes, 2);
    EXPECT_TRUE(rig.messages.shown.empty());
}

TEST(InputLog, FailuresAreToldOncePerRunAndLoseNothing) {
    LogRig rig;
    rig.files.failAll = true;
    for (int i = 0; i < 3; ++i) {
        rig.line(1772874303000 + i, "LINE", "a" + std::to_string(i));
        rig.log.eventHandled();
    }
    ASSERT_EQ(rig.messages.shown.size(), 1u);
    EXPECT_EQ(rig.messages.shown[0].text,
              "The input log /k/1_input.log could not be written (No space left on device).\n"
              "The lines received are kept (the last megabyte of them) and written as soon as "
              "the file can be written again.");
    rig.files.failAll = false;
    rig.log.eventHandled();
    EXPECT_EQ(rig.file(),
              "2026-03-07T09:05:03.000Z\tLINE\ta0\r\n2026-03-07T09:05:03.001Z\tLINE\ta1\r\n"
              "2026-03-07T09:05:03.002Z\tLINE\ta2\r\n");
    // A new run of failures is told again.
    rig.files.failAll = true;
    rig.line(1772874305000, "LINE", "b");
    rig.log.eventHandled();
    EXPECT_EQ(rig.messages.shown.size(), 2u);
    // While failing, at most the last megabyte is held, cut at a line's start.
    for (int i = 0; i < 40000; ++i) {
        rig.line(1772874306000, "LINE", std::string(30, 'x'));
    }
    EXPECT_LE(rig.log.pendingBytes(), hunt_log::InputLog::kMaxPendingBytes);
    EXPECT_GT(rig.log.pendingBytes(), hunt_log::InputLog::kMaxPendingBytes / 2);
    rig.files.failAll = false;
    rig.log.flush();
    EXPECT_TRUE(rig.file().ends_with(std::string(30, 'x') + "\r\n"));
    EXPECT_EQ(rig.file().substr(rig.file().find("\r\n2026-03-07T09:05:06") + 2, 10), "2026-03-07");
}

TEST(InputLog, QuietStartWritesOnceTheFolderIsThere) {
    LogRig rig;
    rig.log.startQuiet();
    rig.files.failAll = true;
    rig.line(1772874303000, "LINE", "a");
    rig.log.eventHandled();
    EXPECT_TRUE(rig.messages.shown.empty());
    rig.files.failAll = false;
    rig.log.eventHandled();
    EXPECT_EQ(rig.file(), "2026-03-07T09:05:03.000Z\tLINE\ta\r\n");
}

}  // namespace
}  // namespace kestrel::test
