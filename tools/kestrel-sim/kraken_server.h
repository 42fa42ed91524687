#pragma once
// The Kraken's web server: answers GET and HEAD /DOA_value.html on 127.0.0.1 with the latest
// answer, over HTTP/1.1 with keep-alive (HTTP/1.0 too); any other request gets 404. It never
// blocks: it does its work when polled, from the run's own waits, so it never holds up the
// serial line. A client that sends what is not HTTP, a request head over 8 KiB or a request
// with a body, that stalls before or in the middle of a request or stops taking its answers,
// or that idles too long between requests is dropped; when all places are taken, the client
// idle the longest makes room for a new one. POSIX only.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kestrel-sim/runner.h"

namespace kestrel::sim {

inline constexpr std::string_view kDoaPath = "/DOA_value.html";

struct ServerLimits {
    std::size_t maxHeadBytes = 8192;
    // To send the first request, finish one once begun, or take an answer.
    std::chrono::milliseconds stall{5000};
    std::chrono::milliseconds idle{30000};  // a kept-alive connection with nothing to do
    std::size_t maxClients = 16;            // more are closed as soon as they connect
    std::size_t maxPendingBytes = 1 << 20;  // answers not taken; beyond, the client is dropped
};

struct HttpRequest {
    std::string method;
    std::string target;
    bool keepAlive = true;
    bool hasBody = false;  // Content-Length other than 0, or Transfer-Encoding
};

// A request head without its blank line (lines ended by CR LF or LF); nothing when it is not a
// well-formed HTTP/1.0 or HTTP/1.1 request head.
std::optional<HttpRequest> parseRequestHead(std::string_view head);

class KrakenServer {
  public:
    // Listens on 127.0.0.1:`port` (0: any free port). Null with `error` set on failure.
    static std::unique_ptr<KrakenServer> open(int port, std::string& error,
                                              const ServerLimits& limits = {});
    ~KrakenServer();
    KrakenServer(const KrakenServer&) = delete;
    KrakenServer& operator=(const KrakenServer&) = delete;

    int port() const { return m_port; }
    // The answer from now on (empty before the first bearing).
    void publish(std::string body) { m_body = std::move(body); }
    // Waits up to `us` microseconds for a client (returning early when one does something or
    // on a signal), then does everything that can be done without waiting.
    void serve(std::int64_t us);
    std::size_t clientCount() const { return m_clients.size(); }

  private:
    using Clock = std::chrono::steady_clock;
    struct Client {
        int fd = -1;
        std::string in;
        std::string out;
        bool answered = false;  // at least one request
        bool closeAfterAnswer = false;
        bool dropped = false;
        Clock::time_point requestBegun;
        Clock::time_point outputMoved;
        Clock::time_point lastActivity;
    };

    KrakenServer(int fd, int port, const ServerLimits& limits)
        : m_listen(fd), m_port(port), m_limits(limits) {}
    void acceptClients(Clock::time_point now);
    void readFrom(Client& c, Clock::time_point now);
    void answerRequests(Client& c, Clock::time_point now);
    void answer(Client& c, const HttpRequest& request, Clock::time_point now);
    void writeTo(Client& c, Clock::time_point now);
    void checkTimes(Client& c, Clock::time_point now) const;

    int m_listen;
    int m_port;
    ServerLimits m_limits;
    std::string m_body;
    std::vector<Client> m_clients;
};

// Plays the line into `line` and serves the Kraken's answers during the run's waits.
class ServingSink : public ByteSink {
  public:
    ServingSink(ByteSink& line, KrakenServer& server) : m_line(line), m_server(server) {}
    bool deliver(std::string_view bytes) override { return m_line.deliver(bytes); }
    bool cableOut() override { return m_line.cableOut(); }
    bool cableBack() override { return m_line.cableBack(); }
    void answer(const SimEvent& e) override {
        m_server.publish(e.text);
        m_line.answer(e);
    }
    void wait(std::int64_t us) override {
        m_server.serve(us);
        m_line.wait(0);  // the line's own chores, such as reading what the program writes
    }

  private:
    ByteSink& m_line;
    KrakenServer& m_server;
};

}  // namespace kestrel::sim
