#pragma once
// Clients of the live map server in the test's own event loop: a raw TCP connection from a
// chosen loopback address that reads answers as they arrive, and a WebSocket page that
// records what it is told.

#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QWebSocket>
#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "event_wait.h"

namespace kestrel::test {

struct HttpAnswer {
    int status = 0;
    QByteArray head;  // status line and headers, through the empty line
    std::vector<std::pair<QByteArray, QByteArray>> headers;  // names in lower case
    QByteArray body;

    std::optional<QByteArray> header(const QByteArray& lowerName) const {
        for (const auto& [name, value] : headers) {
            if (name == lowerName) {
                return value;
            }
        }
        return std::nullopt;
    }
};

class RawClient {
  public:
    // Connects from `from` (any loopback address) to 127.0.0.1:`port`.
    RawClient(quint16 port, const QString& from) {
        QObject::connect(&m_socket, &QIODevice::readyRead,
                         [this]() { m_received += m_socket.readAll(); });
        QObject::connect(&m_socket, &QAbstractSocket::disconnected, [this]() { m_closed = true; });
        m_socket.bind(QHostAddress(from));
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        m_started.start();
    }

    bool waitConnected(int timeoutMs = 2000) {
        return waitFor([this]() { return m_socket.state() == QAbstractSocket::ConnectedState; },
                       timeoutMs);
    }
    void send(const QByteArray& bytes) { m_socket.write(bytes); }
    bool closed() const {
        return m_closed || m_socket.state() == QAbstractSocket::UnconnectedState;
    }
    // Milliseconds from the connection's start until it was closed; -1 when it was still open
    // `byMs` after its start.
    qint64 msUntilClosed(qint64 byMs) {
        const int left = int(std::max<qint64>(0, byMs - m_started.elapsed()));
        return waitFor([this]() { return closed(); }, left) ? m_started.elapsed() : -1;
    }
    qint64 msSinceStart() const { return m_started.elapsed(); }
    QByteArray unread() const { return m_received.mid(m_used); }
    void abort() { m_socket.abort(); }

    // The next whole answer (no body after a HEAD); none when it did not come in time.
    std::optional<HttpAnswer> nextAnswer(bool headOnly = false, int timeoutMs = 2000) {
        std::optional<HttpAnswer> answer;
        waitFor([&]() { return (answer = parsed(headOnly)) || closed(); }, timeoutMs);
        return answer ? answer : parsed(headOnly);
    }

  private:
    std::optional<HttpAnswer> parsed(bool headOnly) {
        const qsizetype end = m_received.indexOf("\r\n\r\n", m_used);
        if (end < 0) {
            return std::nullopt;
        }
        HttpAnswer answer;
        answer.head = m_received.mid(m_used, end + 4 - m_used);
        const QList<QByteArray> lines = answer.head.trimmed().split('\n');
        const QList<QByteArray> status = lines.front().split(' ');
        answer.status = status.size() > 1 ? status[1].toInt() : 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            answer.headers.emplace_back(lines[i].left(colon).trimmed().toLower(),
                                        lines[i].mid(colon + 1).trimmed());
        }
        const qsizetype length =
            headOnly ? 0 : answer.header("content-length").value_or("0").toInt();
        if (m_received.size() < end + 4 + length) {
            return std::nullopt;
        }
        answer.body = m_received.mid(end + 4, length);
        m_used = end + 4 + length;
        return answer;
    }

    QTcpSocket m_socket;
    QElapsedTimer m_started;
    QByteArray m_received;
    qsizetype m_used = 0;
    bool m_closed = false;
};

// A page at ws://127.0.0.1:<port>/live whose handshake carries `origin` (none when empty).
class PageClient {
  public:
    PageClient(quint16 port, const QByteArray& origin) {
        QObject::connect(&m_socket, &QWebSocket::connected, [this]() { m_connected = true; });
        QObject::connect(&m_socket, &QWebSocket::disconnected, [this]() { m_ended = true; });
        QObject::connect(&m_socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error),
                         [this]() { m_ended = true; });
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived, [this](const QString& text) {
            messages.push_back(QJsonDocument::fromJson(text.toUtf8()).object());
        });
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/live").arg(port)));
        if (!origin.isEmpty()) {
            request.setRawHeader("Origin", origin);
        }
        m_socket.open(request);
    }

    // Waits until a message of `type` has come; its index, or -1.
    int waitMessage(const QString& type, size_t from = 0, int timeoutMs = 2000) {
        int found = -1;
        waitFor(
            [&]() {
                for (size_t i = from; i < messages.size(); ++i) {
                    if (messages[i].value("type").toString() == type) {
                        found = int(i);
                        return true;
                    }
                }
                return m_ended;
            },
            timeoutMs);
        return found;
    }
    bool waitEnded(int timeoutMs = 2000) {
        return waitFor([this]() { return m_ended; }, timeoutMs);
    }
    bool everConnected() const { return m_connected; }

    std::vector<QJsonObject> messages;

  private:
    QWebSocket m_socket;
    bool m_connected = false;
    bool m_ended = false;
};

}  // namespace kestrel::test
