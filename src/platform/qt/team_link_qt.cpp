#include "platform/qt/team_link_qt.h"

#include <mosquitto.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <QDateTime>
#include <QHostAddress>
#include <QHostInfo>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace kestrel::qt {

namespace {

constexpr int kHousekeepingMs = 5000;

void initialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, []() { mosquitto_lib_init(); });
}

qint64 nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

// The client's own log lines go to standard error when KESTREL_TEAM_LOG is set (read once).
bool clientLogWanted() {
    static const bool wanted = std::getenv("KESTREL_TEAM_LOG") != nullptr;
    return wanted;
}

}  // namespace

TeamLinkSettings teamLinkSettings(const team::TeamConfig& config, const std::string& password) {
    TeamLinkSettings settings;
    settings.host = config.brokerHost;
    settings.port = config.brokerPort;
    settings.tls = config.tls;
    settings.caFile = config.caFile;
    settings.user = config.user;
    settings.password = password;
    settings.clientId = team::clientId(config.names);
    return settings;
}

QtTeamLink::QtTeamLink(TeamLinkSettings settings, kestrel::MessageBox& messages, QObject* parent)
    : QObject(parent), m_settings(std::move(settings)), m_messages(messages) {
    initialiseLibrary();
    m_housekeeping.setInterval(std::min(kHousekeepingMs, m_settings.keepAliveSeconds * 500));
    connect(&m_housekeeping, &QTimer::timeout, this, &QtTeamLink::onHousekeeping);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &QtTeamLink::attempt);
    m_connectTimeout.setSingleShot(true);
    connect(&m_connectTimeout, &QTimer::timeout, this, [this]() {
        fail(team::LinkFailure::Unreachable,
             "no answer within " + std::to_string(m_settings.connectTimeoutMs / 1000) + " s");
    });
}

QtTeamLink::~QtTeamLink() {
    m_listener = nullptr;
    stop();
}

std::string QtTeamLink::brokerText() const {
    const bool v6 = m_settings.host.find(':') != std::string::npos;
    return (v6 ? "[" + m_settings.host + "]" : m_settings.host) + ":" +
           std::to_string(m_settings.port);
}

void QtTeamLink::start() {
    m_running = true;
    attempt();
}

void QtTeamLink::stop() {
    m_running = false;
    m_retry.stop();
    if (m_client != nullptr && m_up) {
        mosquitto_disconnect(m_client);  // the session stays with the broker
        mosquitto_loop_write(m_client, 1);
    }
    drop();
}

void QtTeamLink::attempt() {
    if (!m_running || m_client != nullptr || m_lookupId != -1) {
        return;
    }
    m_lastAttemptMs = nowMs();
    m_tlsProblem.clear();
    m_connectTimeout.start(m_settings.connectTimeoutMs);
    const QString host = QString::fromStdString(m_settings.host);
    if (!QHostAddress(host).isNull()) {
        connectTo(m_settings.host);
        return;
    }
    // The name is looked up without waiting; with TLS the client is then given the name
    // itself, which its certificate check needs (the system resolver has just answered it).
    m_lookupId = QHostInfo::lookupHost(host, this, [this](const QHostInfo& info) {
        m_lookupId = -1;
        if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
            fail(team::LinkFailure::Unreachable,
                 "host name not found: " + info.errorString().toStdString());
            return;
        }
        connectTo(m_settings.tls ? m_settings.host
                                 : info.addresses().constFirst().toString().toStdString());
    });
}

void QtTeamLink::connectTo(const std::string& address) {
    ++m_connection;
    m_client = mosquitto_new(m_settings.clientId.c_str(), false, this);
    if (m_client == nullptr) {
        fail(team::LinkFailure::Unreachable, "the MQTT client could not be made");
        return;
    }
    mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_int_option(m_client, MOSQ_OPT_TCP_NODELAY, 1);  // a plot is one small packet
    mosquitto_connect_callback_set(m_client, &QtTeamLink::onConnect);
    mosquitto_publish_callback_set(m_client, &QtTeamLink::onPublish);
    mosquitto_message_callback_set(m_client, &QtTeamLink::onMessage);
    mosquitto_log_callback_set(m_client, &QtTeamLink::onLog);
    mosquitto_username_pw_set(m_client, m_settings.user.c_str(),
                              m_settings.password.empty() ? nullptr : m_settings.password.c_str());
    if (m_settings.tls) {
        if (m_settings.caFile.empty()) {
            mosquitto_int_option(m_client, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else if (const int rc = mosquitto_tls_set(m_client, m_settings.caFile.c_str(), nullptr,
                                                    nullptr, nullptr, nullptr);
                   rc != MOSQ_ERR_SUCCESS) {
            fail(team::LinkFailure::CertificateBad,
                 "the CA file " + m_settings.caFile + " cannot be used");
            return;
        }
        mosquitto_tls_insecure_set(m_client, false);  // the host name must match
    }
    const int rc = mosquitto_connect_async(m_client, address.c_str(), m_settings.port,
                                           m_settings.keepAliveSeconds);
    m_socket = mosquitto_socket(m_client);
    if (rc == MOSQ_ERR_TLS) {
        fail(team::LinkFailure::CertificateBad, tlsDetail());  // the handshake can end at once
        return;
    }
    if (rc != MOSQ_ERR_SUCCESS || m_socket < 0) {
        fail(team::LinkFailure::Unreachable, errorDetail(rc));
        return;
    }
    m_readNotifier = new QSocketNotifier(m_socket, QSocketNotifier::Read, this);
    m_writeNotifier = new QSocketNotifier(m_socket, QSocketNotifier::Write, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &QtTeamLink::onReadable);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &QtTeamLink::onWritable);
    m_housekeeping.start();
    updateWriteInterest();
}

std::optional<int> QtTeamLink::publish(const std::string& topic, const std::string& payload,
                                       int qos, bool retain) {
    if (!m_up || m_client == nullptr) {
        return std::nullopt;
    }
    int id = 0;
    const int rc = mosquitto_publish(m_client, &id, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), qos, retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        return std::nullopt;
    }
    updateWriteInterest();
    return id;
}

bool QtTeamLink::subscribe(const std::string& filter, int qos) {
    if (!m_up || m_client == nullptr) {
        return false;
    }
    const bool ok = mosquitto_subscribe(m_client, nullptr, filter.c_str(), qos) == MOSQ_ERR_SUCCESS;
    updateWriteInterest();
    return ok;
}

// The client reads one packet a call. Over TLS the next ones may already sit decrypted in
// OpenSSL's buffer, where the socket notifier cannot see them: they are read at once.
void QtTeamLink::onReadable() {
    if (m_client == nullptr) {
        return;
    }
    int rc = mosquitto_loop_read(m_client, 1);
    for (int more = 0;
         more < 64 && rc == MOSQ_ERR_SUCCESS && mosquitto_socket(m_client) == m_socket; ++more) {
        auto* ssl = static_cast<SSL*>(mosquitto_ssl_get(m_client));
        if (ssl == nullptr || SSL_pending(ssl) <= 0) {
            break;
        }
        rc = mosquitto_loop_read(m_client, 1);
    }
    afterClientCall(rc);
}

void QtTeamLink::onWritable() {
    if (m_client != nullptr) {
        afterClientCall(mosquitto_loop_write(m_client, 1));
    }
}

void QtTeamLink::onHousekeeping() {
    if (m_client != nullptr) {
        afterClientCall(mosquitto_loop_misc(m_client));
    }
}

// After each call into the client: its events go to the listener, then a broken connection is
// dropped and told (a refused one by its answer, else by the error the call returned).
void QtTeamLink::afterClientCall(int rc) {
    const int savedErrno = errno;
    const bool broken = rc != MOSQ_ERR_SUCCESS || mosquitto_socket(m_client) != m_socket;
    int refusal = 0;
    for (const Event& event : m_events) {
        if (event.kind == Event::Connack && event.code != 0) {
            refusal = event.code;
        }
    }
    const bool wasUp = m_up;
    const uint64_t connection = m_connection;
    if (broken) {
        // The socket may be closed already: not watched while the listener runs.
        for (QSocketNotifier* notifier : {m_readNotifier, m_writeNotifier}) {
            if (notifier != nullptr) {
                notifier->setEnabled(false);
            }
        }
    }
    deliver();
    if (m_client == nullptr || m_connection != connection) {
        return;  // dropped (or even replaced) while a listener ran an event loop
    }
    if (refusal == 4 || refusal == 5) {
        fail(team::LinkFailure::LoginRefused,
             "user \"" + m_settings.user +
                 "\": " + (refusal == 4 ? "bad user name or password" : "not authorised"));
    } else if (refusal != 0) {
        std::string answer = mosquitto_connack_string(refusal);
        if (answer.ends_with('.')) {
            answer.pop_back();
        }
        fail(team::LinkFailure::BrokerRefused, answer);
    } else if (!broken) {
        updateWriteInterest();
    } else if (rc == MOSQ_ERR_TLS) {
        fail(team::LinkFailure::CertificateBad, tlsDetail());
    } else if (wasUp || m_up) {
        drop();  // the link went down: plots wait, the next attempt comes by itself
    } else {
        errno = savedErrno;
        fail(team::LinkFailure::Unreachable, errorDetail(rc));
    }
}

void QtTeamLink::updateWriteInterest() {
    if (m_writeNotifier != nullptr && m_client != nullptr) {
        m_writeNotifier->setEnabled(mosquitto_want_write(m_client));
    }
}

void QtTeamLink::deliver() {
    if (m_delivering) {
        return;  // a listener ran an event loop; the outer call goes on with the queue
    }
    m_delivering = true;
    while (!m_events.empty()) {
        Event event = std::move(m_events.front());
        m_events.pop_front();
        if (event.kind == Event::Connack) {
            if (event.code == 0) {
                m_up = true;
                m_connectTimeout.stop();
                m_failures.connected();
                if (m_listener != nullptr) {
                    m_listener->linkUp();
                }
            }
        } else if (m_listener == nullptr) {
        } else if (event.kind == Event::Published) {
            m_listener->published(event.code);
        } else {
            m_listener->messageArrived(event.topic, event.payload);
        }
    }
    m_delivering = false;
}

void QtTeamLink::fail(team::LinkFailure kind, const std::string& detail) {
    drop();
    if (const auto text = m_failures.failed(kind, brokerText(), detail)) {
        // Shown from the event loop, never from inside the client or its listener.
        QTimer::singleShot(0, this, [this, message = *text]() {
            m_messages.show(message, "Kestrelmap", kestrel::MessageButtons::Ok, false);
        });
    }
}

void QtTeamLink::drop() {
    m_connectTimeout.stop();
    m_housekeeping.stop();
    if (m_lookupId != -1) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    for (QSocketNotifier** notifier : {&m_readNotifier, &m_writeNotifier}) {
        if (*notifier != nullptr) {
            (*notifier)->setEnabled(false);
            (*notifier)->deleteLater();
            *notifier = nullptr;
        }
    }
    if (m_client != nullptr) {
        mosquitto_destroy(m_client);
        m_client = nullptr;
    }
    m_socket = -1;
    m_events.clear();
    const bool wasUp = m_up;
    m_up = false;
    if (wasUp && m_listener != nullptr) {
        m_listener->linkDown();
    }
    scheduleRetry();
}

void QtTeamLink::scheduleRetry() {
    if (!m_running || m_retry.isActive()) {
        return;
    }
    const qint64 wait = m_lastAttemptMs + m_settings.retryMs - nowMs();
    m_retry.start(static_cast<int>(std::clamp<qint64>(wait, 0, m_settings.retryMs)));
}

std::string QtTeamLink::errorDetail(int rc) const {
    if (rc == MOSQ_ERR_ERRNO) {
        return std::strerror(errno);
    }
    if (rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST) {
        return "connection closed";
    }
    return mosquitto_strerror(rc);
}

std::string QtTeamLink::tlsDetail() const {
    return m_tlsProblem.empty() ? "TLS handshake failed" : m_tlsProblem;
}

void QtTeamLink::onConnect(mosquitto*, void* self, int code) {
    static_cast<QtTeamLink*>(self)->m_events.push_back({Event::Connack, code, {}, {}});
}

void QtTeamLink::onPublish(mosquitto*, void* self, int messageId) {
    static_cast<QtTeamLink*>(self)->m_events.push_back({Event::Published, messageId, {}, {}});
}

void QtTeamLink::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    std::string payload;
    if (message->payload != nullptr && message->payloadlen > 0) {
        payload.assign(static_cast<const char*>(message->payload),
                       static_cast<size_t>(message->payloadlen));
    }
    static_cast<QtTeamLink*>(self)->m_events.push_back(
        {Event::Message, 0, message->topic != nullptr ? message->topic : "", std::move(payload)});
}

// The client logs why a TLS handshake failed: its own host name check, else OpenSSL's errors,
// when the certificate check's own verdict ("self-signed certificate") is clearer and still
// there to read.
void QtTeamLink::onLog(mosquitto* client, void* self, int, const char* text) {
    auto* link = static_cast<QtTeamLink*>(self);
    if (clientLogWanted()) {
        std::fprintf(stderr, "mosquitto: %s\n", text);
    }
    if (!link->m_tlsProblem.empty()) {
        return;
    }
    if (std::strstr(text, "host name verification failed") != nullptr) {
        link->m_tlsProblem =
            "host name mismatch: the certificate is not for " + link->m_settings.host;
        return;
    }
    if (std::strncmp(text, "OpenSSL Error", 13) != 0) {
        return;
    }
    if (auto* ssl = static_cast<SSL*>(mosquitto_ssl_get(client))) {
        const long verdict = SSL_get_verify_result(ssl);
        if (verdict != X509_V_OK) {
            link->m_tlsProblem = X509_verify_cert_error_string(verdict);
            return;
        }
    }
    const char* reason = std::strstr(text, ": ");
    link->m_tlsProblem = reason != nullptr ? reason + 2 : text;
}

}  // namespace kestrel::qt
