#pragma once
// Which connection failures the operator has been told about: one message per kind of failure
// until a connection succeeds, so a broker that stays away is not announced every few seconds.

#include <optional>
#include <set>
#include <string>

namespace kestrel::team {

enum class LinkFailure {
    Unreachable,     // no answer, refused, name not found, connection lost during the attempt
    LoginRefused,    // user name or password not accepted
    CertificateBad,  // TLS: certificate not trusted or not for this host name
    BrokerRefused,   // any other refusal by the broker
};

class LinkFailures {
  public:
    // The text to show for this failure of `broker` ("host:port"), or none when this kind was
    // already shown since the last successful connection.
    std::optional<std::string> failed(LinkFailure kind, const std::string& broker,
                                      const std::string& detail);
    void connected() { m_shown.clear(); }

  private:
    std::set<LinkFailure> m_shown;
};

}  // namespace kestrel::team
