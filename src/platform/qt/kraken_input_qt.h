#pragma once
// An SDR direction finder on the network: its DSP software's GET /DOA_value.html asked at most
// twice a second over one keep-alive connection, never more than one request at a time, each
// within 2 s and 64 KiB. An answer that comes is handed on whole; a failure is told with its
// reason in a few words, and the next try waits a second. It only moves answers; what they
// mean is the core's business (instruments/kraken_line.h).

#include <QByteArray>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QNetworkReply;

namespace kestrel::qt {

class QtKrakenInput : public QObject {
    Q_OBJECT
  public:
    explicit QtKrakenInput(QObject* parent = nullptr);
    ~QtKrakenInput() override;

    void setAddress(const QString& host, quint16 port);
    // "kraken at kraken.local:8081"
    QString where() const;
    void start();  // asks now, and on until stop()
    void stop();
    bool isStarted() const { return m_wanted; }

  signals:
    // A whole answer's body (at most 64 KiB).
    void answer(const QByteArray& body);
    // The request failed for `reason` ("no answer within 2 s", "HTTP 404", "connection
    // refused"); the next one goes in a second.
    void failed(const QString& reason);

  private:
    void ask();
    void onFinished(QNetworkReply* reply);
    void onReadyRead(QNetworkReply* reply);

    QString m_host = QStringLiteral("localhost");
    quint16 m_port = 8081;
    bool m_wanted = false;
    QNetworkAccessManager m_network;
    QPointer<QNetworkReply> m_reply;
    QByteArray m_body;
    bool m_tooLarge = false;
    QTimer m_next;  // single shot: the next request
    QElapsedTimer m_sinceAsked;
};

}  // namespace kestrel::qt
