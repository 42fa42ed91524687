// The team messages: what goes out decodes to what was sent, and everything else that can come
// from the network is refused with its reason. The settings, the team map and the failure
// messages are checked here too.

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>

#include "team/flat_json.h"
#include "team/link_failures.h"
#include "team/team_config.h"
#include "team/team_kml.h"
#include "team/team_message.h"

namespace kestrel::team {
namespace {

const TeamNames kOwn{"red", "2026-12-08", "car1"};
const std::string kTopic = "kestrelmap/red/2026-12-08/car2/plot";

TeamPlot samplePlot() {
    TeamPlot plot;
    plot.vehicle = "car2";
    plot.hunt = "2026-12-08";
    plot.seq = 7;
    plot.plotNumber = 3;
    plot.utc = "2026-12-08T14:21:07Z";
    plot.latitudeDegrees = 39.741667;
    plot.longitudeDegrees = -104.987500;
    plot.bearingDegrees = 42;
    plot.quality = 7;
    plot.positionFromGps = true;
    plot.bearingFromDf = true;
    return plot;
}

// The sample's payload with `from` replaced by `to`.
std::string edited(std::string_view from, std::string_view to) {
    std::string text = encodePlot(samplePlot());
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

std::string outcome(std::string_view topic, std::string_view payload) {
    const Decoded decoded = decodeMessage(kOwn, topic, payload);
    if (const Rejection* rejection = std::get_if<Rejection>(&decoded)) {
        return rejectionName(*rejection);
    }
    return std::holds_alternative<TeamPlot>(decoded) ? "plot" : "position";
}

TEST(TeamMessage, PlotSurvivesTheRoundTripAsWritten) {
    const TeamPlot plot = samplePlot();
    const std::string payload = encodePlot(plot);
    EXPECT_EQ(payload,
              R"({"v": 1, "vehicle": "car2", "hunt": "2026-12-08", "seq": 7, "plot": 3, )"
              R"("utc": "2026-12-08T14:21:07Z", "lat": 39.741667, "lon": -104.987500, )"
              R"("bearing": 42, "quality": 7, "position_source": "GPS", "bearing_source": "DF"})");
    EXPECT_EQ(std::get<TeamPlot>(decodeMessage(kOwn, kTopic, payload)), plot);

    TeamPlot bare = plot;
    bare.bearingDegrees.reset();
    bare.quality.reset();
    bare.positionFromGps = bare.bearingFromDf = false;
    bare.vehicle = "Wagen \"Ä\" \\ <1>";
    const std::string bareText = encodePlot(bare);
    EXPECT_NE(bareText.find(R"("bearing": null, "quality": null, "position_source": "MAN")"),
              std::string::npos);
    const std::string topic = "kestrelmap/red/2026-12-08/" + bare.vehicle + "/plot";
    EXPECT_EQ(std::get<TeamPlot>(decodeMessage(kOwn, topic, bareText)), bare);

    const TeamPosition at{"car2", "2026-12-08", "2026-12-08T14:21:17Z", -33.5, 151.25};
    EXPECT_EQ(std::get<TeamPosition>(decodeMessage(kOwn, "kestrelmap/red/2026-12-08/car2/position",
                                                   encodePosition(at))),
              at);
}

// An own plot is kept as the team and the journal read it back: positions to 6 decimals.
TEST(TeamMessage, OwnPlotKeptAsTheWireCarriesIt) {
    for (const double degrees : {39.74166666, -104.9875004, 12.3456785, -0.0000004, 89.9999996}) {
        PlotRecord record;
        record.plotNumber = 1;
        record.utcMilliseconds = 1796740867000;
        record.latitudeDegrees = std::fmod(degrees, 90);
        record.longitudeDegrees = degrees;
        const TeamPlot own = teamPlotFrom(record, {"red", "2026-12-08", "car1"}, 1);
        EXPECT_EQ(std::get<TeamPlot>(decodePlotPayload(encodePlot(own))), own) << degrees;
    }
}

TEST(TeamMessage, NumbersDoNotFollowTheLocale) {
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "no decimal-comma locale";
    }
    const std::string payload = encodePlot(samplePlot());
    std::setlocale(LC_ALL, "C");
    EXPECT_NE(payload.find("39.741667"), std::string::npos);
}

TEST(TeamMessage, EverythingElseIsRefusedWithItsReason) {
    const std::string good = encodePlot(samplePlot());
    struct Case {
        std::string topic, payload, expected;
    };
    const Case cases[] = {
        {kTopic, good, "plot"},
        {kTopic, good + std::string(4096 - good.size(), ' '), "plot"},
        {kTopic, good + std::string(4097 - good.size(), ' '), "oversize"},
        {kTopic, edited("\"v\": 1", "\"v\": 2"), "unknown version"},
        {kTopic, edited("\"v\": 1", "\"v\": 1.5"), "unknown version"},
        {kTopic, edited("\"v\": 1", "\"v\": \"1\""), "malformed"},
        {kTopic, edited("\"v\": 1, ", ""), "malformed"},
        {kTopic, "", "malformed"},
        {kTopic, "[1]", "malformed"},
        {kTopic, good + "x", "malformed"},
        {kTopic, edited("\"seq\": 7", "\"seq\": 7, \"seq\": 8"), "malformed"},
        {kTopic, edited("\"seq\": 7", "\"seq\": 0"), "malformed"},
        {kTopic, edited("\"seq\": 7", "\"seq\": 7.5"), "malformed"},
        {kTopic, edited("\"seq\": 7", "\"seq\": 1e400"), "malformed"},
        {kTopic, edited("\"plot\": 3", "\"plot\": 100"), "malformed"},
        {kTopic, edited("\"lat\": 39.741667", "\"lat\": 90.5"), "malformed"},
        {kTopic, edited("\"lat\": 39.741667", "\"lat\": null"), "malformed"},
        {kTopic, edited("\"lon\": -104.987500", "\"lon\": -"), "malformed"},
        {kTopic, edited("\"lon\": -104.987500", "\"lon\": 01"), "malformed"},
        {kTopic, edited("\"lon\": -104.987500", "\"lon\": NaN"), "malformed"},
        {kTopic, edited("\"bearing\": 42", "\"bearing\": 360"), "malformed"},
        {kTopic, edited("\"bearing\": 42", "\"bearing\": \"42\""), "malformed"},
        {kTopic, edited("\"quality\": 7", "\"quality\": {}"), "malformed"},
        {kTopic, edited("\"utc\": \"2026-12-08T14:21:07Z\"", "\"utc\": \"yesterday\""),
         "malformed"},
        {kTopic, edited("2026-12-08T14:21:07Z", "2026-13-45T99:99:99Z"), "malformed"},
        {kTopic, edited("2026-12-08T14:21:07Z", "2026-12-08T14:21:07.5Z"), "malformed"},
        {kTopic, edited("\"GPS\"", "\"gps\""), "malformed"},
        {kTopic, edited("\"DF\"", "\"DF\\u0000\""), "malformed"},
        {kTopic, edited("\"DF\"", "\"D\\x\""), "malformed"},
        {kTopic, edited("\"DF\"", "\"\\ud800\""), "malformed"},
        {kTopic, edited("\"DF\"", "\"\xC3\""), "malformed"},
        {kTopic, edited("\"DF\"", "\"D\tF\""), "malformed"},
        {kTopic, edited("\"car2\"", "\"car/2\""), "malformed"},
        {kTopic, edited("\"car2\"", "\"\""), "malformed"},
        {kTopic, edited("\"car2\"", "\"car3\""), "wrong topic"},
        {kTopic, edited("\"hunt\": \"2026-12-08\"", "\"hunt\": \"2026-12-09\""), "wrong topic"},
        {"kestrelmap/blue/2026-12-08/car2/plot", good, "wrong topic"},
        {"kestrelmap/red/2026-12-08/car2/plot/x", good, "wrong topic"},
        {"kestrelmap/red/2026-12-08/car2/chat", good, "wrong topic"},
        {kTopic, edited("\"seq\": 7", "\"seq\": 7, \"extra\": true"), "plot"},
        {kTopic, " \r\n" + edited("\"seq\": 7", "\"seq\" :7e0") + "\t", "plot"},
        {kTopic, edited("\"DF\"", "\"\\u0044\\u0046\""), "plot"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(outcome(c.topic, c.payload), c.expected) << c.payload;
    }
}

TEST(TeamMessage, NamesSafeForTopicsAndFiles) {
    const std::pair<std::string, bool> cases[] = {
        {"car1", true},
        {"Wagen Ä", true},
        {std::string(64, 'x'), true},
        {"", false},
        {std::string(65, 'x'), false},
        {"a+b", false},
        {"a#", false},
        {"a/b", false},
        {std::string("a\0b", 3), false},
        {"tab\there", false},
        {"\xFF", false},
    };
    for (const auto& [name, safe] : cases) {
        EXPECT_EQ(isSafeName(name), safe) << name;
    }
}

// One line a case: keys as "key=value;key=value", then the expected error, or the fields
// "host port tls user password_file ca_file hunt".
std::string configOutcome(std::string_view text) {
    TeamKeys keys;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find(';', start), text.size());
        const std::string_view pair = text.substr(start, end - start);
        const size_t eq = pair.find('=');
        keys[std::string(pair.substr(0, eq))] = std::string(pair.substr(eq + 1));
        start = end + 1;
    }
    const TeamConfigResult result = parseTeamConfig(keys, "/home/u/Kestrelmap/", 1796740867000);
    if (!result.config) {
        return result.error;
    }
    const TeamConfig& c = *result.config;
    if (!c.enabled) {
        return "off";
    }
    return c.brokerHost + " " + std::to_string(c.brokerPort) + " " + (c.tls ? "tls" : "plain") +
           " " + c.user + " " + c.passwordFile + " " + c.caFile + " " + c.names.hunt;
}

TEST(TeamConfigTest, KeysCheckedAndCompleted) {
    const std::string base = "name=red;vehicle=car1;";
    const std::pair<std::string, std::string> cases[] = {
        {"", "off"},
        {"vehicle=car1", "off"},
        {base + "broker=mqtt.example.org", "mqtt.example.org 8883 tls car1   2026-12-08"},
        {base + "broker=127.0.0.1", "127.0.0.1 1883 plain car1   2026-12-08"},
        {base + "broker=localhost:1999;tls=TRUE;ca_file=ca.pem",
         "localhost 1999 tls car1  /home/u/Kestrelmap/ca.pem 2026-12-08"},
        {base + "broker=[::1]:2000", "::1 2000 plain car1   2026-12-08"},
        {base + "broker=h;tls=false;user=bob;password_file=/etc/pw;hunt=night",
         "h 1883 plain bob /etc/pw  night"},
        {base + "broker=h;password_file=pw.txt",
         "h 8883 tls car1 /home/u/Kestrelmap/pw.txt  2026-12-08"},
        {"name=red;broker=h", "Kestrelmap.conf [team] vehicle: is missing"},
        {base, "Kestrelmap.conf [team] broker: is missing (host or host:port)"},
        {base + "broker=h:0", "Kestrelmap.conf [team] broker: \"h:0\" is not host or host:port"},
        {base + "broker=h:99999",
         "Kestrelmap.conf [team] broker: \"h:99999\" is not host or host:port"},
        {base + "broker=h:", "Kestrelmap.conf [team] broker: \"h:\" is not host or host:port"},
        {base + "broker=::1", "Kestrelmap.conf [team] broker: \"::1\" is not host or host:port"},
        {base + "broker=[::1", "Kestrelmap.conf [team] broker: \"[::1\" is not host or host:port"},
        {base + "broker=u@h", "Kestrelmap.conf [team] broker: \"u@h\" is not host or host:port"},
        {base + "broker=h;tls=yes", "Kestrelmap.conf [team] tls: must be true or false"},
        {base + "broker=h;passwd=x", "Kestrelmap.conf [team] passwd: unknown key"},
        {"name=re+d;vehicle=car1;broker=h",
         "Kestrelmap.conf [team] name: must be 1 to 64 characters without \"+\", \"#\", \"/\" "
         "or control characters"},
        {base + "broker=h;hunt=a/b",
         "Kestrelmap.conf [team] hunt: must be 1 to 64 characters without \"+\", \"#\", \"/\" "
         "or control characters"},
    };
    for (const auto& [keys, expected] : cases) {
        EXPECT_EQ(configOutcome(keys), expected) << keys;
    }
}

TEST(TeamConfigTest, CommandLineOverridesWorkOutTheDefaultsAgain) {
    const TeamKeys keys{{"name", "red"}, {"vehicle", "car1"}, {"broker", "127.0.0.1"}};
    TeamOverrides overrides;
    overrides.broker = "mqtt.example.org";
    overrides.vehicle = "car9";
    const TeamConfig changed = *parseTeamConfig(withOverrides(keys, overrides), "/k/", 0).config;
    EXPECT_EQ(changed.brokerPort, 8883);
    EXPECT_TRUE(changed.tls);
    EXPECT_EQ(changed.user, "car9");
    EXPECT_EQ(changed.names.hunt, "1970-01-01");
    // A broker the file gets wrong is mended by --broker.
    TeamOverrides broker;
    broker.broker = "127.0.0.1:1999";
    const TeamConfigResult mended = parseTeamConfig(
        withOverrides({{"name", "red"}, {"vehicle", "car1"}, {"broker", "h:0"}}, broker), "/k/", 0);
    ASSERT_TRUE(mended.config) << mended.error;
    EXPECT_EQ(mended.config->brokerPort, 1999);

    TeamOverrides enable;
    enable.team = "blue";
    enable.vehicle = "v";
    enable.broker = "b";
    EXPECT_TRUE(parseTeamConfig(withOverrides({}, enable), "/k/", 0).config->enabled);
    enable.vehicle = "v#";
    EXPECT_NE(parseTeamConfig(withOverrides({}, enable), "/k/", 0).error.find("vehicle"),
              std::string::npos);
    EXPECT_EQ(passwordFromFileText("s3cret\r\nrest"), "s3cret");
    EXPECT_FALSE(passwordFromFileText("\n"));
}

TEST(TeamMap, FoldersColoursAndEscapedNames) {
    TeamPlot own = samplePlot();
    own.vehicle = "car1";
    TeamPlot other = samplePlot();
    other.vehicle = "<b>&\"'";
    other.bearingDegrees = 90;
    TeamPlot noLine = other;
    noLine.seq = other.seq + 1;
    noLine.bearingDegrees.reset();
    const std::vector<VehicleState> vehicles = {
        {"car1", {{own.seq, own}}, std::nullopt, 0},
        {other.vehicle,
         {{other.seq, other}, {noLine.seq, noLine}},
         TeamPosition{other.vehicle, "h", "u", 1.5, 2.5},
         0},
        {"third", {}, TeamPosition{"third", "h", "u", 3, 4}, 0},
    };
    const std::string doc = teamKmlDocument(vehicles, "car1", "ff112233");
    EXPECT_NE(doc.find("<name>&lt;b&gt;&amp;&quot;&apos;</name>"), std::string::npos);
    EXPECT_EQ(doc.find("<b>"), std::string::npos);
    const size_t ownColour = doc.find("ff112233");
    const size_t first = doc.find(std::string(paletteColour(0)));
    const size_t second = doc.find(std::string(paletteColour(1)));
    EXPECT_LT(ownColour, first);
    EXPECT_LT(first, second);
    EXPECT_NE(paletteColour(0), paletteColour(1));
    EXPECT_EQ(paletteColour(8), paletteColour(0));
    // Two lines (the plot without a bearing draws none), three folders, CR LF throughout.
    EXPECT_EQ(std::count(doc.begin(), doc.end(), '\n'), std::count(doc.begin(), doc.end(), '\r'));
    size_t lines = 0;
    for (size_t at = doc.find("<LineString>"); at != std::string::npos;
         at = doc.find("<LineString>", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 2u);
    // Due east from the sample place, 2 miles (3218.688 m) on the ellipsoid: 0.037551 degrees
    // of longitude at 39.74 degrees north (the prime vertical radius there: 6386.9 km).
    EXPECT_NE(doc.find("-104.987500,39.741667,0\r\n-104.949949,39.741661,0"), std::string::npos)
        << doc;
}

TEST(TeamLinkFailures, OneMessagePerKindUntilConnected) {
    LinkFailures failures;
    EXPECT_TRUE(failures.failed(LinkFailure::Unreachable, "h:1883", "Connection refused"));
    EXPECT_FALSE(failures.failed(LinkFailure::Unreachable, "h:1883", "Connection refused"));
    const auto login = failures.failed(LinkFailure::LoginRefused, "h:1883", "not authorised");
    ASSERT_TRUE(login);
    EXPECT_NE(login->find("h:1883"), std::string::npos);
    EXPECT_NE(login->find("not authorised"), std::string::npos);
    failures.connected();
    EXPECT_TRUE(failures.failed(LinkFailure::Unreachable, "h:1883", ""));
}

}  // namespace
}  // namespace kestrel::team
