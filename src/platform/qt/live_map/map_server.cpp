#include "platform/qt/live_map/map_server.h"

#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <utility>

namespace kestrel::qt {

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
    connect(&m_v4, &QTcpServer::newConnection, this, [this]() { accept(m_v4); });
    connect(&m_v6, &QTcpServer::newConnection, this, [this]() { accept(m_v6); });
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
    m_v4.close();
    m_v6.close();
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

bool MapServer::listen(int port, std::string& error) {
    const auto wanted = static_cast<quint16>(port);
    if (!m_v4.listen(QHostAddress::LocalHost, wanted)) {
        error = "127.0.0.1:" + std::to_string(port) + " cannot be had (" +
                m_v4.errorString().toStdString() + ")";
        return false;
    }
    m_port = m_v4.serverPort();
    m_v6.listen(QHostAddress::LocalHostIPv6, quint16(m_port));  // a machine without IPv6: v4 only
    return true;
}

void MapServer::accept(QTcpServer& server) {
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        const std::string address = socket->peerAddress().toString().toStdString();
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

bool MapServer::answer(QTcpSocket* socket, const live_map::HeadParse& parse) {
    const live_map::Routed routed = live_map::routeRequest(parse.head, quint16(m_port));
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
    socket->skip(socket->bytesAvailable());
    delete timerOf(socket);
    socket->write(
        QByteArray::fromStdString(live_map::answerText(answer, false, false, m_imageOrigin)));
    socket->disconnectFromHost();
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
