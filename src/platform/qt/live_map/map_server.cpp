#include "platform/qt/live_map/map_server.h"

#include <QHostInfo>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <chrono>
#include <utility>

namespace kestrel::qt {

// A listening socket whose connections the map server makes itself: TLS ones for visitors from
// the network when the map has a certificate.
class MapListener : public QTcpServer {
  public:
    explicit MapListener(std::function<QTcpSocket*(qintptr, MapListener&)> make)
        : m_make(std::move(make)) {}

  protected:
    void incomingConnection(qintptr descriptor) override {
        if (QTcpSocket* socket = m_make(descriptor, *this)) {
            addPendingConnection(socket);
        }
    }

  private:
    std::function<QTcpSocket*(qintptr, MapListener&)> m_make;
};

namespace {

// A client that does not read what it asked for is not given more.
constexpr qint64 kMaxUnsentBytes = 4 << 20;
// A page's messages are small; anything larger from it is a fault.
constexpr quint64 kMaxPageMessageBytes = 1024;
// Requests answered in one turn of the event loop (each takes some 25 microseconds: a line from
// the serial line waits for at most one turn), and the pause after a full turn, so that clients
// that ask without end get some 1000 answers a second and leave the processor to the panel.
constexpr int kRequestsPerTurn = 2;
constexpr int kBusyPauseMs = 2;

QTimer* timerOf(QTcpSocket* socket) {
    return socket->findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly);
}

// An IPv4 address arriving over IPv6 is written as IPv4.
QHostAddress plainAddress(const QHostAddress& address) {
    bool v4 = false;
    const quint32 ip = address.toIPv4Address(&v4);
    return v4 ? QHostAddress(ip) : address;
}

bool fromNetwork(const QTcpSocket* socket) {
    return socket->property("kmNetwork").toBool();
}

bool keepsAlive(const live_map::RequestHead& head) {
    const auto connection = head.header("connection");
    const bool close =
        connection && QString::fromLatin1(connection->data(), qsizetype(connection->size()))
                          .contains(QLatin1String("close"), Qt::CaseInsensitive);
    return head.version == "HTTP/1.1" && !close;
}

}  // namespace

MapServer::MapServer(Responder responder, std::function<std::string()> hello, QObject* parent)
    : QObject(parent),
      m_responder(std::move(responder)),
      m_hello(std::move(hello)),
      m_sockets(QStringLiteral("Kestrelmap"), QWebSocketServer::NonSecureMode) {
    m_sockets.setHandshakeTimeout(std::chrono::milliseconds(live_map::kHeadTimeoutMs));
    connect(&m_sockets, &QWebSocketServer::newConnection, this, &MapServer::pageConnected);
    m_turn.setSingleShot(true);
    m_turn.setTimerType(Qt::PreciseTimer);
    connect(&m_turn, &QTimer::timeout, this, &MapServer::serveTurn);
}

MapServer::~MapServer() {
    for (QWebSocket* page : std::exchange(m_pages, {})) {
        page->disconnect(this);
        delete page;
    }
    for (auto& listener : m_listeners) {
        listener->close();
    }
}

int64_t MapServer::nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The head timer runs while a request is being received, the idle timer between requests.
void MapServer::awaitHead(QTcpSocket* socket) const {
    socket->setProperty("kmHead", true);
    timerOf(socket)->start(m_headTimeoutMs);
}

void MapServer::awaitIdle(QTcpSocket* socket) const {
    socket->setProperty("kmHead", false);
    timerOf(socket)->start(m_idleTimeoutMs);
}

bool MapServer::listen(int port, std::string& error, std::optional<MapSharing> sharing) {
    const auto listenOn = [&](const QHostAddress& address, quint16 at) -> MapListener* {
        auto listener = std::make_unique<MapListener>(
            [this](qintptr descriptor, MapListener& from) { return incoming(descriptor, from); });
        if (!listener->listen(address, at)) {
            const QString where = address.protocol() == QAbstractSocket::IPv6Protocol
                                      ? QStringLiteral("[%1]").arg(address.toString())
                                      : address.toString();
            error = where.toStdString() + ":" + std::to_string(at) + " cannot be had (" +
                    listener->errorString().toStdString() + ")";
            return nullptr;
        }
        MapListener* raw = listener.get();
        connect(raw, &QTcpServer::newConnection, this, [this, raw]() { accept(*raw); });
        m_listeners.push_back(std::move(listener));
        return raw;
    };
    const bool everywhere = sharing && sharing->address.isNull();
    MapListener* first = listenOn(
        everywhere ? QHostAddress(QHostAddress::AnyIPv4) : QHostAddress(QHostAddress::LocalHost),
        static_cast<quint16>(port));
    if (!first) {
        return false;
    }
    m_port = first->serverPort();
    // A machine without IPv6 is served on IPv4 alone.
    listenOn(everywhere ? QHostAddress(QHostAddress::AnyIPv6)
                        : QHostAddress(QHostAddress::LocalHostIPv6),
             quint16(m_port));
    if (sharing && !everywhere && !sharing->address.isLoopback() &&
        !listenOn(sharing->address, quint16(m_port))) {
        m_listeners.clear();
        m_port = 0;
        return false;
    }
    error.clear();
    if (sharing) {
        m_access = std::make_unique<live_map::MapAccess>(sharing->key, sharing->tls.has_value());
        // Tests shorten the minute an address is refused for.
        if (const int ms = qEnvironmentVariableIntValue("KESTRELMAP_MAP_LOCKOUT_MS"); ms > 0) {
            m_access->setLockoutMs(ms);
        }
        m_tls = sharing->tls;
        m_hostName = QHostInfo::localHostName().toLower().toStdString();
    }
    return true;
}

// Every connection is made here: plain for loopback, TLS for the network when the map has a
// certificate (the request is read once the handshake is through).
QTcpSocket* MapServer::incoming(qintptr descriptor, MapListener& listener) {
    QTcpSocket* socket = m_tls ? new QSslSocket(&listener) : new QTcpSocket(&listener);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return nullptr;
    }
    const bool network = !plainAddress(socket->peerAddress()).isLoopback() ||
                         !plainAddress(socket->localAddress()).isLoopback();
    socket->setProperty("kmNetwork", network);
    if (network && !m_access) {  // cannot happen: the listeners are on loopback then
        delete socket;
        return nullptr;
    }
    if (network && m_tls) {
        auto* secure = static_cast<QSslSocket*>(socket);
        secure->setSslConfiguration(*m_tls);
        connect(secure, &QSslSocket::sslErrors, secure, [secure]() { secure->abort(); });
        secure->startServerEncryption();
    }
    return socket;
}

void MapServer::accept(MapListener& server) {
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        const std::string address = plainAddress(socket->peerAddress()).toString().toStdString();
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        if (!m_limits.admit(address)) {
            socket->write(
                live_map::answerText(live_map::refusalAnswer({503, "too many connections"}), false,
                                     false, m_imageOrigin)
                    .c_str());
            socket->disconnectFromHost();
            continue;
        }
        connect(socket, &QObject::destroyed, this,
                [this, address]() { m_limits.release(address); });
        // The timer is also the context of the request handling: deleting it ends both.
        auto* timer = new QTimer(socket);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, socket, [socket]() { socket->abort(); });
        connect(socket, &QIODevice::readyRead, timer, [this, socket]() { schedule(socket); });
        // An answer still being sent is no idle connection: a slow reader is cut off only when
        // it takes nothing for the idle time.
        connect(socket, &QIODevice::bytesWritten, timer, [this, socket]() {
            if (!socket->property("kmHead").toBool()) {
                awaitIdle(socket);
            }
            schedule(socket);
        });
        awaitHead(socket);
    }
}

void MapServer::schedule(QTcpSocket* socket) {
    if (std::find(m_waiting.begin(), m_waiting.end(), socket) == m_waiting.end()) {
        m_waiting.emplace_back(socket);
    }
    if (!m_turn.isActive()) {
        m_turn.start(0);
    }
}

// A socket that was answered goes to the back of the line: one client cannot keep the others,
// or the panel, waiting.
void MapServer::serveTurn() {
    int answered = 0;
    while (answered < kRequestsPerTurn && !m_waiting.empty()) {
        const QPointer<QTcpSocket> socket = m_waiting.front();
        m_waiting.pop_front();
        if (socket && serveOne(socket)) {
            ++answered;
            m_waiting.push_back(socket);
        }
    }
    if (!m_waiting.empty()) {  // a full turn: the others' turn first
        m_turn.start(kBusyPauseMs);
    }
}

// Heads are looked at where they lie in the socket's buffer and taken from it only once
// answered here: a WebSocket upgrade is handed over with its head still unread.
bool MapServer::serveOne(QTcpSocket* socket) {
    if (socket->state() != QAbstractSocket::ConnectedState ||
        socket->bytesToWrite() >= kMaxUnsentBytes || socket->bytesAvailable() == 0 ||
        !timerOf(socket)) {
        return false;
    }
    const QByteArray bytes =
        socket->peek(std::min<qint64>(socket->bytesAvailable(), live_map::kMaxHeadBytes + 1));
    // (a review's body follows its head: answer() waits for it)
    const live_map::HeadParse parse =
        live_map::parseRequestHead(std::string_view(bytes.constData(), size_t(bytes.size())));
    switch (parse.state) {
        case live_map::HeadState::Incomplete:
            if (!socket->property("kmHead").toBool()) {
                awaitHead(socket);
            }
            return false;
        case live_map::HeadState::TooLarge:
            refuse(socket, {431, "request head too large"});
            return false;
        case live_map::HeadState::Malformed:
            refuse(socket, {400, "malformed request"});
            return false;
        case live_map::HeadState::Complete:
            break;
    }
    return answer(socket, parse);
}

// Loopback requests name the loopback host; requests from the network this machine's host name
// or the address they came to.
live_map::HostRule MapServer::hostRule(const QTcpSocket* socket) const {
    if (!fromNetwork(socket)) {
        return live_map::loopbackHosts(quint16(m_port));
    }
    live_map::HostRule rule{quint16(m_port), {}, m_tls.has_value()};
    const QHostAddress local = plainAddress(socket->localAddress());
    QHostAddress bare = local;
    bare.setScopeId(QString());
    rule.names.push_back(local.protocol() == QAbstractSocket::IPv6Protocol
                             ? "[" + bare.toString().toLower().toStdString() + "]"
                             : local.toString().toStdString());
    if (!m_hostName.empty()) {
        rule.names.push_back(m_hostName);
        rule.names.push_back(m_hostName + ".local");
    }
    return rule;
}

bool MapServer::answer(QTcpSocket* socket, const live_map::HeadParse& parse) {
    const live_map::HostRule rule = hostRule(socket);
    if (fromNetwork(socket)) {
        // Host and Origin first (a page of another site learns nothing), then the key or the
        // session, before any route is looked at.
        if (const auto refusal = live_map::checkHostAndOrigin(parse.head, rule)) {
            refuse(socket, *refusal);
            return false;
        }
        const std::string peer = plainAddress(socket->peerAddress()).toString().toStdString();
        if (const auto reply = m_access->check(parse.head, peer, nowMs())) {
            finish(socket, *reply);
            return false;
        }
    }
    const live_map::Routed routed = live_map::routeRequest(parse.head, rule);
    if (const auto* refusal = std::get_if<live_map::Refusal>(&routed)) {
        refuse(socket, *refusal);
        return false;
    }
    const auto& route = std::get<live_map::Route>(routed);
    if (route.kind == live_map::RouteKind::LiveSocket) {
        handOver(socket);
        return false;
    }
    const qint64 bodyLength = qint64(route.bodyLength);
    if (socket->bytesAvailable() < qint64(parse.length) + bodyLength) {
        return false;  // the body is still on its way; the head timer runs on
    }
    socket->skip(qint64(parse.length));
    const QByteArray request = socket->read(bodyLength);
    const bool keepAlive = keepsAlive(parse.head);
    // The head, then the body straight from the responder's document: copied once.
    const live_map::Answer reply =
        m_responder(route, std::string_view(request.constData(), size_t(request.size())));
    socket->write(QByteArray::fromStdString(live_map::answerHead(reply, keepAlive, m_imageOrigin)));
    const std::string_view body = reply.bodyText();
    const int status = reply.status;
    if (!route.headOnly && status >= 200 && status != 204 && status != 304) {
        socket->write(body.data(), qint64(body.size()));
    }
    if (!keepAlive) {
        socket->disconnectFromHost();
        return false;
    }
    if (socket->bytesAvailable() > 0) {
        awaitHead(socket);
    } else {
        awaitIdle(socket);
    }
    return true;
}

void MapServer::refuse(QTcpSocket* socket, const live_map::Refusal& refusal) {
    live_map::Answer answer = live_map::refusalAnswer(refusal);
    if (refusal.status == 405) {
        answer.extraHeaders.emplace_back("Allow", "GET, HEAD");
    }
    finish(socket, answer);
}

void MapServer::finish(QTcpSocket* socket, const live_map::Answer& answer) {
    socket->skip(socket->bytesAvailable());
    delete timerOf(socket);
    socket->write(
        QByteArray::fromStdString(live_map::answerText(answer, false, false, m_imageOrigin)));
    socket->disconnectFromHost();
}

void MapServer::setKey(std::string key) {
    if (!m_access) {
        return;
    }
    m_access->setKey(std::move(key));
    for (QWebSocket* page : std::vector(m_pages)) {
        if (!plainAddress(page->peerAddress()).isLoopback()) {
            page->abort();
        }
    }
    for (auto& listener : m_listeners) {
        for (QTcpSocket* socket :
             listener->findChildren<QTcpSocket*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (fromNetwork(socket)) {
                socket->abort();
            }
        }
    }
}

// The WebSocket server reads the upgrade itself and owns the socket from then on.
void MapServer::handOver(QTcpSocket* socket) {
    disconnect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    delete timerOf(socket);
    m_sockets.handleConnection(socket);
}

void MapServer::pageConnected() {
    while (QWebSocket* page = m_sockets.nextPendingConnection()) {
        page->setMaxAllowedIncomingFrameSize(kMaxPageMessageBytes);
        page->setMaxAllowedIncomingMessageSize(kMaxPageMessageBytes);
        m_pages.push_back(page);
        connect(page, &QWebSocket::disconnected, this, [this, page]() {
            std::erase(m_pages, page);
            page->deleteLater();
        });
        page->sendTextMessage(QString::fromStdString(m_hello()));
    }
}

void MapServer::broadcast(const std::string& message) {
    const QString text = QString::fromUtf8(message.data(), qsizetype(message.size()));
    for (QWebSocket* page : std::vector(m_pages)) {
        if (page->bytesToWrite() > kMaxUnsentBytes) {
            page->abort();  // a page that reads nothing: it reconnects and starts afresh
            continue;
        }
        page->sendTextMessage(text);
    }
}

}  // namespace kestrel::qt
