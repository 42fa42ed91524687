// The live map server of a whole program, over real sockets on loopback: what a web page
// elsewhere may not have of it (other hosts, other origins, other methods), the connections
// one address and all together may hold, and the timers that end slow and idle clients.

#include <QJsonArray>

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
