#include "kestrel-sim/kraken_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace kestrel::sim {
namespace {

constexpr int kBacklog = 16;
constexpr std::size_t kReadChunk = 4096;
constexpr int kReadsPerServe = 8;  // a busy client cannot keep the run in here
constexpr int kAcceptsPerServe = 16;
constexpr std::size_t kReadPauseBytes = 65536;  // answers waiting: read no more requests
constexpr std::size_t kMaxMethod = 16;
constexpr std::string_view kNotFound = "Not found\n";

bool isTokenChar(char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
        return true;
    }
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Takes the next line off `text`, without its CR LF or LF.
std::string_view takeLine(std::string_view& text) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

// "METHOD /target HTTP/1.x"; sets `http11` for version 1.1.
bool readRequestLine(std::string_view line, HttpRequest& request, bool& http11) {
    const std::size_t sp1 = line.find(' ');
    const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos) {
        return false;
    }
    const std::string_view method = line.substr(0, sp1);
    const std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    const std::string_view version = line.substr(sp2 + 1);
    if (method.empty() || method.size() > kMaxMethod ||
        !std::all_of(method.begin(), method.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) {
        return false;
    }
    if (target.empty() || (target.front() != '/' && target != "*") ||
        !std::all_of(target.begin(), target.end(), [](char c) { return c > ' ' && c < 0x7F; })) {
        return false;
    }
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        return false;
    }
    request.method = std::string(method);
    request.target = std::string(target);
    http11 = version == "HTTP/1.1";
    return true;
}

std::string_view pathOf(std::string_view target) {
    return target.substr(0, target.find('?'));
}

}  // namespace

std::optional<HttpRequest> parseRequestHead(std::string_view head) {
    HttpRequest request;
    bool http11 = false;
    if (!readRequestLine(takeLine(head), request, http11)) {
        return std::nullopt;
    }
    bool close = false;
    bool keepAlive = false;
    while (!head.empty()) {
        const std::string_view line = takeLine(head);
        const std::size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos ||
            !std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon),
                         isTokenChar)) {
            return std::nullopt;  // no name, a folded line or a bare word
        }
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (std::any_of(value.begin(), value.end(), [](char c) {
                return (static_cast<unsigned char>(c) < ' ' && c != '\t') || c == 0x7F;
            })) {
            return std::nullopt;
        }
        const std::string name = lower(line.substr(0, colon));
        if (name == "connection") {
            std::string_view options = value;
            while (!options.empty()) {
                const std::size_t comma = options.find(',');
                const std::string option = lower(trimmed(options.substr(0, comma)));
                options.remove_prefix(comma == std::string_view::npos ? options.size() : comma + 1);
                close = close || option == "close";
                keepAlive = keepAlive || option == "keep-alive";
            }
        } else if (name == "content-length") {
            if (value.empty() || !std::all_of(value.begin(), value.end(),
                                              [](char c) { return c >= '0' && c <= '9'; })) {
                return std::nullopt;
            }
            request.hasBody =
                request.hasBody || value.find_first_not_of('0') != std::string_view::npos;
        } else if (name == "transfer-encoding") {
            request.hasBody = true;
        }
    }
    // HTTP/1.1 keeps the connection unless told not to, HTTP/1.0 only when asked to.
    request.keepAlive = !close && (http11 || keepAlive);
    return request;
}

// --- the server --------------------------------------------------------------------------

std::unique_ptr<KrakenServer> KrakenServer::open(int port, std::string& error,
                                                 const ServerLimits& limits) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("cannot make a socket: ") + std::strerror(errno);
        return nullptr;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, kBacklog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<KrakenServer>(new KrakenServer(fd, ntohs(address.sin_port), limits));
}

KrakenServer::~KrakenServer() {
    for (const Client& c : m_clients) {
        ::close(c.fd);
    }
    ::close(m_listen);
}

void KrakenServer::serve(std::int64_t us) {
    std::vector<pollfd> fds;
    fds.reserve(m_clients.size() + 1);
    fds.push_back({m_listen, POLLIN, 0});
    for (const Client& c : m_clients) {
        short events = 0;
        if (!c.closeAfterAnswer && c.out.size() < kReadPauseBytes) {
            events |= POLLIN;
        }
        if (!c.out.empty()) {
            events |= POLLOUT;
        }
        fds.push_back({c.fd, events, 0});
    }
    us = std::max<std::int64_t>(us, 0);
    const timespec span{static_cast<time_t>(us / 1'000'000),
                        static_cast<long>(us % 1'000'000) * 1000};
    const int ready = ::ppoll(fds.data(), fds.size(), &span, nullptr);
    const Clock::time_point now = Clock::now();
    if (ready > 0) {
        for (std::size_t i = 0; i < m_clients.size(); ++i) {
            Client& c = m_clients[i];
            const short revents = fds[i + 1].revents;
            if ((revents & POLLIN) != 0) {
                readFrom(c, now);
            } else if ((revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                c.dropped = true;
            }
            if (!c.dropped && !c.out.empty()) {
                writeTo(c, now);
            }
        }
    }
    for (Client& c : m_clients) {
        checkTimes(c, now);
    }
    std::erase_if(m_clients, [](const Client& c) {
        if (c.dropped) {
            ::close(c.fd);
        }
        return c.dropped;
    });
    // Last, so a new client is first polled with the others.
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
        acceptClients(now);
    }
}

void KrakenServer::acceptClients(Clock::time_point now) {
    for (int i = 0; i < kAcceptsPerServe; ++i) {
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;  // none waiting (or a client gone before we took it)
        }
        if (m_clients.size() >= m_limits.maxClients) {
            // Full: the client idle the longest makes room, or the new one is turned away.
            auto idlest = m_clients.end();
            for (auto it = m_clients.begin(); it != m_clients.end(); ++it) {
                if (it->in.empty() && it->out.empty() &&
                    (idlest == m_clients.end() || it->lastActivity < idlest->lastActivity)) {
                    idlest = it;
                }
            }
            if (idlest == m_clients.end()) {
                ::close(fd);
                continue;
            }
            ::close(idlest->fd);
            m_clients.erase(idlest);
        }
        Client c;
        c.fd = fd;
        c.requestBegun = now;  // a client that never asks counts as stalled
        c.lastActivity = now;
        m_clients.push_back(std::move(c));
    }
}

void KrakenServer::readFrom(Client& c, Clock::time_point now) {
    char buf[kReadChunk];
    for (int i = 0;
         i < kReadsPerServe && !c.dropped && !c.closeAfterAnswer && c.out.size() < kReadPauseBytes;
         ++i) {
        const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            return;
        }
        if (n <= 0) {
            // Gone, or done sending: what it asked for is still answered, then it is closed.
            c.closeAfterAnswer = true;
            c.dropped = c.out.empty();
            return;
        }
        if (c.in.empty()) {
            c.requestBegun = now;
        }
        c.in.append(buf, static_cast<std::size_t>(n));
        c.lastActivity = now;
        answerRequests(c, now);
    }
}

void KrakenServer::answerRequests(Client& c, Clock::time_point now) {
    while (!c.dropped && !c.closeAfterAnswer) {
        // Blank lines before a request are allowed (and ignored).
        const std::size_t start = c.in.find_first_not_of("\r\n");
        c.in.erase(0, start == std::string::npos ? c.in.size() : start);
        if (c.in.empty()) {
            return;
        }
        const std::size_t crlf = c.in.find("\r\n\r\n");
        const std::size_t lf = c.in.find("\n\n");
        const std::size_t end = std::min(crlf, lf);
        if (end == std::string::npos || end > m_limits.maxHeadBytes) {
            c.dropped = end != std::string::npos || c.in.size() > m_limits.maxHeadBytes;
            return;
        }
        const std::optional<HttpRequest> request =
            parseRequestHead(std::string_view(c.in).substr(0, end));
        if (!request) {
            c.dropped = true;
            return;
        }
        c.in.erase(0, end + (end == crlf ? 4 : 2));
        c.requestBegun = now;
        c.answered = true;
        answer(c, *request, now);
    }
}

void KrakenServer::answer(Client& c, const HttpRequest& request, Clock::time_point now) {
    const bool found =
        (request.method == "GET" || request.method == "HEAD") && pathOf(request.target) == kDoaPath;
    const std::string_view body = found ? std::string_view(m_body) : kNotFound;
    // The body of a request is not read: the connection cannot go on after it.
    const bool keep = request.keepAlive && !request.hasBody;
    if (c.out.empty()) {
        c.outputMoved = now;
    }
    c.out += found ? "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                   : "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\n";
    c.out += "Content-Length: " + std::to_string(body.size()) +
             "\r\nCache-Control: no-cache\r\nConnection: " + (keep ? "keep-alive" : "close") +
             "\r\n\r\n";
    if (request.method != "HEAD") {
        c.out += body;
    }
    c.closeAfterAnswer = !keep;
    c.dropped = c.out.size() > m_limits.maxPendingBytes;
}

void KrakenServer::writeTo(Client& c, Clock::time_point now) {
    while (!c.out.empty()) {
        const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            return;
        }
        if (n <= 0) {
            c.dropped = true;
            return;
        }
        c.out.erase(0, static_cast<std::size_t>(n));
        c.outputMoved = now;
        c.lastActivity = now;
    }
    c.dropped = c.closeAfterAnswer;
}

void KrakenServer::checkTimes(Client& c, Clock::time_point now) const {
    if (c.dropped) {
        return;
    }
    const bool stalledRequest =
        (!c.in.empty() || !c.answered) && now - c.requestBegun > m_limits.stall;
    const bool stalledAnswer = !c.out.empty() && now - c.outputMoved > m_limits.stall;
    const bool idle = c.in.empty() && c.out.empty() && now - c.lastActivity > m_limits.idle;
    c.dropped = stalledRequest || stalledAnswer || idle;
}

}  // namespace kestrel::sim
