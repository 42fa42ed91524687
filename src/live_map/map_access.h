#pragma once
// Who may see the shared map. A visitor from the network brings the link's key once
// ("/?key=..."), gets a session cookie and is sent on to "/" without the key, so the key leaves
// the address bar and the history; from then on the cookie is its pass. Without one, every
// route answers 401. Five wrong keys from one address refuse that address for a minute. A new
// key ends every session: a session is a random number signed with the key it was given under
// (HMAC-SHA-256), so nothing but the key is kept, and a restart of the program keeps the
// sessions of its key. Loopback clients never come here. Qt-free; the time is given.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "live_map/router.h"

namespace kestrel::live_map {

inline constexpr int kMaxWrongKeys = 5;
inline constexpr int64_t kLockoutMs = 60000;
inline constexpr int kSessionSeconds = 12 * 3600;  // a day's hunt
inline constexpr std::string_view kSessionCookie = "kestrelmap_session";
inline constexpr size_t kMaxWatchedAddresses = 256;

// 128 random bits from the system's random source as 32 lower-case hexadecimal digits; empty
// when the system has none to give.
std::string newKey();
// 32 lower-case hexadecimal digits.
bool isKey(std::string_view text);

class MapAccess {
  public:
    // `tls`: the cookie is marked Secure.
    MapAccess(std::string key, bool tls) : m_key(std::move(key)), m_tls(tls) {}

    const std::string& key() const { return m_key; }
    // A new link: every session given under the old key ends, the lockouts stay.
    void setKey(std::string key) { m_key = std::move(key); }
    void setLockoutMs(int64_t ms) { m_lockoutMs = ms; }

    // A request from `address` (not loopback) whose Host and Origin have passed: nothing when it
    // holds a valid session and may go on to the routes; else its answer: 429 while the address
    // is refused, 303 to "/" with the session cookie for the right key on "/", 401 for all else.
    std::optional<Answer> check(const RequestHead& head, const std::string& address, int64_t nowMs);

    // The addresses refused now and the milliseconds until each is let in again.
    std::vector<std::pair<std::string, int64_t>> refused(int64_t nowMs) const;

    // A session cookie's value for this key: 32 hex digits of chance, '.', 64 of signature.
    std::string newSession() const;
    bool isSession(std::string_view value) const;

  private:
    struct Misses {
        int wrongKeys = 0;
        int64_t refusedUntil = 0;
        int64_t last = 0;
    };
    Answer wrongKey(const std::string& address, int64_t nowMs);
    void forgetOldest(int64_t nowMs);

    std::string m_key;
    bool m_tls = false;
    int64_t m_lockoutMs = kLockoutMs;
    std::map<std::string, Misses> m_misses;
};

// The value of the cookie `name` in a Cookie header ("a=1; b=2"); nothing when absent.
std::optional<std::string_view> cookieValue(std::string_view header, std::string_view name);
// The value of `name` in the query of a target ("/?key=abc&x=1"); nothing when absent.
std::optional<std::string_view> queryValue(std::string_view target, std::string_view name);

}  // namespace kestrel::live_map
