#pragma once
// A GPS shared through gpsd: a TCP connection to the daemon that asks for the receiver's NMEA
// stream and hands on whole sentences. While gpsd cannot be reached, or answers with something
// other than gpsd's reports, it tries again once a second until stopped. It only moves
// sentences; what they mean is the core's business.

#include <QObject>
#include <QTcpSocket>
#include <QTimer>
#include <string>

#include "instruments/gpsd_stream.h"

namespace kestrel::qt {

class QtGpsdInput : public QObject {
    Q_OBJECT
  public:
    explicit QtGpsdInput(QObject* parent = nullptr);
    ~QtGpsdInput() override;

    void setAddress(const QString& host, quint16 port);
    // "gpsd at localhost:2947"
    QString where() const;
    void start();  // connects now, and again after every failure, until stop()
    void stop();
    bool isStarted() const { return m_wanted; }

  signals:
    // Whole NMEA sentences, each ending in CR LF.
    void sentences(const std::string& text);
    // The connection failed or ended, for `reason`; a try follows in a second.
    void failed(const QString& reason);
    // gpsd answered after start() or after a failure.
    void reached();

  private:
    void onConnected();
    void onReadyRead();
    void onError(QAbstractSocket::SocketError error);
    void onDisconnected();
    void onAnswerTimeout();
    void fail(const QString& reason);
    void connectNow();

    QString m_host = QStringLiteral("localhost");
    quint16 m_port = 2947;
    bool m_wanted = false;
    bool m_connected = false;  // gpsd has answered on this connection
    QTcpSocket m_socket;
    QTimer m_retry;   // single shot, one second after a failure
    QTimer m_answer;  // single shot: gpsd greets at once; a peer that does not is dropped
    instruments::GpsdStream m_stream;
};

}  // namespace kestrel::qt
