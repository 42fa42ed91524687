#pragma once
// A private X server (Xvfb) for one test, and the X tools that play the operator on it:
// xdotool moves the pointer, clicks and types through the server; import takes screenshots.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "e2e/panel.h"
#include "e2e/process.h"

namespace kestrel::e2e {

using WindowId = unsigned long;
using namespace std::chrono_literals;

// Xvfb on a display number of its own choosing, ready when the constructor returns.
class XServer {
  public:
    explicit XServer(const std::string& logFile);  // throws std::runtime_error
    const std::string& display() const { return m_display; }

  private:
    Child m_child;
    std::string m_display;
};

struct WindowGeometry {
    int x = 0, y = 0, width = 0, height = 0;
};

class XTools {
  public:
    explicit XTools(std::string display) : m_display(std::move(display)) {}

    // The visible top-level windows whose title matches the regular expression.
    std::vector<WindowId> search(const std::string& titleRegex) const;
    std::optional<WindowId> waitWindow(const std::string& titleRegex,
                                       std::chrono::milliseconds timeout) const;
    bool waitWindowGone(WindowId window, std::chrono::milliseconds timeout) const;
    std::optional<WindowGeometry> geometry(WindowId window) const;
    std::string title(WindowId window) const;

    // A left click at (x, y) of the window's client area.
    void click(WindowId window, int x, int y) const;
    // Gives the window the keyboard focus and presses the keys one after the other
    // (xdotool key names: "space", "Return", "Tab", "a").
    void keys(WindowId window, const std::vector<std::string>& names) const;

    // A screenshot of the window; also saved as PNG when `pngPath` is given.
    std::optional<Image> capture(WindowId window, const std::string& pngPath = {}) const;

  private:
    RunResult tool(const std::vector<std::string>& argv) const;
    std::string m_display;
};

// The X programs the tests need, by name, that are not on PATH.
std::vector<std::string> missingXPrograms();

}  // namespace kestrel::e2e
