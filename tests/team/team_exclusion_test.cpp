// Plots left out of the fix by hand, with a fake transport: own changes go out once each after
// their plot, also across outages and restarts; the team's are applied once, the latest rev for
// a plot winning, also when one comes before its plot.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <utility>

#include "fake_transport.h"
#include "fakes/fake_platform.h"
#include "plot_rig.h"
#include "team/team_hunt.h"

namespace kestrel::team {
namespace {

const TeamNames kNames{"red", "2026-12-08", "car1"};

PlotRecord record(int number) {
    PlotRecord plot;
    plot.plotNumber = number;
    plot.utcMilliseconds = 1796740867000 + static_cast<int64_t>(number) * 1000;
    plot.latitudeDegrees = 39.7;
    plot.longitudeDegrees = -104.9;
    plot.bearingDegrees = number * 10;
    return plot;
}

std::string topicOf(const std::string& vehicle, const std::string& kind) {
    return "kestrelmap/red/2026-12-08/" + vehicle + "/" + kind;
}

std::string plotOf(const std::string& vehicle, int64_t seq) {
    TeamPlot plot = teamPlotFrom(record(static_cast<int>(seq)), kNames, seq);
    plot.vehicle = vehicle;
    return encodePlot(plot);
}

std::string exclusionOf(const std::string& vehicle, int64_t seq, bool excluded, int64_t rev) {
    return encodeExclusion({vehicle, kNames.hunt, seq, excluded, rev, "2026-12-08T15:00:00Z"});
}

class TeamExclusionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("team_exclusion_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        restart();
    }
    void TearDown() override {
        hunt.reset();
        std::filesystem::remove_all(m_dir);
    }

    // A new program run on the same journal, its link down.
    void restart() {
        hunt.reset();
        transport = test::FakeTransport();
        m_seen = 0;
        hunt =
            std::make_unique<TeamHunt>(kNames, journalPath(m_dir.string() + "/", kNames), transport,
                                       clock, rig.messages, panelPosition(rig.main()));
        hunt->onPlotReceived = [this](const TeamPlot& plot) {
            told.push_back("plot " + plot.vehicle + " " + std::to_string(plot.seq));
        };
        hunt->onExclusionReceived = [this](const std::string& vehicle, int64_t seq, bool out) {
            told.push_back(vehicle + " " + std::to_string(seq) + (out ? " out" : " in"));
        };
        hunt->start();
    }

    // What went out since the last call, as "plot <seq>" and "<seq> out|in <rev>".
    std::vector<std::string> newlySent() {
        std::vector<std::string> out;
        for (; m_seen < transport.sent.size(); ++m_seen) {
            const auto& sent = transport.sent[m_seen];
            const Decoded plot = decodePlotPayload(sent.payload);
            const Decoded change = decodeExclusionPayload(sent.payload);
            if (const auto* p = std::get_if<TeamPlot>(&plot)) {
                EXPECT_EQ(sent.topic, topicOf("car1", "plot"));
                out.push_back("plot " + std::to_string(p->seq));
            } else if (const auto* x = std::get_if<TeamExclusion>(&change)) {
                EXPECT_EQ(sent.topic, topicOf("car1", "exclusion"));
                EXPECT_TRUE(sent.qos == 1 && !sent.retain);
                out.push_back(std::to_string(x->seq) + (x->excluded ? " out " : " in ") +
                              std::to_string(x->rev));
            }
        }
        return out;
    }
    std::vector<std::string> newlyTold() { return std::exchange(told, {}); }
    void bringUp() { transport.bringUp(); }

    std::filesystem::path m_dir;
    kestrel::test::FakeClock clock;
    kestrel::test::FakeRig rig;
    test::FakeTransport transport;
    std::unique_ptr<TeamHunt> hunt;
    std::vector<std::string> told;
    size_t m_seen = 0;
};

using Lines = std::vector<std::string>;

TEST_F(TeamExclusionTest, OwnChangesGoOutOnceEachAfterTheirPlot) {
    EXPECT_EQ(hunt->lastOwnSeq(), 0);
    bringUp();
    hunt->plotMade(record(1));
    hunt->plotMade(record(2));
    EXPECT_EQ(hunt->lastOwnSeq(), 2);
    EXPECT_EQ(newlySent(), (Lines{"plot 1", "plot 2"}));
    EXPECT_EQ(transport.filters.back(), "kestrelmap/red/2026-12-08/+/exclusion");
    struct Case {
        int64_t seq;
        bool excluded, accepted;
        Lines sent;
    };
    const Case cases[] = {
        {1, true, true, {"1 out 1"}}, {1, true, false, {}},  // again: nothing new
        {1, false, true, {"1 in 2"}}, {1, false, false, {}}, {2, false, false, {}},
        {3, true, false, {}},         {0, true, false, {}},  // no such plot
        {2, true, true, {"2 out 3"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hunt->setOwnExclusion(c.seq, c.excluded), c.accepted) << c.seq;
        EXPECT_EQ(newlySent(), c.sent) << c.seq << c.excluded;
        EXPECT_EQ(hunt->isExcluded("car1", c.seq), c.excluded && c.seq >= 1 && c.seq <= 2);
    }
    EXPECT_EQ(hunt->ownExclusion(3), std::nullopt);

    // Made while the link is down: the plot goes first, its exclusion after it.
    transport.acknowledgeAll();
    transport.bringDown();
    hunt->plotMade(record(3));
    EXPECT_TRUE(hunt->setOwnExclusion(3, true));
    EXPECT_EQ(hunt->queuedExclusionCount(), 1u);
    bringUp();
    EXPECT_EQ(newlySent(), (Lines{"plot 3", "3 out 4"}));
}

// Unacknowledged changes go again after an outage and after a restart; the state and the rev
// go on from the journal; our own changes coming back are echoes, others under our name not.
TEST_F(TeamExclusionTest, OwnChangesSurviveOutagesAndRestarts) {
    hunt->plotMade(record(1));
    hunt->plotMade(record(2));
    bringUp();
    EXPECT_TRUE(hunt->setOwnExclusion(1, true));
    transport.acknowledgeAll();
    EXPECT_TRUE(hunt->setOwnExclusion(2, true));  // sent, never acknowledged
    transport.bringDown();
    EXPECT_EQ(newlySent(), (Lines{"plot 1", "plot 2", "1 out 1", "2 out 2"}));
    EXPECT_TRUE(hunt->setOwnExclusion(1, false));
    EXPECT_EQ(hunt->queuedExclusionCount(), 2u);
    bringUp();
    EXPECT_EQ(newlySent(), (Lines{"2 out 2", "1 in 3"}));

    restart();
    EXPECT_EQ(hunt->lastOwnSeq(), 2);
    EXPECT_EQ(hunt->ownExclusion(1), false);
    EXPECT_EQ(hunt->ownExclusion(2), true);
    EXPECT_FALSE(hunt->setOwnExclusion(2, true));
    bringUp();
    EXPECT_EQ(newlySent(), (Lines{"2 out 2", "1 in 3"}));
    const std::string echo = transport.sent.back().payload;
    transport.acknowledgeAll();
    EXPECT_EQ(hunt->queuedExclusionCount(), 0u);
    EXPECT_TRUE(hunt->setOwnExclusion(2, false));
    EXPECT_EQ(newlySent(), (Lines{"2 in 4"}));

    transport.deliver(topicOf("car1", "exclusion"), echo);
    transport.deliver(topicOf("car1", "exclusion"), exclusionOf("car1", 1, true, 3));
    EXPECT_EQ(hunt->counters().echoes, 1);
    EXPECT_EQ(hunt->counters().rejected[size_t(Rejection::OwnName)], 1);
    EXPECT_EQ(hunt->ownExclusion(1), false);
    EXPECT_TRUE(newlyTold().empty());
    restart();
    bringUp();
    EXPECT_EQ(newlySent(), (Lines{"2 in 4"}));  // the one never acknowledged
}

// One line a message from the team and what the hunt tells of it.
TEST_F(TeamExclusionTest, TeamChangesAppliedOnceTheLatestWinning) {
    bringUp();
    struct Case {
        std::string vehicle, kind;
        int64_t seq;
        bool excluded;
        int64_t rev;
        Lines told;
    };
    const Case cases[] = {
        {"car2", "plot", 1, false, 0, {"plot car2 1"}},
        {"car2", "plot", 2, false, 0, {"plot car2 2"}},
        {"car2", "exclusion", 1, true, 1, {"car2 1 out"}},
        {"car2", "exclusion", 1, true, 1, {}},  // the broker's second delivery
        {"car2", "exclusion", 1, false, 3, {"car2 1 in"}},
        {"car2", "exclusion", 1, true, 2, {}},   // older, came late
        {"car2", "exclusion", 2, false, 4, {}},  // newer, but nothing changes
        {"car2", "exclusion", 2, true, 5, {"car2 2 out"}},
        {"car3", "exclusion", 1, true, 1, {}},  // before its plot: kept
        {"car3", "exclusion", 2, true, 2, {}},
        {"car3", "exclusion", 2, false, 3, {}},
        {"car3", "plot", 1, false, 0, {"plot car3 1", "car3 1 out"}},
        {"car3", "plot", 2, false, 0, {"plot car3 2"}},
        {"car4", "exclusion", 1, true, 1, {}},  // its plot comes after a restart
    };
    for (const Case& c : cases) {
        transport.deliver(topicOf(c.vehicle, c.kind),
                          c.kind == "plot" ? plotOf(c.vehicle, c.seq)
                                           : exclusionOf(c.vehicle, c.seq, c.excluded, c.rev));
        EXPECT_EQ(newlyTold(), c.told) << c.vehicle << " " << c.kind << " rev " << c.rev;
    }
    transport.deliver(topicOf("car2", "exclusion"), "{\"v\": 1}");
    EXPECT_EQ(hunt->counters().exclusions, 8);
    EXPECT_EQ(hunt->counters().duplicates, 2);
    EXPECT_EQ(hunt->counters().rejected[size_t(Rejection::Malformed)], 1);
    EXPECT_EQ(hunt->vehicles()[1].lastMessageMs, clock.utcMs);

    restart();
    bringUp();
    const std::pair<std::string, int64_t> excluded[] = {{"car2", 2}, {"car3", 1}};
    for (const auto& [vehicle, seq] : excluded) {
        EXPECT_TRUE(hunt->isExcluded(vehicle, seq)) << vehicle << seq;
    }
    EXPECT_FALSE(hunt->isExcluded("car2", 1) || hunt->isExcluded("car3", 2) ||
                 hunt->isExcluded("car4", 1));
    transport.deliver(topicOf("car2", "exclusion"), exclusionOf("car2", 1, true, 2));
    transport.deliver(topicOf("car4", "plot"), plotOf("car4", 1));
    EXPECT_EQ(newlyTold(), (Lines{"plot car4 1", "car4 1 out"}));
    EXPECT_EQ(hunt->counters().duplicates, 1);
    EXPECT_FALSE(hunt->isExcluded("car2", 1));
}

}  // namespace
}  // namespace kestrel::team
