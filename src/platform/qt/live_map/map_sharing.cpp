#include "platform/qt/live_map/map_sharing.h"

#include <qrencode.h>

#include <QFile>
#include <QNetworkInterface>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <memory>

#include "live_map/key_file.h"

namespace kestrel::qt {

namespace {

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

// The certificate (and the chain after it) and the key, or why they cannot be used.
std::optional<QSslConfiguration> tlsFrom(const live_map::MapSettings& settings,
                                         std::string& problem) {
    if (settings.certificate.empty() != settings.privateKey.empty()) {
        problem = "[map] certificate and private_key go together";
        return std::nullopt;
    }
    if (settings.certificate.empty()) {
        return std::nullopt;
    }
    if (!QSslSocket::supportsSsl()) {
        problem = "this Qt has no TLS";
        return std::nullopt;
    }
    if (const std::string why = live_map::privateKeyProblem(settings.privateKey); !why.empty()) {
        problem = "the private key " + why;
        return std::nullopt;
    }
    const QList<QSslCertificate> chain =
        QSslCertificate::fromPath(text(settings.certificate), QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull()) {
        problem = settings.certificate + " holds no PEM certificate";
        return std::nullopt;
    }
    QFile file(text(settings.privateKey));
    if (!file.open(QIODevice::ReadOnly)) {
        problem =
            settings.privateKey + " cannot be read (" + file.errorString().toStdString() + ")";
        return std::nullopt;
    }
    const QByteArray pem = file.read(1 << 20);
    QSslKey key;
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec}) {
        key = QSslKey(pem, algorithm, QSsl::Pem);
        if (!key.isNull()) {
            break;
        }
    }
    if (key.isNull()) {
        problem = settings.privateKey + " holds no PEM private key (RSA or EC, not encrypted)";
        return std::nullopt;
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(chain.first());
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    return tls;
}

}  // namespace

SharingSetup prepareSharing(const live_map::MapSettings& settings, const std::string& folder) {
    SharingSetup setup;
    if (!settings.share) {
        return setup;
    }
    MapSharing sharing;
    if (!settings.address.empty()) {
        sharing.address = QHostAddress(text(settings.address));
        if (sharing.address.isNull()) {
            setup.problem =
                "[map] address = " + settings.address + ": not an IP address of this computer";
            return setup;
        }
        if (!QNetworkInterface::allAddresses().contains(sharing.address)) {
            setup.problem = settings.address + " is not one of this computer's addresses";
            return setup;
        }
    }
    sharing.tls = tlsFrom(settings, setup.problem);
    if (!setup.problem.empty()) {
        return setup;
    }
    const live_map::KeyRead key = live_map::readOrMakeKey(live_map::keyPath(folder));
    if (key.key.empty()) {
        setup.problem = key.problem;
        return setup;
    }
    setup.notice = key.problem;
    sharing.key = key.key;
    setup.sharing = std::move(sharing);
    return setup;
}

QString shareAddress(const live_map::MapSettings& settings) {
    if (!settings.address.empty()) {
        return text(settings.address);
    }
    QString linkLocal;
    QString v6;
    for (const QNetworkInterface& face : QNetworkInterface::allInterfaces()) {
        const auto flags = face.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack)) {
            continue;
        }
        for (const QNetworkAddressEntry& entry : face.addressEntries()) {
            const QHostAddress ip = entry.ip();
            if (ip.isLoopback()) {
                continue;
            }
            if (ip.protocol() == QAbstractSocket::IPv4Protocol) {
                if (!ip.isLinkLocal()) {
                    return ip.toString();
                }
                linkLocal = linkLocal.isEmpty() ? ip.toString() : linkLocal;
            } else if (v6.isEmpty() && !ip.isLinkLocal()) {  // a zone cannot go in a link
                v6 = ip.toString();
            }
        }
    }
    return linkLocal.isEmpty() ? v6 : linkLocal;
}

QImage qrCode(const QString& link, int scale) {
    const QByteArray bytes = link.toUtf8();
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString8bit(bytes.constData(), 0, QR_ECLEVEL_M), &QRcode_free);
    if (!code || code->width <= 0 || scale <= 0) {
        return {};
    }
    constexpr int kQuiet = 4;  // modules of white around the code
    const int side = (code->width + 2 * kQuiet) * scale;
    QImage image(side, side, QImage::Format_Mono);
    image.fill(1);
    image.setColor(0, qRgb(0, 0, 0));
    image.setColor(1, qRgb(255, 255, 255));
    for (int y = 0; y < code->width; ++y) {
        for (int x = 0; x < code->width; ++x) {
            if ((code->data[y * code->width + x] & 1) == 0) {
                continue;
            }
            for (int dy = 0; dy < scale; ++dy) {
                for (int dx = 0; dx < scale; ++dx) {
                    image.setPixel((x + kQuiet) * scale + dx, (y + kQuiet) * scale + dy, 0);
                }
            }
        }
    }
    return image;
}

LinkOutcome mapLinkText(const std::string& folder, const live_map::MapSettings& settings,
                        int port) {
    LinkOutcome outcome;
    if (port == 0) {
        outcome.exitCode = 1;
        outcome.error = QStringLiteral("kestrelmap: the live map is off ([map] port is 0)");
        return outcome;
    }
    const live_map::KeyRead key = live_map::readOrMakeKey(live_map::keyPath(folder));
    const QString address = shareAddress(settings);
    if (key.key.empty() || address.isEmpty()) {
        outcome.exitCode = 1;
        outcome.error = QStringLiteral("kestrelmap: no link: %1")
                            .arg(key.key.empty() ? text(key.problem)
                                                 : QStringLiteral("this computer has no network "
                                                                  "address but loopback"));
        return outcome;
    }
    const bool tls = !settings.certificate.empty() && !settings.privateKey.empty();
    outcome.out =
        text(live_map::shareLink(address.toStdString(), port, key.key, tls)) + QLatin1Char('\n');
    if (!settings.share) {
        outcome.error = QStringLiteral(
            "kestrelmap: the map is not shared yet: [map] share = true in Kestrelmap.conf, or "
            "--map-share");
    }
    return outcome;
}

}  // namespace kestrel::qt
