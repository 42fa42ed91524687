#pragma once
// What the team link needs from an MQTT client. The shell implements it with libmosquitto on
// the Qt event loop (platform/qt/team_link_qt.h); the tests use a fake. Every call returns at
// once, and the listener is called from the event loop, never from inside a call below.

#include <optional>
#include <string>
#include <string_view>

namespace kestrel::team {

class TeamTransportListener {
  public:
    virtual ~TeamTransportListener() = default;
    // The broker accepted the connection (a persistent session for our client id).
    virtual void linkUp() = 0;
    // The connection ended; messages published and not yet acknowledged may or may not have
    // reached the broker.
    virtual void linkDown() = 0;
    // The broker acknowledged the QoS 1 message that publish() returned `messageId` for.
    virtual void published(int messageId) = 0;
    virtual void messageArrived(std::string_view topic, std::string_view payload) = 0;
};

class TeamTransport {
  public:
    virtual ~TeamTransport() = default;
    virtual void setListener(TeamTransportListener* listener) = 0;
    virtual bool isUp() const = 0;
    // The id that published() will report, or none when the link is down or the client
    // refused the message.
    virtual std::optional<int> publish(const std::string& topic, const std::string& payload,
                                       int qos, bool retain) = 0;
    virtual bool subscribe(const std::string& filter, int qos) = 0;
};

}  // namespace kestrel::team
