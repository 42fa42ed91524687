#pragma once
// One end-to-end session: a temporary HOME with its Kestrelmap folder, a private X server, the
// instruments on COM1 and the real kestrelmap executable, driven by clicks and keys at the
// designed places and read back from screenshots and from the files it writes. Everything the
// session starts ends with it, also when a check fails half-way.

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "e2e/instruments.h"
#include "e2e/process.h"
#include "e2e/x_display.h"
#include "kestrel-sim/geo.h"

namespace kestrel::e2e {

// The panel at the first start, from the default settings file.
inline constexpr const char* kDefaultPanel = "34 25.11  119 44.50  000";
inline constexpr const char* kMainTitle = "^Kestrelmap [0-9]{6}_[0-9]{6}$";
inline constexpr const char* kCloseQuestionTitle = "^Close Kestrelmap Program$";
inline constexpr const char* kMessageTitle = "^Kestrelmap$";

struct Placemark {
    std::string name;
    sim::GeoPoint point;
    sim::GeoPoint lineStart;
    sim::GeoPoint lineEnd;
    std::string pointText;  // the coordinate lines as written
    std::string lineEndText;
};

struct MapFile {
    std::string text;
    bool crlfEverywhere = false;
    bool complete = false;  // starts with the XML declaration and ends with </kml>
    std::vector<Placemark> placemarks;
};
std::optional<MapFile> readMapFile(const std::filesystem::path& path);

std::vector<std::string> readLines(const std::filesystem::path& path);

class Session {
  public:
    Session();  // throws std::runtime_error
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const std::filesystem::path& home() const { return m_home; }
    std::filesystem::path folder() const { return m_home / "Kestrelmap"; }
    const XTools& x() const { return *m_x; }

    // COM1 in the Kestrelmap folder; made before the program starts so that its port trial
    // finds a device.
    Instruments& instruments();

    // Starts kestrelmap and waits until its window shows `panel`.
    void startProgram(const std::string& panel = kDefaultPanel);
    Child& program() { return m_program; }
    WindowId window() const { return m_window; }

    // Clicks the middle of a visible control of the main window.
    void click(const std::string& control);
    void keys(const std::vector<std::string>& names);

    // The panel as it reads now ("?" for a register that shows no known glyph).
    std::string panel();
    // Reads until the panel shows `expected` or the time runs out; the last reading.
    std::string waitPanel(const std::string& expected,
                          std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Saves a screenshot of the main window as <test>-<label>.png in the screenshot folder.
    std::filesystem::path screenshot(const std::string& label);

    // EXIT, and the close question answered as the operator would: "cancel" presses Return
    // (Cancel is the default button), "ok" moves to OK with Tab and presses it with the space
    // bar. False when the question did not appear.
    bool exitAndAnswer(const std::string& answer);

    // The map files of this run: the time-stamped one and Current_Hunt.kml.
    std::filesystem::path stampedMapFile() const;
    std::filesystem::path currentMapFile() const { return folder() / "Current_Hunt.kml"; }
    // Waits until Current_Hunt.kml holds `count` placemarks; the file as last read.
    std::optional<MapFile> waitPlacemarks(std::size_t count, std::chrono::milliseconds timeout);

  private:
    std::filesystem::path m_home;
    std::unique_ptr<XServer> m_server;
    std::unique_ptr<XTools> m_x;
    std::unique_ptr<Instruments> m_instruments;
    Child m_program;
    WindowId m_window = 0;
    std::string m_caption;
};

}  // namespace kestrel::e2e
