// How many connections are held, in all and per address.

#include "live_map/connection_limits.h"

namespace kestrel::live_map {

bool ConnectionLimits::admit(std::string_view address) {
    if (m_total >= kMaxConnections || from(address) >= kMaxConnectionsPerAddress) {
        return false;
    }
    const auto it = m_byAddress.find(address);
    if (it == m_byAddress.end()) {
        m_byAddress.emplace(std::string(address), 1);
    } else {
        ++it->second;
    }
    ++m_total;
    return true;
}

void ConnectionLimits::release(std::string_view address) {
    const auto it = m_byAddress.find(address);
    if (it == m_byAddress.end()) {
        return;  // never admitted (or released once too often): nothing to count down
    }
    if (--it->second == 0) {
        m_byAddress.erase(it);
    }
    --m_total;
}

size_t ConnectionLimits::from(std::string_view address) const {
    const auto it = m_byAddress.find(address);
    return it == m_byAddress.end() ? 0 : it->second;
}

}  // namespace kestrel::live_map
