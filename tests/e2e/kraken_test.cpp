// The SDR direction finder on the network as the bearing source, through the real program:
// kestrel-sim plays the GPS on COM1 and, as a second process, the Kraken's DSP software on a
// loopback port, so that the Kraken alone can be stopped and started again while the GPS goes on.
// Checked on the panel's digits, on the plot log and on the input log.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

#include "app/hunt_events.h"
#include "e2e/session.h"
#include "free_port.h"

namespace kestrel::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> fields;
    std::istringstream in(text);
    for (std::string field; std::getline(in, field, separator);) {
        fields.push_back(field);
    }
    return fields;
}

std::string simPath() {
    const char* path = std::getenv("KESTREL_E2E_SIM");
    return path != nullptr ? path : "";
}

// The Kraken alone: no serial bytes (the stream goes to its log), stamps from the wall clock
// as the real DSP software's are, so that a restarted server's bearings count as new.
Child startKraken(const Session& s, uint16_t port) {
    const fs::path log = s.home() / "kraken-sim.log";
    std::ofstream(log, std::ios::trunc).flush();
    Child kraken(SpawnOptions{{simPath(), "--stdout", "--no-gps", "--no-df", "--no-stops",
                               "--wall-clock", "--seed", "7", "--kraken", std::to_string(port)},
                              {},
                              log.string()});
    const Clock::time_point end = Clock::now() + 5s;
    while (readLines(log).empty() && Clock::now() < end) {
        std::this_thread::sleep_for(20ms);
    }
    return kraken;
}

// The last three registers: the bearing.
std::string bearingShown(const std::string& panel) {
    return panel.size() >= 3 ? panel.substr(panel.size() - 3) : panel;
}
bool isNumber(const std::string& text) {
    return text.size() == 3 && text.find_first_not_of("0123456789") == std::string::npos;
}

// Reads the panel until its bearing shows digits (`digits`) or dashes; the last reading.
std::string waitBearing(Session& s, bool digits, std::chrono::milliseconds timeout) {
    const Clock::time_point end = Clock::now() + timeout;
    std::string shown = s.panel();
    while ((digits ? !isNumber(bearingShown(shown)) : bearingShown(shown) != "---") &&
           Clock::now() < end) {
        std::this_thread::sleep_for(100ms);
        shown = s.panel();
    }
    return shown;
}

// The plot log's rows as column name -> value.
using Row = std::map<std::string, std::string>;
std::vector<Row> plotRows(const Session& s) {
    const std::vector<std::string> lines = readLines(s.folder() / "Current_Plots.csv");
    std::vector<Row> rows;
    if (lines.empty()) {
        return rows;
    }
    const std::vector<std::string> header = split(lines[0], ',');
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> fields = split(lines[i], ',');
        Row row;
        for (std::size_t c = 0; c < header.size(); ++c) {
            row[header[c]] = c < fields.size() ? fields[c] : "";
        }
        rows.push_back(row);
    }
    return rows;
}

// The Kraken lines of the input log ("<stamp>\tKRAKEN\t<answer line>"): stamp and fields.
struct KrakenLogged {
    int64_t utcMs = 0;
    std::vector<std::string> fields;
};
std::vector<KrakenLogged> krakenLines(const Session& s) {
    std::vector<KrakenLogged> found;
    for (const auto& entry : fs::directory_iterator(s.folder())) {
        if (!entry.path().string().ends_with("_input.log")) {
            continue;
        }
        for (const std::string& line : readLines(entry.path())) {
            const std::vector<std::string> parts = split(line, '\t');
            if (parts.size() == 3 && parts[1] == "KRAKEN") {
                found.push_back(
                    {utcMillisecondsFromIso(parts[0]).value_or(0), split(parts[2], ',')});
            }
        }
    }
    return found;
}

double number(const std::string& text) {
    return text.empty() ? NAN : std::strtod(text.c_str(), nullptr);
}

// A plot by the space bar, and its row checked against the Kraken line the program had taken
// last before it: the line of the same confidence and power logged last by then.
void plotAndCheck(Session& s, int offsetDeg) {
    const std::size_t before = plotRows(s).size();
    s.keys({"space"});
    const Clock::time_point end = Clock::now() + 3s;
    std::vector<Row> rows = plotRows(s);
    while (rows.size() <= before && Clock::now() < end) {
        std::this_thread::sleep_for(50ms);
        rows = plotRows(s);
    }
    ASSERT_EQ(rows.size(), before + 1) << "the space bar made no plot";
    const int64_t seenMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
    Row plot = rows.back();
    EXPECT_EQ(plot["bearing_source"], "DF");
    EXPECT_EQ(plot["frequency_hz"], "146520000");
    const double confidence = number(plot["confidence"]);
    const double power = number(plot["power_db"]);
    ASSERT_FALSE(std::isnan(confidence) || std::isnan(power))
        << "confidence \"" << plot["confidence"] << "\", power \"" << plot["power_db"] << "\"";

    std::this_thread::sleep_for(300ms);  // the input log is written after each event
    const KrakenLogged* taken = nullptr;
    const std::vector<KrakenLogged> logged = krakenLines(s);
    for (const KrakenLogged& line : logged) {
        if (line.utcMs <= seenMs && line.fields.size() == 377 &&
            std::abs(number(line.fields[2]) - confidence) < 0.05 &&
            std::abs(number(line.fields[3]) - power) < 0.05) {
            taken = &line;
        }
    }
    ASSERT_NE(taken, nullptr) << "no KRAKEN line of confidence " << confidence << " and power "
                              << power << " in the input log (" << logged.size() << " lines)";
    const int relative = (std::stoi(taken->fields[1]) + offsetDeg + 360) % 360;
    EXPECT_EQ(plot["relative"], std::to_string(relative)) << "served " << taken->fields[1];
    EXPECT_EQ(plot["bearing"], std::to_string((std::stoi(plot["course"]) + relative) % 360));
    EXPECT_EQ(plot["quality"], std::to_string(int(confidence) / 10));
}

TEST(E2e, KrakenBearingsOnThePanelInThePlotsAndStaleWhenItStops) {
    Session s;
    const uint16_t port = test::freePort();
    ASSERT_NE(port, 0);
    Child gps(SpawnOptions{
        {simPath(), "--folder", s.folder().string(), "--seed", "7", "--no-df", "--no-stops"},
        {},
        (s.home() / "gps-sim.log").string()});
    Child kraken = startKraken(s, port);
    const Clock::time_point t0 = Clock::now();
    while (!fs::is_symlink(s.folder() / "COM1") && Clock::now() - t0 < 5s) {
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(fs::is_symlink(s.folder() / "COM1")) << "kestrel-sim made no COM1";

    // `--df kraken:...` on the command line: the session starts the program through a script
    // that adds it.
    const char* program = std::getenv("KESTREL_E2E_PROGRAM");
    ASSERT_NE(program, nullptr) << "KESTREL_E2E_PROGRAM is not set (CTest sets it)";
    const std::string realProgram = program;
    const fs::path wrapper = s.home() / "kestrelmap-kraken";
    std::ofstream(wrapper) << "#!/bin/sh\nexec '" << realProgram
                           << "' --df kraken:127.0.0.1:" << port << " \"$@\"\n";
    fs::permissions(wrapper, fs::perms::owner_all);
    ::setenv("KESTREL_E2E_PROGRAM", wrapper.c_str(), 1);
    s.startProgram();
    ::setenv("KESTREL_E2E_PROGRAM", realProgram.c_str(), 1);
    s.click("CmdButton_POSIT_SOURCE");
    s.click("CmdButton_DF_SOURCE");
    std::string shown = waitBearing(s, true, 5s);
    ASSERT_TRUE(isNumber(bearingShown(shown))) << "no Kraken bearing on the panel: " << shown;
    plotAndCheck(s, 0);

    // The Kraken stops: the operator is told once (the box hides the panel until OK), the last
    // bearing stays while fresh, then dashes; the GPS goes on.
    kraken.stop();
    const Clock::time_point stopped = Clock::now();
    const std::optional<WindowId> box = s.x().waitWindow(kMessageTitle, 4s);
    ASSERT_TRUE(box) << "no message when the Kraken stopped answering";
    s.x().keys(*box, {"Return"});
    ASSERT_TRUE(s.x().waitWindowGone(*box, 3s));
    shown = waitBearing(s, false, 13s);
    const double staleAfter = std::chrono::duration<double>(Clock::now() - stopped).count();
    std::cout << "e2e: dashes " << staleAfter << " s after the Kraken stopped\n";
    EXPECT_EQ(bearingShown(shown), "---") << shown;
    EXPECT_GE(staleAfter, 8.0) << "dashes came too early";
    EXPECT_LE(staleAfter, 12.5) << "dashes came too late";
    EXPECT_EQ(shown.find('-'), shown.size() - 3) << "the position went stale too: " << shown;
    s.screenshot("kraken-stopped");
    ASSERT_TRUE(s.program().running());
    EXPECT_TRUE(s.x().search(kMessageTitle).empty()) << "told again while still failing";

    // Started again: bearings come back within the second of retrying, and plot again.
    kraken = startKraken(s, port);
    shown = waitBearing(s, true, 5s);
    ASSERT_TRUE(isNumber(bearingShown(shown))) << "no bearing after the restart: " << shown;
    plotAndCheck(s, 0);

    // The Kraken from Kestrelmap.conf alone, its array turned 90 degrees right of the nose.
    s.program().stop();
    std::ofstream(s.folder() / "Kestrelmap.conf", std::ios::trunc)
        << "[instruments]\ndf = kraken\ndf_kraken = 127.0.0.1:" << port
        << "\ndf_frequency = 146520000\ndf_array_offset = 90\n";
    s.startProgram();
    s.click("CmdButton_POSIT_SOURCE");
    s.click("CmdButton_DF_SOURCE");
    shown = waitBearing(s, true, 5s);
    ASSERT_TRUE(isNumber(bearingShown(shown))) << "no bearing from Kestrelmap.conf: " << shown;
    plotAndCheck(s, 90);
    s.screenshot("kraken-offset");
}

}  // namespace
}  // namespace kestrel::e2e
