#include "platform/qt/kraken_input_qt.h"

#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include "instruments/kraken_line.h"

namespace kestrel::qt {

namespace {
constexpr int kAskEveryMs = 500;  // at most twice a second
constexpr int kRetryMs = 1000;    // after a failure
constexpr int kTimeoutMs = 2000;
}  // namespace

QtKrakenInput::QtKrakenInput(QObject* parent) : QObject(parent) {
    m_network.setProxy(QNetworkProxy::NoProxy);  // the direction finder is in the car
    m_next.setSingleShot(true);
    connect(&m_next, &QTimer::timeout, this, &QtKrakenInput::ask);
}

QtKrakenInput::~QtKrakenInput() {
    stop();
}

void QtKrakenInput::setAddress(const QString& host, quint16 port) {
    m_host = host;
    m_port = port;
}

QString QtKrakenInput::where() const {
    const QString host = m_host.contains(u':') ? QStringLiteral("[%1]").arg(m_host) : m_host;
    return QStringLiteral("kraken at %1:%2").arg(host).arg(m_port);
}

void QtKrakenInput::start() {
    m_wanted = true;
    if (!m_reply && !m_next.isActive()) {
        ask();
    }
}

void QtKrakenInput::stop() {
    m_wanted = false;
    m_next.stop();
    if (m_reply) {
        QNetworkReply* reply = m_reply;
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void QtKrakenInput::ask() {
    if (!m_wanted || m_reply) {
        return;
    }
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(m_host);
    url.setPort(m_port);
    url.setPath(QStringLiteral("/DOA_value.html"));
    QNetworkRequest request(url);
    request.setTransferTimeout(kTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    m_body.clear();
    m_tooLarge = false;
    m_sinceAsked.start();
    QNetworkReply* reply = m_network.get(request);
    m_reply = reply;
    connect(reply, &QNetworkReply::readyRead, this, [this, reply]() { onReadyRead(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply]() { onFinished(reply); });
}

// Only the first 64 KiB are kept: a longer answer is refused whole.
void QtKrakenInput::onReadyRead(QNetworkReply* reply) {
    const qint64 room = qint64(instruments::kMaxKrakenAnswerBytes) - m_body.size();
    m_body += reply->read(room + 1);
    if (m_body.size() > qint64(instruments::kMaxKrakenAnswerBytes)) {
        m_tooLarge = true;
        reply->abort();
    }
}

void QtKrakenInput::onFinished(QNetworkReply* reply) {
    reply->deleteLater();
    if (reply != m_reply) {
        return;
    }
    m_reply = nullptr;
    if (!m_tooLarge && reply->error() == QNetworkReply::NoError) {
        onReadyRead(reply);
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QString problem;
    if (m_tooLarge) {
        problem = QStringLiteral("an answer over 64 KiB");
    } else if (reply->error() == QNetworkReply::OperationCanceledError ||
               reply->error() == QNetworkReply::TimeoutError) {
        problem = QStringLiteral("no answer within 2 s");
    } else if (status != 0 && status != 200) {
        problem = QStringLiteral("HTTP %1").arg(status);
    } else if (reply->error() != QNetworkReply::NoError) {
        problem = reply->errorString();
    }
    if (!problem.isEmpty()) {
        if (m_wanted) {
            m_next.start(kRetryMs);
        }
        emit failed(problem);
        return;
    }
    const QByteArray body = m_body;
    m_body.clear();
    if (m_wanted) {
        m_next.start(std::max<qint64>(0, kAskEveryMs - m_sinceAsked.elapsed()));
    }
    emit answer(body);
}

}  // namespace kestrel::qt
