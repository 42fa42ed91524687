#include "live_map/map_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "estimate_hunt.h"

namespace kestrel::live_map {
namespace {

using nlohmann::json;

constexpr double kTxLat = test::EstimateHunt::kTxLat;
constexpr double kTxLon = test::EstimateHunt::kTxLon;

// A hunt of hand-entered plots, the map model watching after the estimate companion, every
// change message kept.
struct MapHunt {
    test::EstimateHunt hunt{true, false};
    HuntEstimate& estimate = *hunt.companion;
    MapModel model{hunt.rig.main(), estimate};
    std::vector<json> messages;

    MapHunt() {
        model.onMessage = [this](const std::string& text) {
            messages.push_back(json::parse(text));
        };
        form().Form_Load();
    }
    Form_Kestrelmap& form() { return hunt.rig.main(); }
    void plotAround(int count, int wildAt = -1) { hunt.plotAround(count, wildAt); }
    json snapshot() { return json::parse(model.snapshotText()); }
};

// Each feature of a document or message by its id.
std::map<std::string, json> byId(const json& features) {
    std::map<std::string, json> out;
    for (const json& feature : features) {
        out[feature.at("id").get<std::string>()] = feature;
    }
    return out;
}

TEST(MapModel, PlotsTheirVerdictsAndTheEstimateReachSnapshotAndMessages) {
    MapHunt hunt;
    ASSERT_FALSE(hunt.messages.empty());
    EXPECT_EQ(hunt.messages.front().at("type"), "hunt");
    EXPECT_EQ(hunt.messages.front().at("stamp"), hunt.form().stamp());

    hunt.plotAround(9, 4);  // the fifth bearing 70 degrees off
    const json snapshot = hunt.snapshot();
    EXPECT_EQ(snapshot.at("revision"), hunt.model.revision());
    EXPECT_EQ(snapshot.at("status"), hunt.form().Label_IDENT.Caption);
    const auto features = byId(snapshot.at("features"));
    for (int row = 1; row <= 9; ++row) {
        const std::string id = std::to_string(row);
        ASSERT_EQ(features.count("plot-" + id), 1u) << row;
        ASSERT_EQ(features.count("bearing-" + id), 1u) << row;
        EXPECT_EQ(features.at("bearing-" + id).at("properties").at("rejected"), row == 5) << row;
        EXPECT_EQ(features.at("plot-" + id).at("properties").at("verdict"),
                  row == 5 ? "rejected" : "used")
            << row;
    }
    ASSERT_EQ(features.count("estimate"), 1u);
    ASSERT_EQ(features.count("ellipse"), 1u);
    EXPECT_EQ(features.at("estimate").at("properties").at("used"), 8);

    // Revisions only grow; every plot's message carries its point, its line and the status.
    int64_t last = 0;
    int plotMessages = 0;
    for (const json& message : hunt.messages) {
        EXPECT_GT(message.at("revision").get<int64_t>(), last);
        last = message.at("revision");
        if (message.at("type") == "features" && message.contains("status")) {
            const auto upserts = byId(message.at("upsert"));
            plotMessages += upserts.count("plot-" + std::to_string(plotMessages + 1)) ? 1 : 0;
        }
    }
    EXPECT_EQ(plotMessages, 9);
    EXPECT_EQ(last, hunt.model.revision());
}

TEST(MapModel, TheCarAndTheLiveBearingFollowThePanel) {
    MapHunt hunt;
    Form_Kestrelmap& f = hunt.form();
    test::readyToPlot(f);
    f.CmdButton_DF_SOURCE.Tag = "DF";
    f.DF_TIMEOUT = 5;
    test::showBearing(f, "123");
    hunt.messages.clear();
    f.afterEvent();
    ASSERT_EQ(hunt.messages.size(), 1u);
    auto upserts = byId(hunt.messages[0].at("upsert"));
    ASSERT_EQ(upserts.count("live-bearing"), 1u);
    EXPECT_EQ(upserts.at("live-bearing").at("properties").at("bearing"), 123);
    ASSERT_EQ(upserts.count("car"), 1u);

    f.afterEvent();  // nothing changed: nothing told
    EXPECT_EQ(hunt.messages.size(), 1u);

    f.DF_TIMEOUT = 0;  // the direction finder went silent
    f.afterEvent();
    ASSERT_EQ(hunt.messages.size(), 2u);
    EXPECT_EQ(hunt.messages[1].at("remove"), json::array({"live-bearing"}));

    for (DigitRegister* reg : f.positionRegisters()) {
        reg->glyph = Glyph::Dash;  // no position: no car
    }
    f.afterEvent();
    ASSERT_EQ(hunt.messages.size(), 3u);
    EXPECT_EQ(hunt.messages[2].at("remove"), json::array({"car"}));
    EXPECT_EQ(byId(hunt.snapshot().at("features")).count("car"), 0u);
}

TEST(MapModel, TeamPlotsTakeTheirVehiclesColour) {
    MapHunt hunt;
    PlotRecord plot;
    plot.plotNumber = 3;
    plot.latitudeDegrees = kTxLat + 0.02;
    plot.longitudeDegrees = kTxLon;
    plot.bearingDegrees = 180;
    hunt.estimate.teamPlotReceived(plot, "blue");
    hunt.model.teamPlotReceived(plot, "blue");
    // Drawn at first in the colour of a vehicle not yet known, then again once it is.
    EXPECT_EQ(byId(hunt.snapshot().at("features")).at("bearing-1").at("properties").at("colour"),
              "#808080");
    team::VehicleState own{"red", {}, std::nullopt, 0};
    team::VehicleState blue{
        "blue",
        {},
        team::TeamPosition{"blue", "h", "2026-12-08T14:21:07Z", kTxLat + 0.01, kTxLon},
        0};
    hunt.model.teamChanged({own, blue});
    const auto features = byId(hunt.snapshot().at("features"));
    const std::string colour = cssColour(std::string(team::paletteColour(0)));
    EXPECT_EQ(features.at("bearing-1").at("properties").at("colour"), colour);
    EXPECT_EQ(features.at("bearing-1").at("properties").at("vehicle"), "blue");
    ASSERT_EQ(features.count("vehicle-blue"), 1u);
    EXPECT_EQ(features.at("vehicle-blue").at("properties").at("colour"), colour);
    EXPECT_EQ(hunt.messages.back().at("type"), "features");
    EXPECT_EQ(byId(hunt.messages.back().at("upsert")).count("bearing-1"), 1u);
}

}  // namespace
}  // namespace kestrel::live_map
