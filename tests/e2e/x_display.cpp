#include "e2e/x_display.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace kestrel::e2e {
namespace {

using Clock = std::chrono::steady_clock;

// Reads what Xvfb writes on its -displayfd descriptor: the display number once it accepts
// connections, nothing when it fails to start.
std::string readDisplayNumber(int fd, std::chrono::milliseconds timeout) {
    std::string text;
    const Clock::time_point end = Clock::now() + timeout;
    while (text.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) {
            break;
        }
        char buf[32];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
}

}  // namespace

XServer::XServer(const std::string& logFile) {
    // Xvfb picks a free display number itself (the first whose socket it can bind) and
    // writes it on the descriptor once it accepts connections: no number is guessed here,
    // so parallel tests never race for one.
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    Child child(SpawnOptions{{"Xvfb", "-screen", "0", "1280x800x24", "-dpi", "96", "-nolisten",
                              "tcp", "-noreset", "-displayfd", std::to_string(fds[1])},
                             {},
                             logFile,
                             fds[1]});
    ::close(fds[1]);
    const std::string answer = readDisplayNumber(fds[0], 10s);
    ::close(fds[0]);
    const std::string number = answer.substr(0, answer.find('\n'));
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
        child.stop();
        throw std::runtime_error("Xvfb did not report a display number (see " + logFile + ")");
    }
    m_child = std::move(child);
    m_display = ":" + number;
}

RunResult XTools::tool(const std::vector<std::string>& argv) const {
    // KESTREL_E2E_TRACE=1 prints every X tool call with its time, to see where a test waits.
    static const bool trace = std::getenv("KESTREL_E2E_TRACE") != nullptr;
    const Clock::time_point start = Clock::now();
    RunResult r = run(argv, {{"DISPLAY", m_display}, {"XAUTHORITY", std::nullopt}}, 10s);
    if (trace) {
        std::string line;
        for (const std::string& a : argv) {
            line += " " + a;
        }
        std::cerr
            << "e2e:" << line << " -> " << r.status << " in "
            << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count()
            << " ms\n";
    }
    return r;
}

std::vector<WindowId> XTools::search(const std::string& titleRegex) const {
    const RunResult r = tool({"xdotool", "search", "--onlyvisible", "--name", titleRegex});
    std::vector<WindowId> windows;
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            windows.push_back(std::stoul(line));
        }
    }
    return windows;
}

std::optional<WindowId> XTools::waitWindow(const std::string& titleRegex,
                                           std::chrono::milliseconds timeout) const {
    const Clock::time_point end = Clock::now() + timeout;
    do {
        const std::vector<WindowId> windows = search(titleRegex);
        if (!windows.empty()) {
            return windows.front();
        }
        std::this_thread::sleep_for(50ms);
    } while (Clock::now() < end);
    return std::nullopt;
}

bool XTools::waitWindowGone(WindowId window, std::chrono::milliseconds timeout) const {
    const Clock::time_point end = Clock::now() + timeout;
    do {
        // Not viewable any more (unmapped or destroyed).
        const std::vector<WindowId> visible = search(".");
        if (std::find(visible.begin(), visible.end(), window) == visible.end()) {
            return true;
        }
        std::this_thread::sleep_for(50ms);
    } while (Clock::now() < end);
    return false;
}

std::optional<WindowGeometry> XTools::geometry(WindowId window) const {
    const RunResult r = tool({"xdotool", "getwindowgeometry", "--shell", std::to_string(window)});
    if (r.status != 0) {
        return std::nullopt;
    }
    WindowGeometry g;
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);) {
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        const std::string name = line.substr(0, eq);
        const int value = std::atoi(line.c_str() + eq + 1);
        if (name == "X") {
            g.x = value;
        } else if (name == "Y") {
            g.y = value;
        } else if (name == "WIDTH") {
            g.width = value;
        } else if (name == "HEIGHT") {
            g.height = value;
        }
    }
    return g;
}

std::string XTools::title(WindowId window) const {
    std::string name = tool({"xdotool", "getwindowname", std::to_string(window)}).output;
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) {
        name.pop_back();
    }
    return name;
}

void XTools::click(WindowId window, int x, int y) const {
    // No --sync: it waits for pointer motion, and there is none when the pointer is already
    // there. The server handles the move before the click anyway.
    const RunResult r = tool({"xdotool", "mousemove", "--window", std::to_string(window),
                              std::to_string(x), std::to_string(y), "click", "1"});
    if (r.status != 0) {
        throw std::runtime_error("xdotool could not click at " + std::to_string(x) + "," +
                                 std::to_string(y));
    }
}

void XTools::keys(WindowId window, const std::vector<std::string>& names) const {
    std::vector<std::string> argv = {"xdotool", "windowfocus", "--sync", std::to_string(window),
                                     "key",     "--delay",     "60"};
    argv.insert(argv.end(), names.begin(), names.end());
    if (tool(argv).status != 0) {
        throw std::runtime_error("xdotool could not type into window " + std::to_string(window));
    }
}

std::optional<Image> XTools::capture(WindowId window, const std::string& pngPath) const {
    const RunResult r =
        tool({"import", "-silent", "-window", std::to_string(window), "-depth", "8", "ppm:-"});
    if (r.status != 0) {
        return std::nullopt;
    }
    if (!pngPath.empty()) {
        tool({"import", "-silent", "-window", std::to_string(window), "png:" + pngPath});
    }
    return parsePpm(r.output);
}

std::vector<std::string> missingXPrograms() {
    std::vector<std::string> missing;
    for (const char* name : {"Xvfb", "xdotool", "import"}) {
        if (!findProgram(name)) {
            missing.emplace_back(name);
        }
    }
    return missing;
}

}  // namespace kestrel::e2e
