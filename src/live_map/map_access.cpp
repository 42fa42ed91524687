#include "live_map/map_access.h"

#include <openssl/hmac.h>
#include <sys/random.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "live_map/http_text.h"
#include "live_map/plot_review.h"

namespace kestrel::live_map {

namespace {

constexpr size_t kKeyDigits = 32;
constexpr size_t kSignatureDigits = 64;

std::string hex(const unsigned char* bytes, size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0f];
    }
    return text;
}

std::string randomHex(size_t bytes) {
    std::array<unsigned char, 64> buffer{};
    size_t got = 0;
    while (got < bytes) {
        const ssize_t n = getrandom(buffer.data() + got, bytes - got, 0);
        if (n < 0 && errno != EINTR) {
            return {};
        }
        got += n > 0 ? size_t(n) : 0;
    }
    return hex(buffer.data(), bytes);
}

bool isLowerHex(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::string signature(std::string_view key, std::string_view chance) {
    const std::string message = "kestrelmap session " + std::string(chance);
    std::array<unsigned char, 32> mac{};
    unsigned length = 0;
    HMAC(EVP_sha256(), key.data(), int(key.size()),
         reinterpret_cast<const unsigned char*>(message.data()), message.size(), mac.data(),
         &length);
    return hex(mac.data(), std::min<size_t>(length, mac.size()));
}

Answer plain(int status, std::string body) {
    Answer answer;
    answer.status = status;
    answer.contentType = "text/plain; charset=utf-8";
    answer.body = std::move(body);
    answer.extraHeaders.emplace_back("Cache-Control", "no-store");
    return answer;
}

Answer needsKey() {
    Answer answer = plain(401,
                          "This map needs its link with the key: scan the QR code in "
                          "Kestrelmap's instruments window, or run kestrelmap --map-link.\n");
    answer.extraHeaders.emplace_back("WWW-Authenticate", "Kestrelmap realm=\"live map\"");
    return answer;
}

}  // namespace

std::string newKey() {
    return randomHex(kKeyDigits / 2);
}

bool isKey(std::string_view text) {
    return text.size() == kKeyDigits && isLowerHex(text);
}

std::string MapAccess::newSession() const {
    const std::string chance = randomHex(16);
    if (chance.empty() || m_key.empty()) {
        return {};
    }
    return chance + "." + signature(m_key, chance);
}

bool MapAccess::isSession(std::string_view value) const {
    const size_t dot = value.find('.');
    if (m_key.empty() || dot != kKeyDigits || value.size() != kKeyDigits + 1 + kSignatureDigits ||
        !isLowerHex(value.substr(0, dot)) || !isLowerHex(value.substr(dot + 1))) {
        return false;
    }
    return sameToken(value.substr(dot + 1), signature(m_key, value.substr(0, dot)));
}

std::optional<Answer> MapAccess::check(const RequestHead& head, const std::string& address,
                                       int64_t nowMs) {
    const auto seen = m_misses.find(address);
    if (seen != m_misses.end() && seen->second.refusedUntil > nowMs) {
        const int64_t seconds = (seen->second.refusedUntil - nowMs + 999) / 1000;
        Answer answer = plain(429, "Too many wrong keys from this address: try again in " +
                                       std::to_string(seconds) + " s.\n");
        answer.extraHeaders.emplace_back("Retry-After", std::to_string(seconds));
        return answer;
    }
    const std::string_view target = head.target;
    const std::string_view path = target.substr(0, target.find('?'));
    if (const auto given = queryValue(target, "key"); given && path == "/") {
        if (m_key.empty() || !sameToken(*given, m_key)) {
            return wrongKey(address, nowMs);
        }
        if (seen != m_misses.end()) {
            m_misses.erase(seen);
        }
        const std::string session = newSession();
        if (session.empty()) {
            return plain(503, "No session can be made: the system gives no random numbers.\n");
        }
        Answer answer = plain(303, "");
        answer.extraHeaders.emplace_back("Location", "/");
        answer.extraHeaders.emplace_back(
            "Set-Cookie", std::string(kSessionCookie) + "=" + session +
                              "; Path=/; Max-Age=" + std::to_string(kSessionSeconds) +
                              "; HttpOnly; SameSite=Strict" + (m_tls ? "; Secure" : ""));
        return answer;
    }
    for (const auto& [name, value] : head.headers) {
        if (name == "cookie") {
            const auto session = cookieValue(value, kSessionCookie);
            if (session && isSession(*session)) {
                return std::nullopt;
            }
        }
    }
    return needsKey();
}

Answer MapAccess::wrongKey(const std::string& address, int64_t nowMs) {
    if (m_misses.size() >= kMaxWatchedAddresses && !m_misses.contains(address)) {
        forgetOldest(nowMs);
    }
    Misses& misses = m_misses[address];
    misses.last = nowMs;
    if (misses.refusedUntil != 0 && misses.refusedUntil <= nowMs) {
        misses = Misses{0, 0, nowMs};  // a lockout that ended starts the count again
    }
    if (++misses.wrongKeys >= kMaxWrongKeys) {
        misses.wrongKeys = 0;
        misses.refusedUntil = nowMs + m_lockoutMs;
    }
    return needsKey();
}

// Room for a new address: one whose lockout is over goes first, else the one heard of longest
// ago.
void MapAccess::forgetOldest(int64_t nowMs) {
    auto oldest = m_misses.begin();
    for (auto it = m_misses.begin(); it != m_misses.end(); ++it) {
        const bool over = it->second.refusedUntil <= nowMs;
        const bool oldestOver = oldest->second.refusedUntil <= nowMs;
        if ((over && !oldestOver) ||
            (over == oldestOver && it->second.last < oldest->second.last)) {
            oldest = it;
        }
    }
    if (oldest != m_misses.end()) {
        m_misses.erase(oldest);
    }
}

std::vector<std::pair<std::string, int64_t>> MapAccess::refused(int64_t nowMs) const {
    std::vector<std::pair<std::string, int64_t>> list;
    for (const auto& [address, misses] : m_misses) {
        if (misses.refusedUntil > nowMs) {
            list.emplace_back(address, misses.refusedUntil - nowMs);
        }
    }
    return list;
}

std::optional<std::string_view> cookieValue(std::string_view header, std::string_view name) {
    while (!header.empty()) {
        const size_t end = header.find(';');
        const std::string_view pair = http::trimmed(header.substr(0, end));
        const size_t equals = pair.find('=');
        if (equals != std::string_view::npos && http::trimmed(pair.substr(0, equals)) == name) {
            return http::trimmed(pair.substr(equals + 1));
        }
        header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
    }
    return std::nullopt;
}

std::optional<std::string_view> queryValue(std::string_view target, std::string_view name) {
    const size_t question = target.find('?');
    if (question == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
        const size_t end = query.find('&');
        const std::string_view pair = query.substr(0, end);
        const size_t equals = pair.find('=');
        if (pair.substr(0, equals) == name) {
            return equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
        }
        query = end == std::string_view::npos ? std::string_view() : query.substr(end + 1);
    }
    return std::nullopt;
}

}  // namespace kestrel::live_map
