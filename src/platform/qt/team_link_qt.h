#pragma once
// The team link's MQTT client: libmosquitto (MQTT 3.1.1) driven from the Qt event loop, with
// no thread of its own and no call that waits. The broker's name is looked up with QHostInfo,
// the connection is made with a non-blocking connect, a QSocketNotifier watches the socket for
// reading (always) and writing (while the client has bytes waiting), and a QTimer runs the
// client's housekeeping (keep-alive pings) every few seconds. A connection that fails or drops
// is tried again at most once every retry interval, each time with a fresh client under the
// same client id, so the broker resumes the persistent session. Failures are told to the
// operator through the platform's message box, once per kind until a connection succeeds.

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <deque>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "team/link_failures.h"
#include "team/team_config.h"
#include "team/team_transport.h"

struct mosquitto;
struct mosquitto_message;

namespace kestrel::qt {

struct TeamLinkSettings {
    std::string host;
    int port = 1883;
    bool tls = false;
    std::string caFile;  // empty: the system's certificate authorities
    std::string user;
    std::string password;
    std::string clientId;
    int keepAliveSeconds = 30;
    int retryMs = 5000;
    int connectTimeoutMs = 10000;
};

// The settings for a checked configuration; `password` as read from its password file.
TeamLinkSettings teamLinkSettings(const team::TeamConfig& config, const std::string& password);

class QtTeamLink : public QObject, public team::TeamTransport {
    Q_OBJECT
  public:
    QtTeamLink(TeamLinkSettings settings, kestrel::MessageBox& messages, QObject* parent = nullptr);
    ~QtTeamLink() override;

    // The first attempt starts now; then it keeps trying until stop().
    void start();
    void stop();

    void setListener(team::TeamTransportListener* listener) override { m_listener = listener; }
    bool isUp() const override { return m_up; }
    std::optional<int> publish(const std::string& topic, const std::string& payload, int qos,
                               bool retain) override;
    bool subscribe(const std::string& filter, int qos) override;

    // "host:port", as the messages name it.
    std::string brokerText() const;

  private:
    struct Event {
        enum Kind { Connack, Published, Message } kind;
        int code = 0;
        std::string topic;
        std::string payload;
    };

    void attempt();
    void connectTo(const std::string& address);
    void fail(team::LinkFailure kind, const std::string& detail);
    void drop();
    void scheduleRetry();
    void onReadable();
    void onWritable();
    void onHousekeeping();
    void afterClientCall(int rc);
    void updateWriteInterest();
    void deliver();
    std::string errorDetail(int rc) const;
    std::string tlsDetail() const;

    static void onConnect(mosquitto* client, void* self, int code);
    static void onPublish(mosquitto* client, void* self, int messageId);
    static void onMessage(mosquitto* client, void* self, const mosquitto_message* message);
    static void onLog(mosquitto* client, void* self, int level, const char* text);

    TeamLinkSettings m_settings;
    kestrel::MessageBox& m_messages;
    team::TeamTransportListener* m_listener = nullptr;
    team::LinkFailures m_failures;
    mosquitto* m_client = nullptr;
    int m_socket = -1;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QTimer m_housekeeping;
    QTimer m_retry;
    QTimer m_connectTimeout;
    int m_lookupId = -1;
    qint64 m_lastAttemptMs = 0;
    uint64_t m_connection = 0;  // counts clients made, to notice one replaced under our feet
    bool m_running = false;
    bool m_up = false;
    bool m_delivering = false;
    std::string m_tlsProblem;  // the certificate check's verdict, when it failed
    std::deque<Event> m_events;
};

}  // namespace kestrel::qt
