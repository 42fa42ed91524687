// TeamHunt with a fake transport: own plots numbered, journalled and sent in order until the
// broker has them, also across a restart of the program; received plots counted once.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "fake_transport.h"
#include "fakes/fake_platform.h"
#include "plot_rig.h"
#include "team/team_hunt.h"
#include "team/team_status.h"

namespace kestrel::team {
namespace {

const TeamNames kNames{"red", "2026-12-08", "car1"};

PlotRecord record(int number, int bearing) {
    PlotRecord plot;
    plot.plotNumber = number;
    plot.utcMilliseconds = 1796740867000 + static_cast<int64_t>(number) * 1000;
    plot.latitudeDegrees = 39.7 + number * 0.001;
    plot.longitudeDegrees = -104.9;
    plot.bearingDegrees = bearing;
    plot.positionFromGps = true;
    plot.bearingFromDf = true;
    return plot;
}

std::string otherPlot(const std::string& vehicle, int64_t seq) {
    TeamPlot plot = teamPlotFrom(record(static_cast<int>(seq), 10), kNames, seq);
    plot.vehicle = vehicle;
    return encodePlot(plot);
}

std::string topicOf(const std::string& vehicle) {
    return "kestrelmap/red/2026-12-08/" + vehicle + "/plot";
}

int64_t seqOf(const std::string& payload) {
    return std::get<TeamPlot>(decodePlotPayload(payload)).seq;
}

class TeamHuntTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("team_hunt_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        journal = journalPath(m_dir.string() + "/", kNames);
    }
    void TearDown() override {
        hunt.reset();
        std::filesystem::remove_all(m_dir);
    }

    // A new program run on the same journal, its link down.
    void restart() {
        hunt.reset();
        transport = test::FakeTransport();
        hunt = std::make_unique<TeamHunt>(kNames, journal, transport, clock, rig.messages,
                                          panelPosition(rig.main()));
        hunt->onPlotReceived = [this](const TeamPlot& plot) { handedOn.push_back(plot.seq); };
        hunt->start();
    }

    std::vector<int64_t> sentSeqs() const {
        std::vector<int64_t> out;
        for (const std::string& payload : transport.plotPayloads()) {
            out.push_back(seqOf(payload));
        }
        return out;
    }

    std::filesystem::path m_dir;
    std::string journal;
    kestrel::test::FakeClock clock;
    kestrel::test::FakeRig rig;  // the panel and the message box
    test::FakeTransport transport;
    std::unique_ptr<TeamHunt> hunt;
    std::vector<int64_t> handedOn;
};

TEST_F(TeamHuntTest, PlotsMadeWhileDownSurviveRestartsAndGoOutInOrder) {
    restart();
    hunt->plotMade(record(1, 10));
    hunt->plotMade(record(2, 20));
    EXPECT_EQ(hunt->queuedCount(), 2u);
    restart();  // the program ends before the link ever came up
    EXPECT_EQ(hunt->queuedCount(), 2u);
    hunt->plotMade(record(3, 30));  // seq goes on from the journal
    transport.bringUp();
    EXPECT_EQ(sentSeqs(), (std::vector<int64_t>{1, 2, 3}));
    EXPECT_EQ(transport.filters,
              (std::vector<std::string>{"kestrelmap/red/2026-12-08/+/plot",
                                        "kestrelmap/red/2026-12-08/+/position",
                                        "kestrelmap/red/2026-12-08/+/exclusion"}));
    const std::string third = transport.plotPayloads()[2];

    // Two acknowledged; the link drops; a plot is made; the link returns: the unacknowledged
    // ones go again in order, the acknowledged ones never.
    transport.acknowledge(transport.sent[0].id);
    transport.acknowledge(transport.sent[1].id);
    transport.bringDown();
    hunt->plotMade(record(4, 40));
    transport.sent.clear();
    transport.bringUp();
    EXPECT_EQ(sentSeqs(), (std::vector<int64_t>{3, 4}));
    EXPECT_EQ(transport.plotPayloads()[0], third);  // the same bytes again

    // After a restart the journal still knows: 3 and 4 wait, the next plot is 5.
    restart();
    EXPECT_EQ(hunt->queuedCount(), 2u);
    hunt->plotMade(record(5, 50));
    transport.bringUp();
    EXPECT_EQ(sentSeqs(), (std::vector<int64_t>{3, 4, 5}));
    transport.acknowledgeAll();
    EXPECT_EQ(hunt->queuedCount(), 0u);
    EXPECT_EQ(hunt->vehicles().front().plots.size(), 5u);
}

TEST_F(TeamHuntTest, DamagedJournalLinesAreSkippedAndCounted) {
    restart();
    hunt->plotMade(record(1, 10));
    hunt->plotMade(record(2, 20));
    hunt.reset();
    {
        std::string text;
        std::ifstream in(journal, std::ios::binary);
        std::getline(in, text, '\0');
        const size_t second = text.find("\nP\t2");
        text[second + 20] ^= 1;            // a changed byte in the second plot's line
        text += "P\t3\t{\"v\": 1, \"veh";  // a line cut short by a crash
        std::ofstream(journal, std::ios::binary | std::ios::trunc) << text;
    }
    restart();
    EXPECT_EQ(hunt->counters().journalDamagedLines, 2);
    EXPECT_EQ(hunt->queuedCount(), 1u);
    hunt->plotMade(record(3, 30));  // appended on a line of its own after the cut one
    restart();
    EXPECT_EQ(hunt->counters().journalDamagedLines, 2);
    EXPECT_EQ(hunt->queuedCount(), 2u);
}

// A journal that cannot be written is told once per run of failures; the plots still go out.
TEST_F(TeamHuntTest, JournalFailuresToldOncePerRun) {
    journal = (m_dir / "gone" / "car1.journal").string();
    restart();
    transport.bringUp();
    hunt->plotMade(record(1, 10));
    hunt->plotMade(record(2, 20));
    EXPECT_EQ(sentSeqs(), (std::vector<int64_t>{1, 2}));
    ASSERT_EQ(rig.messages.shown.size(), 1u);
    EXPECT_EQ(rig.messages.shown[0].text.rfind(
                  "The team journal " + journal + " could not be written (No such file", 0),
              0u)
        << rig.messages.shown[0].text;
    std::filesystem::create_directories(m_dir / "gone");
    hunt->plotMade(record(3, 30));  // written again: nothing more to tell
    EXPECT_EQ(rig.messages.shown.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(journal));
}

TEST_F(TeamHuntTest, ReceivedPlotsCountOnceAndRejectionsByKind) {
    restart();
    hunt->plotMade(record(1, 10));
    transport.bringUp();
    const std::string own = transport.plotPayloads()[0];
    struct Case {
        std::string topic, payload;
    };
    const Case arrivals[] = {
        {topicOf("car2"), otherPlot("car2", 1)},
        {topicOf("car2"), otherPlot("car2", 1)},  // again: duplicate
        {topicOf("car2"), otherPlot("car2", 2)},
        {topicOf("car3"), otherPlot("car3", 1)},
        {topicOf("car1"), own},                   // our own coming back
        {topicOf("car1"), otherPlot("car1", 9)},  // someone else using our name
        {topicOf("car2"), "{"},
        {topicOf("car2"), std::string(5000, ' ')},
        {topicOf("car2"), otherPlot("car2", 3).replace(6, 1, "2")},  // "v": 2
        {"kestrelmap/blue/2026-12-08/car2/plot", otherPlot("car2", 4)},
        {"kestrelmap/red/2026-12-08/car4/position",
         encodePosition({"car4", "2026-12-08", "2026-12-08T10:00:00Z", 1, 2})},
    };
    for (const Case& c : arrivals) {
        transport.deliver(c.topic, c.payload);
    }
    const TeamCounters& n = hunt->counters();
    EXPECT_EQ(n.received, 3);
    EXPECT_EQ(n.duplicates, 1);
    EXPECT_EQ(n.echoes, 1);
    EXPECT_EQ(n.positions, 1);
    EXPECT_EQ(n.rejected[size_t(Rejection::OwnName)], 1);
    EXPECT_EQ(n.rejected[size_t(Rejection::Malformed)], 1);
    EXPECT_EQ(n.rejected[size_t(Rejection::Oversize)], 1);
    EXPECT_EQ(n.rejected[size_t(Rejection::UnknownVersion)], 1);
    EXPECT_EQ(n.rejected[size_t(Rejection::WrongTopic)], 1);
    EXPECT_EQ(handedOn, (std::vector<int64_t>{1, 2, 1}));
    ASSERT_EQ(hunt->vehicles().size(), 4u);  // car1, car2, car3, car4 in order of appearance
    EXPECT_EQ(hunt->vehicles()[3].name, "car4");
    EXPECT_EQ(hunt->vehicles()[1].lastMessageMs, clock.utcMs);

    // A restarted program still knows them: the broker's second delivery is a duplicate.
    restart();
    transport.bringUp();
    transport.deliver(topicOf("car2"), otherPlot("car2", 2));
    EXPECT_EQ(hunt->counters().duplicates, 1);
    EXPECT_EQ(hunt->counters().received, 0);
    EXPECT_EQ(hunt->vehicles()[1].plots.size(), 2u);
}

TEST_F(TeamHuntTest, OwnPlotsGoOutInRangeForTheReceivers) {
    restart();
    transport.bringUp();
    PlotRecord full = record(1, 360);
    full.quality = 12;
    hunt->plotMade(full);
    const Decoded sent = decodePlotPayload(transport.plotPayloads().at(0));
    ASSERT_TRUE(std::holds_alternative<TeamPlot>(sent));
    EXPECT_EQ(std::get<TeamPlot>(sent).bearingDegrees, 0);
    EXPECT_FALSE(std::get<TeamPlot>(sent).quality);
}

// The position goes while the panel shows one: not before the first fix, nor once the GPS is
// lost and the digits keep the last place under dashes.
TEST_F(TeamHuntTest, PositionEveryTenSecondsWhileThePanelShowsOne) {
    restart();
    transport.bringUp();
    const auto positions = [&]() {
        std::vector<std::string> out;
        for (const auto& s : transport.sent) {
            if (s.topic == "kestrelmap/red/2026-12-08/car1/position" && s.retain) {
                out.push_back(s.payload);
            }
        }
        return out;
    };
    EXPECT_EQ(positions().size(), 0u);
    kestrel::test::showPosition(rig.main(), "3944501045925", "N", "W");
    hunt->tick();
    ASSERT_EQ(positions().size(), 1u);
    EXPECT_NE(positions()[0].find(R"("lat": 39.741667, "lon": -104.987500)"), std::string::npos)
        << positions()[0];
    clock.utcMs += 9499;
    hunt->tick();
    EXPECT_EQ(positions().size(), 1u);
    clock.utcMs += 1;
    hunt->tick();
    EXPECT_EQ(positions().size(), 2u);
    for (DigitRegister* reg : rig.main().positionRegisters()) {
        reg->glyph = Glyph::Dash;
    }
    clock.utcMs += 10000;
    hunt->tick();
    EXPECT_EQ(positions().size(), 2u);
}

// What the instruments window says of the link: the broker, waiting plots, each other vehicle.
TEST_F(TeamHuntTest, StatusTextNamesTheBrokerWaitingPlotsAndEachVehicle) {
    restart();
    hunt->plotMade(record(1, 10));
    EXPECT_EQ(teamStatusText(*hunt, "b:1883", clock.utcMs),
              "broker b:1883: not connected, 1 plot waiting");
    transport.bringUp();
    transport.acknowledgeAll();
    transport.deliver(topicOf("blue"), otherPlot("blue", 1));
    transport.deliver(topicOf("blue"), otherPlot("blue", 2));
    EXPECT_EQ(teamStatusText(*hunt, "b:1883", clock.utcMs + 4500),
              "broker b:1883: connected, 0 plots waiting\nblue: 2 plots, last message 4 s ago");
    struct Case {
        int64_t agoMs;
        const char* text;
    };
    for (const Case& c : {Case{0, "0 s ago"}, Case{119999, "119 s ago"}, Case{120000, "2 min ago"},
                          Case{7200000, "2 h ago"}, Case{-5000, "0 s ago"}}) {
        EXPECT_EQ(ageText(1000, 1000 + c.agoMs), c.text) << c.agoMs;
    }
    EXPECT_EQ(ageText(0, 5000), "no message yet");
}

}  // namespace
}  // namespace kestrel::team
