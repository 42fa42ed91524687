// The live map server of a whole program, over real sockets on loopback: what a web page
// elsewhere may not have of it (other hosts, other origins, other methods), the connections
// one address and all together may hold, and the timers that end slow and idle clients.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "estimate/plot_log_reader.h"
#include "qt/map_client.h"
#include "qt/window_rig.h"

namespace kestrel::test {
namespace {

constexpr int kHeadMs = 300;
constexpr int kIdleMs = 600;
constexpr int kSlackMs = 400;  // a loaded machine's lateness on top of a timer
// Qt's coarse timers may fire up to 5 % early.
constexpr int earliest(int timerMs) {
    return timerMs * 9 / 10;
}

class MapServerRig : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(port, 0);
        rig = std::make_unique<WindowRig>(home, port);
        ASSERT_NE(rig->program->liveMap(), nullptr) << "the live map did not start on " << port;
    }

    qt::MapServer& server() { return rig->program->liveMap()->server(); }
    QByteArray host() const { return "127.0.0.1:" + QByteArray::number(port); }
    QByteArray get(const QByteArray& target) const {
        return "GET " + target + " HTTP/1.1\r\nHost: " + host() + "\r\n\r\n";
    }
    // GET / on a connection of its own from `from` is served.
    void expectAnswers(const QString& from = "127.0.0.1") {
        RawClient client(port, from);
        client.send(get("/"));
        const auto answer = client.nextAnswer();
        ASSERT_TRUE(answer) << "no answer to GET / from " << from.toStdString();
        EXPECT_EQ(answer->status, 200) << answer->head.toStdString();
    }

    TestHome home;
    quint16 port = freePort();
    std::unique_ptr<WindowRig> rig;
};

// The headers a page must see on every answer, refusals included.
void expectSecurityHeaders(const HttpAnswer& answer) {
    EXPECT_TRUE(
        answer.header("content-security-policy").value_or("").contains("frame-ancestors 'none'"));
    EXPECT_EQ(answer.header("x-content-type-options"), "nosniff");
    EXPECT_EQ(answer.header("referrer-policy"), "no-referrer");
    for (const auto& [name, value] : answer.headers) {
        EXPECT_FALSE(name.startsWith("access-control-")) << name.toStdString();
    }
}

using LiveMapServerHttp = MapServerRig;

TEST_F(LiveMapServerHttp, AnswersOwnRequestsAndRefusesOthersWithSafeHeaders) {
    const QByteArray p = QByteArray::number(port);
    const struct {
        const char* name;
        QByteArray request;
        int status;
    } kCases[] = {
        {"page", get("/"), 200},
        {"snapshot by localhost", "GET /hunt.geojson HTTP/1.1\r\nHost: localhost:" + p + "\r\n\r\n",
         200},
        {"foreign host", "GET / HTTP/1.1\r\nHost: example.com\r\n\r\n", 403},
        {"rebound name", "GET /hunt.geojson HTTP/1.1\r\nHost: rebind.example:" + p + "\r\n\r\n",
         403},
        {"loopback name as prefix",
         "GET / HTTP/1.1\r\nHost: 127.0.0.1.rebind.example:" + p + "\r\n\r\n", 403},
        {"foreign origin preflight",
         "OPTIONS /hunt.geojson HTTP/1.1\r\nHost: " + host() +
             "\r\nOrigin: http://evil.example\r\nAccess-Control-Request-Method: GET\r\n\r\n",
         403},
        {"post with a body",
         "POST / HTTP/1.1\r\nHost: " + host() + "\r\nContent-Length: 5\r\n\r\nhello", 405},
        {"options", "OPTIONS / HTTP/1.1\r\nHost: " + host() + "\r\n\r\n", 405},
        {"traversal", get("/leaflet/../../../etc/passwd"), 404},
        {"head of 9000 bytes",
         "GET / HTTP/1.1\r\nHost: " + host() + "\r\nX-Filler: " + QByteArray(9000, 'a') +
             "\r\n\r\n",
         431},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        RawClient client(port, "127.0.0.1");
        client.send(c.request);
        const auto answer = client.nextAnswer();
        ASSERT_TRUE(answer) << "no answer";
        EXPECT_EQ(answer->status, c.status) << answer->head.toStdString();
        expectSecurityHeaders(*answer);
        if (c.status == 405) {
            EXPECT_EQ(answer->header("allow"), "GET, HEAD");
        }
        if (c.status != 200) {
            EXPECT_GE(client.msUntilClosed(1000), 0) << "a refused connection stays open";
        }
    }
    expectAnswers();
}

// HEAD, then GET on the same connection: the bytes after the HEAD's headers are the next
// answer, so HEAD sent no body. Then two requests in one write, both answered.
TEST_F(LiveMapServerHttp, HeadHasNoBodyAndOneConnectionCarriesTwoRequests) {
    RawClient client(port, "127.0.0.1");
    client.send("HEAD / HTTP/1.1\r\nHost: " + host() + "\r\n\r\n");
    const auto head = client.nextAnswer(true);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 200);
    EXPECT_GT(head->header("content-length").value_or("0").toInt(), 0);
    expectSecurityHeaders(*head);

    client.send(get("/hunt.geojson"));
    const auto snapshot = client.nextAnswer();
    ASSERT_TRUE(snapshot) << "the second request on the connection got no answer: "
                          << client.unread().left(200).toStdString();
    EXPECT_EQ(snapshot->status, 200);
    EXPECT_TRUE(snapshot->body.contains("FeatureCollection"));
    EXPECT_TRUE(client.unread().isEmpty());

    client.send(get("/layers") + get("/hunts"));
    for (const char* target : {"/layers", "/hunts"}) {
        const auto answer = client.nextAnswer();
        ASSERT_TRUE(answer) << "no answer to the pipelined " << target;
        EXPECT_EQ(answer->status, 200) << target;
    }
    EXPECT_FALSE(client.closed());
}

using LiveMapServerPages = MapServerRig;

TEST_F(LiveMapServerPages, OnlyTheOwnOriginOpensThePushChannel) {
    PageClient own(port, "http://127.0.0.1:" + QByteArray::number(port));
    PageClient evil(port, "http://evil.example");
    PageClient none(port, "");
    ASSERT_GE(own.waitMessage("hello"), 0) << "the page of this server got no hello";
    for (PageClient* refused : {&evil, &none}) {
        EXPECT_TRUE(refused->waitEnded());
        EXPECT_FALSE(refused->everConnected());
        EXPECT_TRUE(refused->messages.empty());
    }
    EXPECT_EQ(server().pageCount(), 1u);
}

TEST_F(LiveMapServerPages, APlotReachesAnOpenPage) {
    PageClient page(port, "http://localhost:" + QByteArray::number(port));
    const int hello = page.waitMessage("hello");
    ASSERT_GE(hello, 0);
    rig->window().runHandler([this]() { rig->form().CmdButton_ADD_PLOT_Click(); });
    const auto upserts = [&page](int message, const QString& id) {
        for (const QJsonValue feature : page.messages[size_t(message)].value("upsert").toArray()) {
            if (feature.toObject().value("id").toString() == id) {
                return true;
            }
        }
        return false;
    };
    bool plotted = false;
    int i = hello;
    while (!plotted && (i = page.waitMessage("features", size_t(i) + 1)) >= 0) {
        plotted = upserts(i, "plot-1");
    }
    EXPECT_TRUE(plotted) << "no features message with plot-1 among " << page.messages.size();
}

using LiveMapServerReview = MapServerRig;

// The excluded column of the plot log's first data row.
std::string excludedColumn(const std::string& log) {
    const size_t row = log.find("\r\n") + 2;
    const std::vector<std::string> fields =
        estimate::csvFields(log.substr(row, log.find("\r\n", row) - row));
    return fields.size() == 21 ? fields[14] : "(" + std::to_string(fields.size()) + " fields)";
}

// A page of this server leaves a plot out with the snapshot's token; everything else that
// tries (another origin, no token, an old token, a form's content type) changes nothing.
TEST_F(LiveMapServerReview, OnlyTheOwnPageWithItsTokenLeavesAPlotOut) {
    rig->window().runHandler([this]() { rig->form().CmdButton_ADD_PLOT_Click(); });
    RawClient reader(port, "127.0.0.1");
    reader.send(get("/hunt.geojson"));
    const auto snapshot = reader.nextAnswer();
    ASSERT_TRUE(snapshot);
    const QByteArray token =
        QJsonDocument::fromJson(snapshot->body).object().value("token").toString().toLatin1();
    ASSERT_EQ(token.size(), 32);
    const QByteArray own = "http://127.0.0.1:" + QByteArray::number(port);
    const auto post = [&](const QByteArray& origin, const QByteArray& key, const QByteArray& type,
                          const QByteArray& body) {
        QByteArray request = "POST /plots/1 HTTP/1.1\r\nHost: " + host() + "\r\n";
        request += origin.isEmpty() ? QByteArray() : "Origin: " + origin + "\r\n";
        request += key.isEmpty() ? QByteArray() : "X-Kestrelmap-Token: " + key + "\r\n";
        return request + "Content-Type: " + type +
               "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    };
    const QByteArray json = "application/json";
    const QByteArray leaveOut = R"({"excluded": true})";
    const QByteArray note = R"({"note": "\"><img src=x onerror=alert(1)>, barn"})";
    const struct {
        const char* name;
        QByteArray request;
        int status;
        const char* leftOutAfter;  // the plot log's excluded column then
    } kCases[] = {
        {"another site's page", post("http://evil.example", token, json, leaveOut), 403, ""},
        {"no origin", post("", token, json, leaveOut), 403, ""},
        {"no token", post(own, "", json, leaveOut), 403, ""},
        {"a token of another run", post(own, QByteArray(32, 'a'), json, leaveOut), 403, ""},
        {"a form's body", post(own, token, "application/x-www-form-urlencoded", "excluded=1"), 415,
         ""},
        {"not the action's form", post(own, token, json, R"({"excluded": "yes"})"), 400, ""},
        {"leave out", post(own, token, json, leaveOut), 200, "1"},
        {"replayed", post(own, token, json, leaveOut), 409, "1"},
        {"a note that is no markup", post(own, token, json, note), 200, "1"},
    };
    for (const auto& c : kCases) {
        RawClient client(port, "127.0.0.1");
        // the body after a pause: the head timer, not the first read, decides
        const qsizetype headEnd = c.request.indexOf("\r\n\r\n") + 4;
        client.send(c.request.left(headEnd));
        runFor(50);
        client.send(c.request.mid(headEnd));
        const auto answer = client.nextAnswer();
        ASSERT_TRUE(answer) << c.name;
        EXPECT_EQ(answer->status, c.status) << c.name << ": " << answer->body.toStdString();
        expectSecurityHeaders(*answer);
        EXPECT_EQ(excludedColumn(rig->home.readFile("Current_Plots.csv")), c.leftOutAfter)
            << c.name;
    }
    EXPECT_NE(rig->home.readFile("Current_Plots.csv")
                  .find(",1,\"\"\"><img src=x onerror=alert(1)>, barn\",,,,,\r\n"),
              std::string::npos)
        << rig->home.readFile("Current_Plots.csv");
    EXPECT_NE(rig->form().Label_IDENT.Caption.find("1 left out by hand"), std::string::npos)
        << rig->form().Label_IDENT.Caption;
}

using LiveMapServerLimits = MapServerRig;

// `count` held connections from `from`, each seen by the server.
std::vector<std::unique_ptr<RawClient>> hold(quint16 port, const QString& from, int count) {
    std::vector<std::unique_ptr<RawClient>> held;
    for (int i = 0; i < count; ++i) {
        held.push_back(std::make_unique<RawClient>(port, from));
        EXPECT_TRUE(held.back()->waitConnected()) << from.toStdString() << " #" << i;
    }
    return held;
}

// A connection over a limit is answered 503 or closed, never served.
void expectTurnedAway(quint16 port, const QString& from) {
    RawClient client(port, from);
    client.send("GET / HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n\r\n");
    const auto answer = client.nextAnswer();
    if (answer) {
        EXPECT_EQ(answer->status, 503) << from.toStdString();
    }
    EXPECT_GE(client.msUntilClosed(1000), 0) << from.toStdString() << ": not closed";
}

TEST_F(LiveMapServerLimits, OneAddressCannotLockOutAnother) {
    auto held = hold(port, "127.0.0.2", 16);
    ASSERT_TRUE(waitFor([this]() { return server().connectionCount() == 16; }, 2000));
    expectTurnedAway(port, "127.0.0.2");
    expectAnswers("127.0.0.1");
    for (auto& client : held) {
        client->abort();
    }
    ASSERT_TRUE(waitFor([this]() { return server().connectionCount() == 0; }, 2000));
    expectAnswers("127.0.0.2");
}

TEST_F(LiveMapServerLimits, SixtyFourInAllThenNoMore) {
    std::vector<std::unique_ptr<RawClient>> held;
    for (const char* from : {"127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6"}) {
        for (auto& client : hold(port, from, 16)) {
            held.push_back(std::move(client));
        }
    }
    ASSERT_TRUE(waitFor([this]() { return server().connectionCount() == 64; }, 2000));
    expectTurnedAway(port, "127.0.0.7");
    expectTurnedAway(port, "127.0.0.1");
    held.clear();
    ASSERT_TRUE(waitFor([this]() { return server().connectionCount() == 0; }, 2000));
    expectAnswers();
}

using LiveMapServerTimeouts = MapServerRig;

TEST_F(LiveMapServerTimeouts, SlowAndIdleClientsAreClosedInTime) {
    server().setTimeouts(kHeadMs, kIdleMs);

    RawClient half(port, "127.0.0.1");
    half.send("GET / HTTP/1.1\r\nHost: " + host() + "\r\n");
    RawClient idle(port, "127.0.0.1");
    idle.send(get("/"));
    ASSERT_TRUE(idle.nextAnswer());
    const qint64 answered = idle.msSinceStart();
    // One header byte every 100 ms: each byte is progress, none a whole head.
    RawClient dripping(port, "127.0.0.1");
    const QByteArray drip =
        "GET / HTTP/1.1\r\nHost: " + host() + "\r\nX-Slow: " + QByteArray(64, 'x');
    int sent = 0;
    QTimer dripper;
    QObject::connect(&dripper, &QTimer::timeout, [&]() {
        if (sent < drip.size() && !dripping.closed()) {
            dripping.send(drip.mid(sent++, 1));
        }
    });
    dripper.start(100);

    const qint64 halfClosed = half.msUntilClosed(kHeadMs + kSlackMs);
    EXPECT_NE(halfClosed, -1) << "half a head held past the head timer";
    EXPECT_GE(halfClosed, earliest(kHeadMs));
    const qint64 drippingClosed = dripping.msUntilClosed(kHeadMs + kSlackMs);
    EXPECT_NE(drippingClosed, -1) << "a byte every 100 ms kept the head timer going (" << sent
                                  << " bytes sent)";
    const qint64 idleClosed = idle.msUntilClosed(answered + kIdleMs + kSlackMs);
    EXPECT_NE(idleClosed, -1) << "an idle connection held past the idle timer";
    EXPECT_GE(idleClosed - answered, earliest(kIdleMs));
    dripper.stop();
    expectAnswers();
}

}  // namespace
}  // namespace kestrel::test
