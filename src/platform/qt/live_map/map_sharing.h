#pragma once
// What sharing the live map needs from this computer: the key from <folder>map.key, the
// address a phone reaches, the TLS certificate and private key the user brings, and the link
// as text and as a QR code.

#include <QImage>
#include <QString>
#include <optional>
#include <string>

#include "live_map/map_settings.h"
#include "platform/qt/live_map/map_server.h"

namespace kestrel::qt {

struct SharingSetup {
    std::optional<MapSharing> sharing;  // empty: loopback only
    std::string problem;                // why the map is not shared though asked, for a person
    std::string notice;                 // shared, but worth telling (a new key was made)
};
// The map's sharing as `settings` ask for it; nothing when they do not.
SharingSetup prepareSharing(const live_map::MapSettings& settings, const std::string& folder);

// The address a phone reaches this computer at: [map] address, else the first IPv4 address of
// an interface that is up (link-local ones last), else the first IPv6 one; empty when the
// computer has none but loopback.
QString shareAddress(const live_map::MapSettings& settings);

// The link's QR code, each module `scale` pixels, with the quiet zone; null when it cannot be
// made.
QImage qrCode(const QString& text, int scale);

// kestrelmap --map-link: the link on standard output (exit code 0), or why there is none.
struct LinkOutcome {
    int exitCode = 0;
    QString out;
    QString error;
};
LinkOutcome mapLinkText(const std::string& folder, const live_map::MapSettings& settings, int port);

}  // namespace kestrel::qt
