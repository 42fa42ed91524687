#pragma once
// The live map's HTTP server on loopback, on the user-interface thread: it accepts
// connections within the limits of live_map/connection_limits.h, reads each request head
// within 8 KiB and 10 s, lets live_map/router.h decide, and writes the answer its responder
// makes from prepared documents. "/live" is handed to a WebSocket server: the open pages,
// which get every change message. Requests are answered a few at a time, one turn of the event
// loop after another, so that however many clients ask at once the serial line and the panel
// are served in between. It owns its sockets and nothing of the hunt.

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QTimer>
#include <QWebSocketServer>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "live_map/connection_limits.h"
#include "live_map/map_access.h"
#include "live_map/router.h"

class QTcpSocket;
class QWebSocket;

namespace kestrel::qt {

class MapListener;

// The map shared beyond loopback: on every address of the machine (or one), visitors from the
// network with the link's key, over TLS when a certificate is given. Loopback is served as
// when the map is not shared, always in plain HTTP.
struct MapSharing {
    QHostAddress address;  // null: every address
    std::string key;
    std::optional<QSslConfiguration> tls;
};

class MapServer : public QObject {
  public:
    // Makes the answer to a routed request and its body (a review's; else empty); it must not
    // block.
    using Responder = std::function<live_map::Answer(const live_map::Route&, std::string_view)>;
    MapServer(Responder responder, std::function<std::string()> hello, QObject* parent = nullptr);
    ~MapServer() override;

    // Listens on 127.0.0.1 and, where the machine has it, [::1] at `port`, and where `sharing`
    // is given on the network too. False, with the reason for a person, when 127.0.0.1 (or the
    // shared address) cannot be had.
    bool listen(int port, std::string& error, std::optional<MapSharing> sharing = std::nullopt);
    int port() const { return m_port; }
    bool shared() const { return m_access != nullptr; }
    bool tls() const { return m_tls.has_value(); }
    // Who may come from the network; null unless shared.
    const live_map::MapAccess* access() const { return m_access.get(); }
    // A new link: the sessions of the old key end, and every connection from the network with
    // them.
    void setKey(std::string key);
    // Milliseconds on a clock that only goes forward.
    static int64_t nowMs();
    // Where the page may load images from besides this server (the online tiles' origin).
    void setImageOrigin(std::string origin) { m_imageOrigin = std::move(origin); }

    // How long a request head may take and an idle connection may stay (the defaults are
    // live_map/router.h's; tests shorten them).
    void setTimeouts(int headMs, int idleMs) {
        m_headTimeoutMs = headMs;
        m_idleTimeoutMs = idleMs;
    }

    // A change message to every open page.
    void broadcast(const std::string& message);
    size_t pageCount() const { return m_pages.size(); }
    size_t connectionCount() const { return m_limits.total(); }

  private:
    void accept(MapListener& server);
    QTcpSocket* incoming(qintptr descriptor, MapListener& listener);
    live_map::HostRule hostRule(const QTcpSocket* socket) const;
    // Writes a whole answer and closes the connection.
    void finish(QTcpSocket* socket, const live_map::Answer& answer);
    // The socket has bytes to look at, or room to write: it waits for a turn.
    void schedule(QTcpSocket* socket);
    void serveTurn();
    // Answers the socket's next request when its head is there; true when it answered one.
    bool serveOne(QTcpSocket* socket);
    // Answers one complete head; false when the connection was closed or handed over.
    bool answer(QTcpSocket* socket, const live_map::HeadParse& parse);
    void refuse(QTcpSocket* socket, const live_map::Refusal& refusal);
    void handOver(QTcpSocket* socket);
    void pageConnected();
    void awaitHead(QTcpSocket* socket) const;
    void awaitIdle(QTcpSocket* socket) const;

    // Declared before the servers: their sockets release their places here as they go.
    live_map::ConnectionLimits m_limits;
    std::vector<QWebSocket*> m_pages;
    Responder m_responder;
    std::function<std::string()> m_hello;
    std::string m_imageOrigin;
    int m_port = 0;
    int m_headTimeoutMs = live_map::kHeadTimeoutMs;
    int m_idleTimeoutMs = live_map::kIdleTimeoutMs;
    std::deque<QPointer<QTcpSocket>> m_waiting;  // sockets with a request to look at, in turn
    std::unique_ptr<live_map::MapAccess> m_access;
    std::optional<QSslConfiguration> m_tls;
    std::string m_hostName;  // lower case
    QTimer m_turn;
    QWebSocketServer m_sockets;
    std::vector<std::unique_ptr<MapListener>> m_listeners;
};

}  // namespace kestrel::qt
