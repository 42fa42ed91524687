#include "platform/qt/gpsd_input_qt.h"

namespace kestrel::qt {

namespace {
constexpr int kRetryIntervalMs = 1000;
constexpr int kAnswerTimeoutMs = 5000;
}  // namespace

QtGpsdInput::QtGpsdInput(QObject* parent) : QObject(parent) {
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryIntervalMs);
    m_answer.setSingleShot(true);
    m_answer.setInterval(kAnswerTimeoutMs);
    connect(&m_socket, &QTcpSocket::connected, this, &QtGpsdInput::onConnected);
    connect(&m_socket, &QTcpSocket::readyRead, this, &QtGpsdInput::onReadyRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &QtGpsdInput::onError);
    connect(&m_socket, &QTcpSocket::disconnected, this, &QtGpsdInput::onDisconnected);
    connect(&m_retry, &QTimer::timeout, this, &QtGpsdInput::connectNow);
    connect(&m_answer, &QTimer::timeout, this, &QtGpsdInput::onAnswerTimeout);
}

QtGpsdInput::~QtGpsdInput() {
    m_socket.disconnect(this);
    m_retry.stop();
    m_answer.stop();
    m_socket.abort();
}

void QtGpsdInput::setAddress(const QString& host, quint16 port) {
    m_host = host;
    m_port = port;
}

QString QtGpsdInput::where() const {
    return QStringLiteral("gpsd at %1:%2").arg(m_host).arg(m_port);
}

void QtGpsdInput::start() {
    m_wanted = true;
    if (m_socket.state() == QAbstractSocket::UnconnectedState && !m_retry.isActive()) {
        connectNow();
    }
}

void QtGpsdInput::stop() {
    m_wanted = false;
    m_connected = false;
    m_retry.stop();
    m_answer.stop();
    m_socket.abort();
    m_stream.reset();
}

void QtGpsdInput::connectNow() {
    if (!m_wanted) {
        return;
    }
    m_connected = false;
    m_stream.reset();
    m_socket.abort();
    m_socket.connectToHost(m_host, m_port);
}

void QtGpsdInput::onConnected() {
    m_socket.write(instruments::kGpsdWatchCommand.data(),
                   qint64(instruments::kGpsdWatchCommand.size()));
    m_answer.start();
}

void QtGpsdInput::onReadyRead() {
    const QByteArray bytes = m_socket.readAll();
    const std::string text =
        m_stream.take(std::string_view(bytes.constData(), size_t(bytes.size())));
    if (!m_connected && m_stream.heardGpsd()) {
        m_connected = true;
        m_answer.stop();
        emit reached();
    }
    // Sentences count only from a peer that has shown itself to be gpsd.
    if (m_connected && !text.empty()) {
        emit sentences(text);
    }
}

void QtGpsdInput::onError(QAbstractSocket::SocketError error) {
    if (error == QAbstractSocket::RemoteHostClosedError) {
        fail(QStringLiteral("closed the connection"));
        return;
    }
    fail(m_socket.errorString().toLower());
}

void QtGpsdInput::onDisconnected() {
    fail(QStringLiteral("closed the connection"));
}

void QtGpsdInput::onAnswerTimeout() {
    fail(QStringLiteral("no answer from gpsd"));
}

// Every way a connection ends comes here, often twice (an error, then the disconnection):
// the retry is armed once and the failure reported once for each connection.
void QtGpsdInput::fail(const QString& reason) {
    if (!m_wanted || m_retry.isActive()) {
        return;
    }
    m_retry.start();  // first: aborting below may report the disconnection once more
    m_connected = false;
    m_answer.stop();
    m_stream.reset();
    m_socket.abort();
    emit failed(reason);
}

}  // namespace kestrel::qt
