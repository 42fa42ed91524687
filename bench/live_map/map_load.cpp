// Loads the live map's server over loopback with keep-alive HTTP/1.1 clients, each a thread
// with one connection, for a bounded time and number of requests, and prints what it got:
// requests answered, bytes, requests a second and the latency of each request (from the
// first byte written to the last byte of the body read).
//
//   kestrel_map_load --port=N [--clients=8] [--seconds=10] [--requests=N] [--mix=tiles|all]
//                    [--seed=1]
//
// "tiles" asks for random tiles of the first layer /layers names (the layer's zoom and
// bounds as the file's metadata gives them); "all" mixes tiles with the snapshot
// (/hunt.geojson), the page and its script, as pages being loaded as fast as they can.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr size_t kMaxBodyBytes = 64 << 20;

struct Options {
    int port = 0;
    int clients = 8;
    double seconds = 10;
    long requests = 0;  // 0: until the time is up
    std::string mix = "tiles";
    unsigned seed = 1;
};

std::optional<std::string> argument(int argc, char** argv, const char* name) {
    const size_t n = std::strlen(name);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], name, n) == 0) {
            return std::string(argv[i] + n);
        }
    }
    return std::nullopt;
}

// One keep-alive connection to 127.0.0.1:port.
class Connection {
  public:
    explicit Connection(int port) : m_port(port) {}
    ~Connection() { close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The status and body of GET `path`, or nullopt when the connection failed (it is then
    // closed; the next call opens a new one).
    std::optional<std::pair<int, std::string>> get(const std::string& path) {
        if (m_fd < 0 && !open()) {
            return std::nullopt;
        }
        const std::string request = "GET " + path +
                                    " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(m_port) +
                                    "\r\nAccept: */*\r\n\r\n";
        if (!sendAll(request)) {
            close();
            return std::nullopt;
        }
        auto answer = readAnswer();
        if (!answer) {
            close();
        }
        return answer;
    }

  private:
    bool open() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0) {
            return false;
        }
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        timeval timeout{5, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(m_port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close();
            return false;
        }
        m_buffer.clear();
        return true;
    }
    void close() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    bool sendAll(const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            sent += size_t(n);
        }
        return true;
    }
    bool fill() {
        char chunk[65536];
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            return false;
        }
        m_buffer.append(chunk, size_t(n));
        return true;
    }
    std::optional<std::pair<int, std::string>> readAnswer() {
        size_t headEnd = 0;
        while ((headEnd = m_buffer.find("\r\n\r\n")) == std::string::npos) {
            if (m_buffer.size() > 65536 || !fill()) {
                return std::nullopt;
            }
        }
        const std::string head = m_buffer.substr(0, headEnd);
        int status = 0;
        if (std::sscanf(head.c_str(), "HTTP/1.%*d %d", &status) != 1) {
            return std::nullopt;
        }
        size_t length = 0;
        std::string lower = head;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        if (const size_t at = lower.find("\r\ncontent-length:"); at != std::string::npos) {
            length = std::strtoul(lower.c_str() + at + 17, nullptr, 10);
        }
        if (length > kMaxBodyBytes) {
            return std::nullopt;
        }
        const size_t total = headEnd + 4 + length;
        while (m_buffer.size() < total) {
            if (!fill()) {
                return std::nullopt;
            }
        }
        std::string body = m_buffer.substr(headEnd + 4, length);
        m_buffer.erase(0, total);
        if (lower.find("\r\nconnection: close") != std::string::npos) {
            close();
        }
        return std::pair(status, std::move(body));
    }

    int m_port;
    int m_fd = -1;
    std::string m_buffer;
};

struct Layer {
    std::string id;
    int minZoom = 0;
    int maxZoom = 0;
    double bounds[4] = {-180, -85, 180, 85};
};

std::optional<Layer> firstLayer(int port) {
    Connection connection(port);
    const auto answer = connection.get("/layers");
    if (!answer || answer->first != 200) {
        return std::nullopt;
    }
    const std::string& text = answer->second;
    std::smatch m;
    Layer layer;
    if (!std::regex_search(text, m, std::regex("\"id\":\"([a-z0-9-]+)\""))) {
        return std::nullopt;
    }
    layer.id = m[1];
    if (std::regex_search(text, m, std::regex("\"minzoom\":([0-9]+)"))) {
        layer.minZoom = std::stoi(m[1]);
    }
    if (std::regex_search(text, m, std::regex("\"maxzoom\":([0-9]+)"))) {
        layer.maxZoom = std::stoi(m[1]);
    }
    const std::string number = "(-?[0-9.]+)";
    if (std::regex_search(text, m,
                          std::regex("\"bounds\":\\[" + number + "," + number + "," + number + "," +
                                     number + "\\]"))) {
        for (int i = 0; i < 4; ++i) {
            layer.bounds[i] = std::stod(m[i + 1]);
        }
    }
    return layer;
}

// The tile column and XYZ row holding a place at zoom z.
std::pair<int, int> tileOf(double lon, double lat, int z) {
    const double n = std::ldexp(1.0, z);
    const double rad = lat * M_PI / 180;
    const int x = std::clamp(int((lon + 180) / 360 * n), 0, int(n) - 1);
    const int y = std::clamp(int((1 - std::asinh(std::tan(rad)) / M_PI) / 2 * n), 0, int(n) - 1);
    return {x, y};
}

struct Worker {
    std::vector<double> micros;
    long ok = 0;
    long failed = 0;
    long notOk = 0;
    size_t bytes = 0;
};

}  // namespace

int main(int argc, char** argv) {
    Options o;
    o.port = std::atoi(argument(argc, argv, "--port=").value_or("0").c_str());
    o.clients = std::atoi(argument(argc, argv, "--clients=").value_or("8").c_str());
    o.seconds = std::atof(argument(argc, argv, "--seconds=").value_or("10").c_str());
    o.requests = std::atol(argument(argc, argv, "--requests=").value_or("0").c_str());
    o.mix = argument(argc, argv, "--mix=").value_or("tiles");
    o.seed = unsigned(std::atoi(argument(argc, argv, "--seed=").value_or("1").c_str()));
    if (o.port <= 0 || o.clients < 1 || o.clients > 32 || o.seconds <= 0 || o.seconds > 120) {
        std::fprintf(stderr, "map_load: --port=N needed; --clients 1 to 32, --seconds to 120\n");
        return 2;
    }
    const std::optional<Layer> layer = firstLayer(o.port);
    if (!layer) {
        std::fprintf(stderr, "map_load: no tile layer at 127.0.0.1:%d/layers\n", o.port);
        return 1;
    }
    // The tiles the layer holds: its deepest zoom within its bounds.
    const int z = layer->maxZoom;
    const auto [x0, y0] = tileOf(layer->bounds[0], layer->bounds[3], z);
    const auto [x1, y1] = tileOf(layer->bounds[2], layer->bounds[1], z);

    const auto deadline =
        SteadyClock::now() + std::chrono::microseconds(static_cast<long>(o.seconds * 1e6));
    std::atomic<long> started{0};
    std::vector<Worker> workers(size_t(o.clients));
    std::vector<std::thread> threads;
    const auto begin = SteadyClock::now();
    for (int c = 0; c < o.clients; ++c) {
        threads.emplace_back([&, c]() {
            Worker& w = workers[size_t(c)];
            std::mt19937 random(o.seed * 7919u + unsigned(c));
            std::uniform_int_distribution<int> column(x0, std::max(x0, x1));
            std::uniform_int_distribution<int> row(y0, std::max(y0, y1));
            std::uniform_int_distribution<int> kind(0, 9);
            Connection connection(o.port);
            while (SteadyClock::now() < deadline) {
                if (o.requests > 0 && started.fetch_add(1) >= o.requests) {
                    break;
                }
                std::string path;
                const int k = o.mix == "all" ? kind(random) : 0;
                if (k <= 6) {
                    path = "/tiles/" + layer->id + "/" + std::to_string(z) + "/" +
                           std::to_string(column(random)) + "/" + std::to_string(row(random));
                } else if (k == 7) {
                    path = "/hunt.geojson";
                } else if (k == 8) {
                    path = "/";
                } else {
                    path = "/map.js";
                }
                const auto t0 = SteadyClock::now();
                const auto answer = connection.get(path);
                const auto t1 = SteadyClock::now();
                if (!answer) {
                    ++w.failed;
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    continue;
                }
                (answer->first == 200 ? w.ok : w.notOk)++;
                w.bytes += answer->second.size();
                w.micros.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    const double elapsed = std::chrono::duration<double>(SteadyClock::now() - begin).count();
    Worker all;
    for (Worker& w : workers) {
        all.ok += w.ok;
        all.notOk += w.notOk;
        all.failed += w.failed;
        all.bytes += w.bytes;
        all.micros.insert(all.micros.end(), w.micros.begin(), w.micros.end());
    }
    std::sort(all.micros.begin(), all.micros.end());
    const auto at = [&all](double share) {
        return all.micros.empty() ? 0.0 : all.micros[size_t(double(all.micros.size() - 1) * share)];
    };
    std::printf(
        "map_load: %d clients, mix %s, layer %s z%d (%d x %d tiles), %.1f s: %ld answered 200, "
        "%ld other, %ld failed; %.0f requests/s, %.1f MiB/s; latency median %.3f ms, p95 %.3f "
        "ms, p99 %.3f ms, max %.3f ms\n",
        o.clients, o.mix.c_str(), layer->id.c_str(), z, x1 - x0 + 1, y1 - y0 + 1, elapsed, all.ok,
        all.notOk, all.failed, double(all.ok + all.notOk) / elapsed,
        double(all.bytes) / elapsed / (1 << 20), at(0.5) / 1000, at(0.95) / 1000, at(0.99) / 1000,
        all.micros.empty() ? 0.0 : all.micros.back() / 1000);
    return all.ok > 0 && all.failed == 0 ? 0 : 1;
}
