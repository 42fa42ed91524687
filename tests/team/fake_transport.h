#pragma once
// A transport that records what the team link sends and lets a test bring the link up and down,
// acknowledge messages and deliver messages.

#include <string>
#include <vector>

#include "team/team_transport.h"

namespace kestrel::team::test {

class FakeTransport : public TeamTransport {
  public:
    struct Sent {
        std::string topic, payload;
        int qos;
        bool retain;
        int id;
    };

    void setListener(TeamTransportListener* listener) override { m_listener = listener; }
    bool isUp() const override { return up; }
    std::optional<int> publish(const std::string& topic, const std::string& payload, int qos,
                               bool retain) override {
        if (!up) {
            return std::nullopt;
        }
        sent.push_back({topic, payload, qos, retain, ++m_nextId});
        return m_nextId;
    }
    bool subscribe(const std::string& filter, int) override {
        filters.push_back(filter);
        return up;
    }

    void bringUp() {
        up = true;
        m_listener->linkUp();
    }
    void bringDown() {
        up = false;
        m_listener->linkDown();
    }
    void acknowledge(int id) { m_listener->published(id); }
    void acknowledgeAll() {
        for (const Sent& s : sent) {
            m_listener->published(s.id);
        }
    }
    void deliver(const std::string& topic, const std::string& payload) {
        m_listener->messageArrived(topic, payload);
    }
    // The plot messages sent, in order.
    std::vector<std::string> plotPayloads() const {
        std::vector<std::string> out;
        for (const Sent& s : sent) {
            if (s.topic.ends_with("/plot")) {
                out.push_back(s.payload);
            }
        }
        return out;
    }

    bool up = false;
    std::vector<Sent> sent;
    std::vector<std::string> filters;

  private:
    TeamTransportListener* m_listener = nullptr;
    int m_nextId = 0;
};

}  // namespace kestrel::team::test
