#pragma once
// How many connections the map server holds at once, in all and from one address, so that
// slow clients from one address cannot lock out a page from another. Qt-free bookkeeping: the
// server asks before it keeps a connection and tells when one ends.

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace kestrel::live_map {

inline constexpr size_t kMaxConnections = 64;
inline constexpr size_t kMaxConnectionsPerAddress = 16;

class ConnectionLimits {
  public:
    // True when a connection from `address` may be kept; it then counts until released.
    bool admit(std::string_view address);
    // A connection admitted from `address` has ended.
    void release(std::string_view address);
    size_t total() const { return m_total; }
    size_t from(std::string_view address) const;

  private:
    std::map<std::string, size_t, std::less<>> m_byAddress;
    size_t m_total = 0;
};

}  // namespace kestrel::live_map
