#pragma once
// A real mosquitto broker on loopback for the team link's tests, in a scratch folder: a plain
// listener and a TLS listener on free ports, logins from a password file made with
// mosquitto_passwd, a throwaway CA and a server certificate for IP 127.0.0.1 only (so the name
// "localhost" is not in it), made with the openssl command line, and persistence, so that a
// stopped and restarted broker keeps its sessions. Nothing is left running afterwards.

#include <pwd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "event_wait.h"

namespace kestrel::team::test {

inline QCoreApplication* coreApp() {
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "kestrel_team_link_tests";
        static char* argv[] = {name, nullptr};
        static QCoreApplication* app = new QCoreApplication(argc, argv);
        return app;
    }
    return QCoreApplication::instance();
}

using kestrel::test::freePort;
using kestrel::test::runFor;
using kestrel::test::waitFor;

class BrokerRig {
  public:
    // Logins: each vehicle's name with the password "pw-<name>".
    explicit BrokerRig(const std::vector<std::string>& users) {
        m_mosquitto = QStandardPaths::findExecutable("mosquitto");
        if (m_mosquitto.isEmpty()) {
            m_mosquitto =
                QStandardPaths::findExecutable("mosquitto", {"/usr/sbin", "/usr/local/sbin"});
        }
        if (m_mosquitto.isEmpty() || QStandardPaths::findExecutable("openssl").isEmpty() ||
            QStandardPaths::findExecutable("mosquitto_passwd").isEmpty()) {
            problem = "mosquitto, mosquitto_passwd or openssl is not installed";
            return;
        }
        plainPort = freePort();
        do {
            tlsPort = freePort();
        } while (plainPort != 0 && tlsPort == plainPort);
        if (plainPort == 0 || tlsPort == 0) {
            problem = "no free TCP port on the loopback";
            return;
        }
        const QString ec = "ec_paramgen_curve:prime256v1";
        const bool made =
            run("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", ec, "-nodes", "-keyout",
                            path("ca.key"), "-out", path("ca.pem"), "-days", "2", "-subj",
                            "/CN=Kestrelmap test CA"}) &&
            run("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", ec, "-nodes", "-keyout",
                            path("other.key"), "-out", path("other-ca.pem"), "-days", "2", "-subj",
                            "/CN=Someone else"}) &&
            run("openssl",
                {"req", "-newkey", "ec", "-pkeyopt", ec, "-nodes", "-keyout", path("server.key"),
                 "-out", path("server.csr"), "-subj", "/CN=127.0.0.1"}) &&
            write("san.cnf", "subjectAltName=IP:127.0.0.1\n") &&
            run("openssl", {"x509", "-req", "-in", path("server.csr"), "-CA", path("ca.pem"),
                            "-CAkey", path("ca.key"), "-CAcreateserial", "-out", path("server.pem"),
                            "-days", "2", "-extfile", path("san.cnf")});
        if (!made) {
            problem = "openssl could not make the certificates";
            return;
        }
        bool first = true;
        for (const std::string& user : users) {
            QStringList args{"-b", path("passwd"), QString::fromStdString(user),
                             QString::fromStdString("pw-" + user)};
            if (first) {
                args.prepend("-c");
            }
            first = false;
            if (!run("mosquitto_passwd", args)) {
                problem = "mosquitto_passwd failed";
                return;
            }
        }
        const passwd* me = ::getpwuid(::getuid());
        write("mosquitto.conf",
              "per_listener_settings false\nallow_anonymous false\npassword_file " +
                  path("passwd") + "\npersistence true\npersistence_location " + m_dir.path() +
                  "/\nautosave_interval 0\nlog_dest file " + path("broker.log") + "\nuser " +
                  QString::fromLocal8Bit(me != nullptr ? me->pw_name : "root") + "\nlistener " +
                  QString::number(plainPort) + " 127.0.0.1\nlistener " + QString::number(tlsPort) +
                  " 127.0.0.1\ncafile " + path("ca.pem") + "\ncertfile " + path("server.pem") +
                  "\nkeyfile " + path("server.key") + "\n");
    }
    ~BrokerRig() { stop(); }

    bool start() {
        if (!problem.isEmpty()) {
            return false;
        }
        m_broker.setProgram(m_mosquitto);
        m_broker.setArguments({"-c", path("mosquitto.conf")});
        m_broker.start();
        if (!m_broker.waitForStarted(3000)) {
            return false;
        }
        // Ready when the plain listener answers.
        return waitFor(
            [&]() {
                QTcpSocket probe;
                probe.connectToHost("127.0.0.1", static_cast<quint16>(plainPort));
                return probe.waitForConnected(100);
            },
            3000);
    }

    // SIGTERM: the broker saves its sessions and ends.
    void stop() {
        if (m_broker.state() != QProcess::NotRunning) {
            m_broker.terminate();
            if (!m_broker.waitForFinished(3000)) {
                m_broker.kill();
                m_broker.waitForFinished(1000);
            }
        }
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }
    std::string stdPath(const QString& name) const { return path(name).toStdString(); }

    QString problem;  // why the rig cannot run, or empty
    int plainPort = 0;
    int tlsPort = 0;

  private:
    bool run(const QString& program, const QStringList& args) {
        QProcess process;
        process.start(program, args);
        return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }
    bool write(const QString& name, const QString& text) {
        QFile file(path(name));
        return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) == text.toUtf8().size();
    }

    QTemporaryDir m_dir;
    QString m_mosquitto;
    QProcess m_broker;
};

}  // namespace kestrel::team::test
