// The team messages: what goes out decodes to what was sent, and everything else that can come
// from the network is refused with its reason. The settings, the team map and the failure
// messages are checked here too, and the flat JSON reader and writer under them.

#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

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
    if (std::holds_alternative<TeamExclusion>(decoded)) {
        return "exclusion";
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

const std::string kExclusionTopic = "kestrelmap/red/2026-12-08/car2/exclusion";

TeamExclusion sampleExclusion() {
    return TeamExclusion{"car2", "2026-12-08", 7, true, 3, "2026-12-08T14:25:00Z"};
}

TEST(TeamMessage, ExclusionSurvivesTheRoundTripAsWritten) {
    const TeamExclusion excluded = sampleExclusion();
    const std::string payload = encodeExclusion(excluded);
    EXPECT_EQ(payload, R"({"v": 1, "vehicle": "car2", "hunt": "2026-12-08", "seq": 7, )"
                       R"("excluded": true, "rev": 3, "utc": "2026-12-08T14:25:00Z"})");
    EXPECT_EQ(std::get<TeamExclusion>(decodeMessage(kOwn, kExclusionTopic, payload)), excluded);
    TeamExclusion used = excluded;
    used.excluded = false;
    used.rev = 9007199254740992;
    used.vehicle = "Wagen \"Ä\"";
    const std::string topic = "kestrelmap/red/2026-12-08/" + used.vehicle + "/exclusion";
    EXPECT_EQ(std::get<TeamExclusion>(decodeMessage(kOwn, topic, encodeExclusion(used))), used);
    EXPECT_EQ(std::get<TeamExclusion>(decodeExclusionPayload(encodeExclusion(used))), used);
    EXPECT_EQ(exclusionTopic(kOwn), "kestrelmap/red/2026-12-08/car1/exclusion");
    EXPECT_EQ(exclusionFilter(kOwn), "kestrelmap/red/2026-12-08/+/exclusion");
}

// The exclusion sample's payload with `from` replaced by `to`.
std::string editedExclusion(std::string_view from, std::string_view to) {
    std::string text = encodeExclusion(sampleExclusion());
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

// Exactly the seven members, each of its type and range, under the topic of its vehicle.
TEST(TeamMessage, ExclusionRefusedUnlessExactlyAsWritten) {
    const std::string good = encodeExclusion(sampleExclusion());
    const auto e = editedExclusion;
    struct Case {
        std::string topic, payload, expected;
    };
    const Case cases[] = {
        {kExclusionTopic, good, "exclusion"},
        {kExclusionTopic, e("true", "false"), "exclusion"},
        {kExclusionTopic, " " + e("\"rev\": 3", "\"rev\" :3.0e0") + "\n", "exclusion"},
        {kExclusionTopic, good + std::string(4097 - good.size(), ' '), "oversize"},
        {kExclusionTopic, e("\"v\": 1", "\"v\": 2"), "unknown version"},
        {kExclusionTopic, e("\"v\": 1, ", ""), "malformed"},
        {kExclusionTopic, e("\"seq\": 7", "\"seq\": 0"), "malformed"},
        {kExclusionTopic, e("\"seq\": 7", "\"seq\": -7"), "malformed"},
        {kExclusionTopic, e("\"seq\": 7", "\"seq\": 7.5"), "malformed"},
        {kExclusionTopic, e("\"seq\": 7", "\"seq\": \"7\""), "malformed"},
        {kExclusionTopic, e("\"seq\": 7", "\"seq\": 9007199254740994"), "malformed"},
        {kExclusionTopic, e("\"seq\": 7, ", ""), "malformed"},
        {kExclusionTopic, e("\"rev\": 3", "\"rev\": 0"), "malformed"},
        {kExclusionTopic, e("\"rev\": 3", "\"rev\": 2.5"), "malformed"},
        {kExclusionTopic, e("\"rev\": 3", "\"rev\": null"), "malformed"},
        {kExclusionTopic, e("\"rev\": 3, ", ""), "malformed"},
        {kExclusionTopic, e("true", "1"), "malformed"},
        {kExclusionTopic, e("true", "\"true\""), "malformed"},
        {kExclusionTopic, e("true", "null"), "malformed"},
        {kExclusionTopic, e("\"excluded\": true, ", ""), "malformed"},
        {kExclusionTopic, e("\"rev\": 3", "\"rev\": 3, \"extra\": 1"), "malformed"},
        {kExclusionTopic, e("\"rev\": 3", "\"rev\": 3, \"rev\": 4"), "malformed"},
        {kExclusionTopic, e("\"seq\": 7", "\"seq\": 7, \"plot\": 3"), "malformed"},
        {kExclusionTopic, e("2026-12-08T14:25:00Z", "2026-12-08T25:00:00Z"), "malformed"},
        {kExclusionTopic, e("\"car2\"", "\"car+2\""), "malformed"},
        {kExclusionTopic, encodePlot(samplePlot()), "malformed"},
        {kTopic, good, "malformed"},
        {kExclusionTopic, e("\"car2\"", "\"car3\""), "wrong topic"},
        {kExclusionTopic, e("\"2026-12-08\"", "\"2026-12-09\""), "wrong topic"},
        {"kestrelmap/blue/2026-12-08/car2/exclusion", good, "wrong topic"},
        {"kestrelmap/red/2026-12-08/car2/exclusions", good, "wrong topic"},
        {"kestrelmap/red/2026-12-08/car2/exclusion/x", good, "wrong topic"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(outcome(c.topic, c.payload), c.expected) << c.topic << " " << c.payload;
    }
}

// The value `key` reads as in `text`: a number in shortest form ("-0" keeps its sign), a string
// in quotes, true/false/null, "absent", or "refused" when the text is not one flat object.
std::string readOutcome(std::string_view text, std::string_view key = "a") {
    const std::optional<FlatObject> object = parseFlatObject(text);
    if (!object) {
        return "refused";
    }
    const JsonValue* value = object->find(key);
    if (value == nullptr) {
        return "absent";
    }
    if (const double* number = std::get_if<double>(value)) {
        char buffer[32];
        return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, *number).ptr);
    }
    if (const bool* flag = std::get_if<bool>(value)) {
        return *flag ? "true" : "false";
    }
    if (const std::string* string = std::get_if<std::string>(value)) {
        return "\"" + *string + "\"";
    }
    return "null";
}

using ReadCase = std::pair<std::string, std::string>;

void expectReads(std::initializer_list<ReadCase> cases) {
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(readOutcome(text), expected) << text;
    }
}

TEST(FlatJson, OneFlatObjectAndNothingElse) {
    expectReads({
        {"{}", "absent"},
        {" \t\r\n{ \"a\" : 1 , \"b\" : 2 } \t\r\n", "1"},
        {"", "refused"},
        {" \r\n", "refused"},
        {R"({"a": 1, "a": 2})", "refused"},
        {R"({"a": 1, "\u0061": 2})", "refused"},
        {R"({"A": 1, "a": 2})", "2"},
        {R"({"a": {}})", "refused"},
        {R"({"b": {"a": 1}})", "refused"},
        {R"({"a": []})", "refused"},
        {R"({"a": [1]})", "refused"},
        {R"([{"a": 1}])", "refused"},
        {"[]", "refused"},
        {"1", "refused"},
        {R"("a")", "refused"},
        {"null", "refused"},
        {R"({"a": 1}x)", "refused"},
        {R"({"a": 1}{})", "refused"},
        {R"({"a": 1},)", "refused"},
        {std::string("{\"a\": 1}\0", 9), "refused"},
        {std::string("{\"a\": 1}\0}", 10), "refused"},
        {"\xEF\xBB\xBF{\"a\": 1}", "refused"},
    });
}

TEST(FlatJson, TokensAndWhiteSpaceAsTheGrammarSays) {
    expectReads({
        {"\f{\"a\": 1}", "refused"},
        {"{\"a\":\v1}", "refused"},
        {"{\"a\":\xC2\xA0 1}", "refused"},
        {R"({"a": 1,})", "refused"},
        {R"({,"a": 1})", "refused"},
        {R"({"a" 1})", "refused"},
        {R"({"a": 1 "b": 2})", "refused"},
        {R"({a: 1})", "refused"},
        {R"({'a': 1})", "refused"},
        {R"({"a": 1)", "refused"},
        {R"({"a": 1 /* note */})", "refused"},
        {R"({"a": true, "b": false})", "true"},
        {R"({"a": null})", "null"},
        {R"({"a": nul})", "refused"},
        {R"({"a": nullx})", "refused"},
        {R"({"a": True})", "refused"},
    });
}

// RFC 8259 numbers only, read as the nearest double; one that does not fit (too large, or so
// small it would read as zero) is refused.
TEST(FlatJson, NumbersInTheGrammarAndFinite) {
    expectReads({
        {R"({"a": 0})", "0"},
        {R"({"a": -0})", "-0"},
        {R"({"a": -0.0})", "-0"},
        {R"({"a": -12})", "-12"},
        {R"({"a": 1E2})", "100"},
        {R"({"a": 1e+2})", "100"},
        {R"({"a": 2.5e-1})", "0.25"},
        {R"({"a": 9007199254740993})", "9007199254740992"},
        {R"({"a": 18446744073709551616})", "18446744073709551616"},
        {R"({"a": -9223372036854775809})", "-9223372036854775808"},
        {R"({"a": 1.7976931348623157e308})", "1.7976931348623157e+308"},
        {R"({"a": 5e-324})", "5e-324"},
        {R"({"a": 0e-400})", "0"},
        {R"({"a": 0.000e999})", "0"},
        {R"({"a": 1e400})", "refused"},
        {R"({"a": -1e400})", "refused"},
        {R"({"a": 1.7976931348623159e308})", "refused"},
        {R"({"a": 1e-400})", "refused"},
        {R"({"a": 2e-324})", "refused"},
        {R"({"a": 01})", "refused"},
        {R"({"a": -01})", "refused"},
        {R"({"a": 1.})", "refused"},
        {R"({"a": .5})", "refused"},
        {R"({"a": +1})", "refused"},
        {R"({"a": -})", "refused"},
        {R"({"a": - 1})", "refused"},
        {R"({"a": 1e})", "refused"},
        {R"({"a": 1e+})", "refused"},
        {R"({"a": 0x10})", "refused"},
        {R"({"a": NaN})", "refused"},
        {R"({"a": Infinity})", "refused"},
    });
}

TEST(FlatJson, StringsEscapedAsTheGrammarSaysAndValidUtf8) {
    expectReads({
        {R"({"a": "\u0044\u0046"})", "\"DF\""},
        {R"({"a": "\"\\\/\b\f\n\r\t"})", "\"\"\\/\b\f\n\r\t\""},
        {R"({"a": "\u0000"})", std::string("\"\0\"", 3)},
        {R"({"a": "\u00c4\u00C4"})", "\"\xC3\x84\xC3\x84\""},
        {R"({"a": "\ud83d\ude00"})", "\"\xF0\x9F\x98\x80\""},
        {"{\"a\": \"\xC3\x84\xF0\x9F\x98\x80\x7F\"}", "\"\xC3\x84\xF0\x9F\x98\x80\x7F\""},
        {R"({"a": "\ud800"})", "refused"},
        {R"({"a": "\udc00"})", "refused"},
        {R"({"a": "\ude00\ud83d"})", "refused"},
        {R"({"a": "\ud800\u0041"})", "refused"},
        {R"({"a": "\ud800x"})", "refused"},
        {R"({"a": "\u12"})", "refused"},
        {R"({"a": "\u+123"})", "refused"},
        {R"({"a": "\uzzzz"})", "refused"},
        {R"({"a": "\x41"})", "refused"},
        {R"({"a": "\'"})", "refused"},
        {R"({"a": "abc})", "refused"},
        {"{\"a\": \"\x01\"}", "refused"},
        {"{\"a\": \"\t\"}", "refused"},
        {"{\"a\": \"\x1F\"}", "refused"},
        {"{\"a\": \"\xC3\"}", "refused"},
        {"{\"a\": \"\x80\"}", "refused"},
        {"{\"a\": \"\xFF\"}", "refused"},
        {"{\"a\": \"\xC0\x80\"}", "refused"},
        {"{\"a\": \"\xE0\x80\xAF\"}", "refused"},
        {"{\"a\": \"\xF0\x80\x80\x80\"}", "refused"},
        {"{\"a\": \"\xED\xA0\x80\"}", "refused"},
        {"{\"a\": \"\xF4\x90\x80\x80\"}", "refused"},
        {"{\"\xC3\": 1}", "refused"},
    });
}

TEST(FlatJson, NumbersReadTheSameUnderADecimalCommaLocale) {
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "no decimal-comma locale";
    }
    const std::string read = readOutcome(R"({"a": 39.741667})");
    const std::string comma = readOutcome(R"({"a": 39,741667})");
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(read, "39.741667");
    EXPECT_EQ(comma, "refused");
}

// The writer's bytes are what the team and the journal files already hold.
TEST(FlatJson, WrittenAsBefore) {
    const std::pair<std::string, std::string> strings[] = {
        {"a\"b\\c/d", R"("a\"b\\c/d")"},      {"\n\r\t", R"("\n\r\t")"},
        {"\b\f", R"("\u0008\u000c")"},        {std::string("\0\x1F", 2), R"("\u0000\u001f")"},
        {"\x7F\xC3\x84", "\"\x7F\xC3\x84\""}, {"\xC3", "\"\xC3\""},
    };
    for (const auto& [text, expected] : strings) {
        std::string out;
        appendJsonString(out, text);
        EXPECT_EQ(out, expected) << text;
    }
    EXPECT_EQ(JsonWriter()
                  .number("a", 39.7416666, 6)
                  .number("b", -0.0000004, 6)
                  .number("c", 2.5, 0)
                  .number("d", std::nan(""), 6)
                  .number("e", -HUGE_VAL, 6)
                  .integer("f", -9223372036854775807 - 1)
                  .null("g")
                  .string("", "")
                  .finish(),
              R"({"a": 39.741667, "b": -0.000000, "c": 2, "d": null, "e": null, )"
              R"("f": -9223372036854775808, "g": null, "": ""})");
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
