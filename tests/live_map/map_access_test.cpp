#include "live_map/map_access.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "live_map/key_file.h"
#include "live_map/map_settings.h"

namespace kestrel::live_map {
namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

const std::string KEY = "0123456789abcdef0123456789abcdef";
const std::string OTHER_KEY = "fedcba9876543210fedcba9876543210";
const std::string PHONE = "169.254.7.2";

std::string headerOf(const Answer& answer, const std::string& name) {
    for (const auto& [n, v] : answer.extraHeaders) {
        if (n == name) {
            return v;
        }
    }
    return {};
}

// One visitor's requests in order, each with what it must get (0: let through to the routes).
TEST(MapAccess, KeySessionAndLockout) {
    MapAccess access(KEY, false);
    access.setLockoutMs(kLockoutMs);
    std::string cookie;  // the session the right key gave
    const auto get = [&](const std::string& target, const std::string& from, int64_t now,
                         Headers headers = {}) {
        const RequestHead head{"GET", target, "HTTP/1.1", std::move(headers)};
        const std::optional<Answer> answer = access.check(head, from, now);
        if (answer && answer->status == 303) {
            const std::string set = headerOf(*answer, "Set-Cookie");
            cookie = set.substr(0, set.find(';'));
        }
        return answer ? answer->status : 0;
    };
    const auto withCookie = [&]() { return Headers{{"cookie", "theme=dark; " + cookie}}; };

    EXPECT_EQ(get("/", PHONE, 0), 401);  // no key
    EXPECT_EQ(get("/hunt.geojson", PHONE, 0), 401);
    EXPECT_EQ(get("/tiles/osm/1/1/1", PHONE, 0), 401);
    EXPECT_EQ(get("/hunt.geojson?key=" + KEY, PHONE, 0), 401);  // the key opens "/" only
    EXPECT_EQ(get("/?key=" + KEY.substr(1), PHONE, 0), 401);    // wrong keys: 2 of 5
    EXPECT_EQ(get("/?key=" + KEY, PHONE, 10), 303);             // right key: the count starts again
    ASSERT_TRUE(cookie.starts_with("kestrelmap_session=")) << cookie;
    EXPECT_EQ(get("/hunt.geojson", PHONE, 20, withCookie()), 0);
    EXPECT_EQ(get("/live", "169.254.7.9", 20, withCookie()), 0);  // the cookie, not the address
    const std::string session = cookie.substr(cookie.find('=') + 1);
    for (const std::string& forged :
         {session.substr(0, session.size() - 1) + (session.back() == '0' ? "1" : "0"),
          std::string(32, '0') + session.substr(32), session.substr(0, 33), std::string("x"),
          std::string()}) {
        EXPECT_EQ(get("/", PHONE, 30, {{"cookie", "kestrelmap_session=" + forged}}), 401) << forged;
    }
    // Five wrong keys from one address: it is refused for a minute, the right key and the
    // session included; another address is not.
    for (int i = 0; i < kMaxWrongKeys; ++i) {
        EXPECT_EQ(get("/?key=" + OTHER_KEY, PHONE, 1000 + i), 401);
    }
    EXPECT_EQ(get("/?key=" + KEY, PHONE, 1010), 429);
    EXPECT_EQ(get("/hunt.geojson", PHONE, 1010, withCookie()), 429);
    EXPECT_EQ(get("/?key=" + KEY, "169.254.7.3", 1010), 303);
    ASSERT_EQ(access.refused(1010).size(), 1u);
    EXPECT_EQ(access.refused(1010)[0].first, PHONE);
    EXPECT_EQ(access.refused(1010)[0].second, kLockoutMs - 6);
    EXPECT_EQ(get("/", PHONE, 1004 + kLockoutMs - 1), 429);
    EXPECT_EQ(get("/?key=" + KEY, PHONE, 1004 + kLockoutMs), 303);  // the minute is over
    EXPECT_TRUE(access.refused(1004 + kLockoutMs).empty());
    // After a lockout the count starts from nothing: four more wrong keys do not lock.
    for (int i = 0; i < kMaxWrongKeys - 1; ++i) {
        EXPECT_EQ(get("/?key=x", PHONE, 200000 + i), 401);
    }
    EXPECT_EQ(get("/", PHONE, 200010, withCookie()), 0);
    // A new link: the old key and every session given under it are refused.
    const Headers oldCookie = withCookie();
    access.setKey(OTHER_KEY);
    EXPECT_EQ(get("/", "169.254.7.4", 300000, oldCookie), 401);
    EXPECT_EQ(get("/?key=" + KEY, "169.254.7.4", 300000), 401);
    EXPECT_EQ(get("/?key=" + OTHER_KEY, "169.254.7.4", 300000), 303);
    EXPECT_EQ(get("/", "169.254.7.4", 300000, withCookie()), 0);
}

TEST(MapAccess, AnswersCarryTheirHeaders) {
    for (const bool tls : {false, true}) {
        MapAccess access(KEY, tls);
        const auto welcome = access.check({"GET", "/?key=" + KEY, "HTTP/1.1", {}}, PHONE, 0);
        ASSERT_TRUE(welcome);
        EXPECT_EQ(headerOf(*welcome, "Location"), "/");
        const std::string set = headerOf(*welcome, "Set-Cookie");
        EXPECT_NE(set.find("; Path=/; Max-Age=43200; HttpOnly; SameSite=Strict"), std::string::npos)
            << set;
        EXPECT_EQ(set.ends_with("; Secure"), tls) << set;
        EXPECT_EQ(set.find(KEY), std::string::npos) << "the key never goes into the cookie";
        const auto refused = access.check({"GET", "/", "HTTP/1.1", {}}, PHONE, 0);
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 401);
        EXPECT_FALSE(headerOf(*refused, "WWW-Authenticate").empty());
        EXPECT_EQ(refused->body.find(KEY), std::string::npos);
    }
    MapAccess access(KEY, false);
    for (int i = 0; i < kMaxWrongKeys; ++i) {
        access.check({"GET", "/?key=no", "HTTP/1.1", {}}, PHONE, 0);
    }
    const auto locked = access.check({"GET", "/", "HTTP/1.1", {}}, PHONE, 1500);
    ASSERT_TRUE(locked);
    EXPECT_EQ(locked->status, 429);
    EXPECT_EQ(headerOf(*locked, "Retry-After"), "59");
    // A keyless map (no random numbers) lets no one in.
    MapAccess none("", false);
    EXPECT_EQ(none.check({"GET", "/?key=", "HTTP/1.1", {}}, PHONE, 0)->status, 401);
    EXPECT_FALSE(none.isSession("." + std::string(64, '0')));
}

// Addresses that only ever give wrong keys cannot grow the table without end, and the ones
// still refused are the last to be forgotten.
TEST(MapAccess, WatchedAddressesAreBounded) {
    MapAccess access(KEY, false);
    for (int i = 0; i < kMaxWrongKeys; ++i) {
        access.check({"GET", "/?key=no", "HTTP/1.1", {}}, PHONE, i);
    }
    for (size_t i = 0; i < 3 * kMaxWatchedAddresses; ++i) {
        access.check({"GET", "/?key=no", "HTTP/1.1", {}}, "169.254.9." + std::to_string(i),
                     10 + int64_t(i));
    }
    ASSERT_EQ(access.refused(5000).size(), 1u);
    EXPECT_EQ(access.refused(5000)[0].first, PHONE);
}

TEST(MapAccess, CookiesQueriesKeysAndAddresses) {
    EXPECT_EQ(cookieValue("a=1; kestrelmap_session=s; b=2", kSessionCookie), "s");
    EXPECT_EQ(cookieValue(" kestrelmap_session = s ", kSessionCookie), "s");
    EXPECT_FALSE(cookieValue("xkestrelmap_session=s; kestrelmap_sessionx=t", kSessionCookie));
    EXPECT_FALSE(cookieValue("", kSessionCookie));
    EXPECT_EQ(queryValue("/?a=1&key=k&key=j", "key"), "k");
    EXPECT_EQ(queryValue("/?key", "key"), "");
    EXPECT_FALSE(queryValue("/?akey=k", "key"));
    EXPECT_FALSE(queryValue("/key=k", "key"));
    EXPECT_TRUE(isKey(newKey()));
    EXPECT_NE(newKey(), newKey());
    EXPECT_FALSE(isKey(KEY.substr(1)));
    EXPECT_FALSE(isKey("0123456789ABCDEF0123456789abcdef"));
    for (const auto& [text, ok] :
         std::vector<std::pair<std::string, bool>>{{"169.254.1.2", true},
                                                   {"0.0.0.0", true},
                                                   {"255.255.255.255", true},
                                                   {"169.254.256.1", false},
                                                   {"169.254.1", false},
                                                   {"169.254.1.2.5", false},
                                                   {"169.254.01.1", false},
                                                   {"169.254.1.2 ", false},
                                                   {"", false},
                                                   {"fe80::1", true},
                                                   {"::1", true},
                                                   {"1:2:3:4:5:6:7:8", true},
                                                   {"1:2:3:4:5:6:7", false},
                                                   {"1::2::3", false},
                                                   {"12345::1", false},
                                                   {"fe80::1%eth0", false},
                                                   {"host.example", false}}) {
        EXPECT_EQ(isShareAddress(text), ok) << text;
    }
    EXPECT_EQ(shareLink("169.254.1.2", 8421, KEY, false), "http://169.254.1.2:8421/?key=" + KEY);
    EXPECT_EQ(shareLink("fe80::1", 443, "k", true), "https://[fe80::1]:443/?key=k");
}

TEST(MapKeyFile, MadeKeptReplacedAndPrivate) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("kestrel-key-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string path = keyPath(folder.string() + "/");
    const auto mode = [&](const std::string& file) {
        struct stat info {};
        ::stat(file.c_str(), &info);
        return info.st_mode & 0777;
    };
    const KeyRead made = readOrMakeKey(path);
    ASSERT_TRUE(isKey(made.key)) << made.problem;
    EXPECT_EQ(made.problem, "");
    EXPECT_EQ(mode(path), 0600u);
    EXPECT_EQ(readOrMakeKey(path).key, made.key);
    const KeyRead replaced = replaceKey(path);
    EXPECT_TRUE(isKey(replaced.key));
    EXPECT_NE(replaced.key, made.key);
    EXPECT_EQ(readOrMakeKey(path).key, replaced.key);
    EXPECT_EQ(mode(path), 0600u);
    // A damaged file, and one others could read, are replaced (and say so).
    for (const auto& [text, permissions] :
         {std::pair{std::string("not a key\n"), 0600}, std::pair{replaced.key + "\n", 0644}}) {
        std::ofstream(path, std::ios::trunc) << text;
        ::chmod(path.c_str(), mode_t(permissions));
        const KeyRead again = readOrMakeKey(path);
        EXPECT_TRUE(isKey(again.key));
        EXPECT_NE(again.key, replaced.key);
        EXPECT_FALSE(again.problem.empty());
        EXPECT_EQ(mode(path), 0600u);
    }
    // No folder: no key, and why.
    const KeyRead nowhere = readOrMakeKey(folder.string() + "/missing/map.key");
    EXPECT_TRUE(nowhere.key.empty());
    EXPECT_NE(nowhere.problem.find("cannot be written"), std::string::npos);
    // A TLS private key: the owner's alone, or refused.
    const std::string tlsKey = folder.string() + "/tls.key";
    std::ofstream(tlsKey) << "x";
    for (const auto& [permissions, ok] : {std::pair{0600, true}, std::pair{0400, true},
                                          std::pair{0640, false}, std::pair{0604, false}}) {
        ::chmod(tlsKey.c_str(), mode_t(permissions));
        EXPECT_EQ(privateKeyProblem(tlsKey).empty(), ok) << std::oct << permissions;
    }
    EXPECT_FALSE(privateKeyProblem(folder.string() + "/none.key").empty());
    EXPECT_FALSE(privateKeyProblem(folder.string()).empty());
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace kestrel::live_map
