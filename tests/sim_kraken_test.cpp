// The simulated Kraken: its answer's fields against the drive, its web server on the loopback,
// and the turn lag the direction finders share.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "instruments/kraken_line.h"
#include "kestrel-sim/command_line.h"
#include "kestrel-sim/kraken.h"
#include "kestrel-sim/kraken_server.h"
#include "sim_test_support.h"

namespace kestrel::sim {
namespace {

using namespace std::chrono_literals;

// The default drive with the Kraken on.
GeneratorSettings drive(std::uint64_t seed) {
    GeneratorSettings g = test::drive(seed);
    g.kraken.on = true;
    return g;
}
using test::eventsUntil;

std::vector<std::string> split(const std::string& text, char at) {
    std::vector<std::string> out(1);
    for (char c : text) {
        if (c == at) {
            out.emplace_back();
        } else {
            out.back() += c;
        }
    }
    return out;
}

TEST(SimKraken, AnswerLinesCarryTheDriveInTheirFields) {
    struct Case {
        std::uint64_t seed;
        double noiseDeg;
        double wildPercent;
        std::int64_t secondHz;  // 0: one line
    };
    const Case cases[] = {
        {1, 3, 2, 0}, {2, 0, 0, 146'550'000}, {3, 8, 10, 0}, {4, 1, 0, 446'000'000}};
    for (const Case& c : cases) {
        SCOPED_TRACE("seed " + std::to_string(c.seed));
        GeneratorSettings g = drive(c.seed);
        g.dfNoiseDeg = c.noiseDeg;
        g.dfWildPercent = c.wildPercent;
        g.kraken.secondFrequencyHz = c.secondHz;
        const GeoPoint second = GeneratedSource(g).secondTransmitter();
        int answers = 0, wild = 0, seenBearingAt = -1;
        for (const SimEvent& e : eventsUntil(g, 300'000)) {
            if (e.lineKind == LineKind::Bearing) {
                seenBearingAt = static_cast<int>(e.atMs);
            }
            if (e.kind != EventKind::Kraken) {
                continue;
            }
            ++answers;
            wild += e.wild ? 1 : 0;
            EXPECT_EQ(seenBearingAt, e.atMs) << "the answer follows the Doppler's line";
            // What the program reads of it.
            const instruments::KrakenParse parsed = instruments::parseKrakenAnswer(e.text);
            EXPECT_EQ(parsed.problem, "");
            ASSERT_EQ(parsed.lines.size(), c.secondHz > 0 ? 2u : 1u);

            ASSERT_EQ(e.text.back(), '\n');
            const std::vector<std::string> lines = split(e.text.substr(0, e.text.size() - 1), '\n');
            ASSERT_EQ(lines.size(), parsed.lines.size());
            for (std::size_t n = 0; n < lines.size(); ++n) {
                const std::vector<std::string> f = split(lines[n], ',');
                ASSERT_EQ(f.size(), 377u);
                EXPECT_EQ(std::stoll(f[0]), g.startEpochSeconds * 1000 + e.atMs);
                EXPECT_EQ(std::stoll(f[4]), n == 0 ? g.kraken.frequencyHz : c.secondHz);
                EXPECT_EQ(f[5], "UCA");
                EXPECT_NEAR(std::stod(f[8]), e.vehicle.position.latDeg, 1e-6);
                EXPECT_NEAR(std::stod(f[9]), e.vehicle.position.lonDeg, 1e-6);
                EXPECT_NEAR(std::abs(angleDifference(std::stod(f[11]), e.vehicle.headingDeg)), 0,
                            0.051);
                EXPECT_EQ(f[13] + f[14] + f[15] + f[16], "0000");
                // The strongest direction is the spectrum's peak; every value from 0 to 1.
                int peak = 0;
                double peakValue = -1;
                for (int i = 0; i < kSpectrumBins; ++i) {
                    const std::string& v = f[17 + static_cast<std::size_t>(i)];
                    ASSERT_TRUE(v.size() == 5 && v[1] == '.') << v;
                    const double value = std::stod(v);
                    ASSERT_TRUE(value >= 0 && value <= 1) << v;
                    if (value > peakValue) {
                        peak = i;
                        peakValue = value;
                    }
                }
                const int direction = std::stoi(f[1]);
                EXPECT_EQ(direction, peak);
                const int confidence = std::stoi(f[2]);
                ASSERT_TRUE(confidence >= 0 && confidence <= 99) << confidence;
                if (n == 0 && e.wild) {
                    EXPECT_LE(confidence, 15);
                    continue;
                }
                if (n == 1 && c.wildPercent > 0) {
                    continue;  // the second line's own wild bearings are not told
                }
                const GeoPoint tx = n == 0 ? g.transmitter : second;
                const double miles = distanceMiles(e.vehicle.position, tx);
                const double relative = bearingDeg(e.vehicle.position, tx) - e.antennaHeadingDeg;
                const double miss = std::abs(angleDifference(relative, direction));
                EXPECT_LE(miss, 3.5 * e.noiseSigmaDeg + 1.0) << lines[n].substr(0, 60);
                EXPECT_LE(std::abs(confidence - krakenConfidence(miles)), 3);
                EXPECT_LE(std::abs(std::stod(f[3]) - krakenPowerDb(miles)), 5);
            }
        }
        EXPECT_GT(answers, 300 * 3);
        EXPECT_LT(answers, 300 * 4);
        EXPECT_NEAR(100.0 * wild / answers, c.wildPercent, 1.0 + c.wildPercent / 4);
    }
    // With the Doppler off, the same answers at the same moments.
    const auto answersOf = [](const GeneratorSettings& g) {
        std::string out;
        for (const SimEvent& e : eventsUntil(g, 60'000)) {
            out += e.kind == EventKind::Kraken ? std::to_string(e.atMs) + " " + e.text : "";
        }
        return out;
    };
    GeneratorSettings alone = drive(9);
    alone.df = false;
    EXPECT_TRUE(answersOf(alone) == answersOf(drive(9)));
}

// --- the web server ----------------------------------------------------------------------

class Client {
  public:
    explicit Client(int port) : m_fd(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        EXPECT_EQ(::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    }
    ~Client() { ::close(m_fd); }
    // Sends `bytes`, then collects what comes until `quiet` passes without a byte (serving
    // `server` meanwhile, when given) or the server hangs up ("closed" is added), within 2 s.
    std::string ask(const std::string& bytes, KrakenServer* server,
                    std::chrono::milliseconds quiet = 200ms) {
        ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        std::string got;
        auto until = std::chrono::steady_clock::now() + quiet;
        for (int i = 0; i < 400 && std::chrono::steady_clock::now() < until; ++i) {
            if (server != nullptr) {
                server->serve(5000);
            }
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, server != nullptr ? 0 : 5) > 0) {
                char buf[16384];
                const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
                if (n <= 0) {
                    return got + "closed";
                }
                got.append(buf, static_cast<std::size_t>(n));
                until = std::chrono::steady_clock::now() + quiet;
            }
        }
        return got;
    }

  private:
    int m_fd;
};

TEST(SimKrakenServer, AnswersOnTheLoopbackAndDropsBadClients) {
    ServerLimits limits;
    limits.stall = 50ms;
    limits.maxClients = 2;
    std::string error;
    std::unique_ptr<KrakenServer> server = KrakenServer::open(0, error, limits);
    ASSERT_TRUE(server) << error;
    const std::string body = "1718474400137,40,34,20.1,146520000,UCA,90,kestrel-sim\n";
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\nCache-Control: no-cache\r\n";
    const std::string kept = head + "Connection: keep-alive\r\n\r\n";
    const std::string closed = head + "Connection: close\r\n\r\n";
    const std::string notFound = "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\n";
    server->publish(body);

    const std::string get = "GET /DOA_value.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> steps;  // sent, and all that came
                                                                 // (or its start and "...")
    };
    const Case cases[] = {
        {"keep-alive", {{get, kept + body}, {get, kept + body}}},
        {"pipelined, LF only, a query",
         {{"GET /DOA_value.html?x=1 HTTP/1.1\n\nGET /DOA_value.html HTTP/1.1\n\n",
           kept + body + kept + body}}},
        {"close asked",
         {{"GET /DOA_value.html HTTP/1.1\r\nConnection: Close\r\n\r\n", closed + body + "closed"}}},
        {"HTTP/1.0", {{"GET /DOA_value.html HTTP/1.0\r\n\r\n", closed + body + "closed"}}},
        {"HEAD", {{"HEAD /DOA_value.html HTTP/1.1\r\n\r\n", kept}}},
        {"other path, then ours",
         {{"GET /index.html HTTP/1.1\r\n\r\n", notFound + "..."}, {get, kept + body}}},
        {"other method", {{"DELETE /DOA_value.html HTTP/1.1\r\n\r\n", notFound + "..."}}},
        {"a body",
         {{"POST /DOA_value.html HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", notFound + "..."}}},
        {"garbage", {{"\x16\x03\x01\x02\xff\x01\r\n\r\n", "closed"}}},
        {"bad header", {{"GET /DOA_value.html HTTP/1.1\r\nNo colon here\r\n\r\n", "closed"}}},
        {"head over 8 KiB",
         {{"GET /DOA_value.html HTTP/1.1\r\nX: " + std::string(8300, 'a'), "closed"}}},
        {"stalled", {{"GET /DOA_value.html HTTP/1.1\r\nHost: 127.0.0.1\r\n", "closed"}}},
        {"silent", {{"", "closed"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Client client(server->port());
        for (const auto& [sent, wanted] : c.steps) {
            const std::string got = client.ask(sent, server.get());
            if (wanted.size() > 3 && wanted.substr(wanted.size() - 3) == "...") {
                EXPECT_EQ(got.substr(0, wanted.size() - 3), wanted.substr(0, wanted.size() - 3));
            } else {
                EXPECT_EQ(got, wanted);
            }
        }
    }
    // Over the limit of clients, the one idle the longest makes room.
    Client first(server->port());
    EXPECT_EQ(first.ask(get, server.get()), kept + body);
    Client second(server->port());
    EXPECT_EQ(second.ask(get, server.get()), kept + body);
    EXPECT_EQ(Client(server->port()).ask(get, server.get()), kept + body);
    EXPECT_EQ(first.ask(get, server.get()), "closed");
    EXPECT_EQ(second.ask(get, server.get()), kept + body);
}

// A paced run with the Kraken: it answers during the run's waits with the latest bearing's
// answer, the same one until the next.
TEST(SimKrakenServer, ServesThePacedRunFromItsWaits) {
    std::string error;
    std::unique_ptr<KrakenServer> server = KrakenServer::open(0, error);
    ASSERT_TRUE(server) << error;
    GeneratorSettings g = drive(2);
    g.gps = false;
    ScheduleSettings s;
    s.durationMs = 1200;
    Scheduler scheduler(std::make_unique<GeneratedSource>(g), s);
    StringSink line;
    ServingSink serving(line, *server);
    std::thread run([&] { runSimulation(scheduler, serving, RunSettings{}); });
    Client client(server->port());
    std::vector<std::string> bodies;  // asked every 50 ms or so; bearings every 250-330 ms
    for (int i = 0; i < 12; ++i) {
        std::this_thread::sleep_for(50ms);
        const std::string got = client.ask("GET /DOA_value.html HTTP/1.1\r\n\r\n", nullptr, 30ms);
        bodies.push_back(got.substr(std::min(got.size(), got.find("\r\n\r\n") + 4)));
    }
    run.join();
    const std::vector<std::string>& made = line.answers();
    for (const std::string& b : bodies) {
        EXPECT_TRUE(b.empty() || std::find(made.begin(), made.end(), b) != made.end());
    }
    std::sort(bodies.begin(), bodies.end());
    const auto distinct = std::unique(bodies.begin(), bodies.end()) - bodies.begin();
    EXPECT_GE(distinct, 3) << "fewer than two bearings seen";
    EXPECT_LT(distinct, 12) << "no answer served twice";
}

// --- the turn lag ----------------------------------------------------------------------------

// A bearing is relative to the heading the vehicle had kTurnLagMs before (another vehicle on
// the same route, driven to that moment, tells it), with more noise while the heading turns;
// on a straight run the two headings agree and the noise is as asked for.
TEST(SimTurnLag, BearingsFollowTheHeadingOfAMomentBefore) {
    for (const bool lag : {true, false}) {
        SCOPED_TRACE(lag ? "lag" : "no lag");
        GeneratorSettings g = drive(3);
        g.dfNoiseDeg = 0;
        g.dfWildPercent = 0;
        g.turnLag = lag;
        Vehicle behind(g.route);
        int straight = 0, turning = 0;
        double mostLagDeg = 0;
        for (const SimEvent& e : eventsUntil(g, 600'000)) {
            if (e.lineKind != LineKind::Bearing && e.kind != EventKind::Kraken) {
                continue;
            }
            behind.advanceTo(e.atMs - kTurnLagMs);
            const double then = lag ? behind.state().headingDeg : e.vehicle.headingDeg;
            EXPECT_NEAR(angleDifference(then, e.antennaHeadingDeg), 0, 1e-6) << e.atMs;
            const double turnedDeg = std::abs(angleDifference(then, e.vehicle.headingDeg));
            EXPECT_NEAR(e.noiseSigmaDeg, turnedDeg / 0.6 * kTurnNoiseDegPerDegPerS, 1e-6);
            mostLagDeg = std::max(mostLagDeg, turnedDeg);
            if (e.lineKind != LineKind::Bearing) {
                continue;
            }
            const double expected = e.trueBearingDeg - e.antennaHeadingDeg;
            const double err = angleDifference(expected, std::stoi(e.text.substr(1, 3)));
            if (turnedDeg == 0) {
                ++straight;
                EXPECT_LE(std::abs(err), 0.5) << e.text;  // only the rounding
            } else {
                ++turning;
                EXPECT_LE(std::abs(err), 3.5 * e.noiseSigmaDeg + 0.5) << e.text;
            }
        }
        EXPECT_GT(straight, 1000);
        if (lag) {
            EXPECT_GT(turning, 100);
            // In a full turn the antennas are 0.6 s of a 15 degree a second turn behind.
            EXPECT_NEAR(mostLagDeg, Vehicle::kTurnRateDegPerS * 0.6, 0.01);
        } else {
            EXPECT_EQ(turning, 0);
        }
    }
}

}  // namespace
}  // namespace kestrel::sim
