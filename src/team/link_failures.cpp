#include "team/link_failures.h"

namespace kestrel::team {

std::optional<std::string> LinkFailures::failed(LinkFailure kind, const std::string& broker,
                                                const std::string& detail) {
    if (!m_shown.insert(kind).second) {
        return std::nullopt;
    }
    std::string text = "The team broker " + broker + " ";
    std::string hint;
    switch (kind) {
        case LinkFailure::Unreachable:
            text += "cannot be reached";
            break;
        case LinkFailure::LoginRefused:
            text += "refused the login";
            hint = " Check the user and the password file in Kestrelmap.conf.";
            break;
        case LinkFailure::CertificateBad:
            text += "is not trusted: its certificate was rejected";
            hint = " Check the broker's name and the ca_file in Kestrelmap.conf.";
            break;
        case LinkFailure::BrokerRefused:
            text += "refused the connection";
            break;
    }
    if (!detail.empty()) {
        text += " (" + detail + ")";
    }
    text += "." + hint + "\nPlots are kept and sent when the link works; Kestrelmap keeps trying.";
    return text;
}

}  // namespace kestrel::team
