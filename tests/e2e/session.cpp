#include "e2e/session.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <charconv>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace kestrel::e2e {
namespace fs = std::filesystem;
namespace {

using Clock = std::chrono::steady_clock;

std::string requiredEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        throw std::runtime_error(std::string(name) + " is not set (CTest sets it)");
    }
    return value;
}

std::string testName() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    return info != nullptr ? info->name() : "e2e";
}

fs::path screenshotFolder() {
    const char* dir = std::getenv("KESTREL_E2E_SHOTS");
    fs::path folder = dir != nullptr && *dir != '\0' ? fs::path(dir) : fs::path("e2e-screenshots");
    fs::create_directories(folder);
    return folder;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// "-104.9875,39.74166,0" (a leading space allowed) as a point.
std::optional<sim::GeoPoint> coordinates(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    double lon = 0;
    double lat = 0;
    const char* end = text.data() + text.size();
    auto [p1, e1] = std::from_chars(text.data(), end, lon);
    if (e1 != std::errc() || p1 == end || *p1 != ',') {
        return std::nullopt;
    }
    auto [p2, e2] = std::from_chars(p1 + 1, end, lat);
    if (e2 != std::errc() || std::string_view(p2, static_cast<std::size_t>(end - p2)) != ",0") {
        return std::nullopt;
    }
    return sim::GeoPoint{lat, lon};
}

}  // namespace

std::vector<std::string> readLines(const fs::path& path) {
    std::vector<std::string> lines;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

std::optional<MapFile> readMapFile(const fs::path& path) {
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        return std::nullopt;
    }
    MapFile file;
    file.text = readFile(path);
    std::vector<std::string> lines;
    file.crlfEverywhere = !file.text.empty() && file.text.back() == '\n';
    std::istringstream in(file.text);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line.back() != '\r') {
            file.crlfEverywhere = false;
        } else {
            line.pop_back();
        }
        lines.push_back(line);
    }
    file.complete =
        !lines.empty() && lines.front().rfind("<?xml", 0) == 0 && lines.back() == "</kml>";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] != "<Placemark>") {
            continue;
        }
        Placemark mark;
        bool point = false;
        bool line = false;
        for (std::size_t j = i + 1; j < lines.size() && lines[j] != "</Placemark>"; ++j) {
            const std::string& l = lines[j];
            if (l.rfind("<name>", 0) == 0 && l.size() >= 13) {
                mark.name = l.substr(6, l.size() - 13);
            } else if (l == "<Point><coordinates>" && j + 1 < lines.size()) {
                const auto c = coordinates(lines[j + 1]);
                point = c.has_value();
                mark.point = c.value_or(sim::GeoPoint{});
                mark.pointText = lines[j + 1];
            } else if (l == "<coordinates>" && j + 2 < lines.size()) {
                const auto a = coordinates(lines[j + 1]);
                const auto b = coordinates(lines[j + 2]);
                line = a && b;
                mark.lineStart = a.value_or(sim::GeoPoint{});
                mark.lineEnd = b.value_or(sim::GeoPoint{});
                mark.lineEndText = lines[j + 2];
            }
        }
        if (!point || !line) {
            return std::nullopt;  // a placemark without both geometries is a broken map
        }
        file.placemarks.push_back(mark);
    }
    return file;
}

Session::Session() {
    std::string pattern = (fs::temp_directory_path() / "kestrel-e2e-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary HOME");
    }
    m_home = pattern;
    fs::create_directories(m_home / "Kestrelmap");
    fs::create_directories(m_home / "run");
    fs::permissions(m_home / "run", fs::perms::owner_all);
    m_server = std::make_unique<XServer>((m_home / "xvfb.log").string());
    m_x = std::make_unique<XTools>(m_server->display());
}

Session::~Session() {
    m_program.stop();
    m_instruments.reset();
    m_server.reset();
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    if (std::uncaught_exceptions() > 0 || (info != nullptr && info->result()->Failed())) {
        std::cerr << "e2e: kept " << m_home << " (program log: " << (m_home / "kestrelmap.log")
                  << ")\n";
        return;
    }
    std::error_code ec;
    fs::remove_all(m_home, ec);
}

Instruments& Session::instruments() {
    if (!m_instruments) {
        m_instruments = std::make_unique<Instruments>(folder().string());
    }
    return *m_instruments;
}

void Session::startProgram(const std::string& panel) {
    const std::string program = requiredEnv("KESTREL_E2E_PROGRAM");
    m_program = Child(SpawnOptions{{program, "--map-port", "0"},
                                   {{"HOME", m_home.string()},
                                    {"DISPLAY", m_server->display()},
                                    {"XDG_RUNTIME_DIR", (m_home / "run").string()},
                                    {"QT_QPA_PLATFORM", "xcb"},
                                    {"QT_SCALE_FACTOR", std::nullopt},
                                    {"QT_SCREEN_SCALE_FACTORS", std::nullopt},
                                    {"QT_ENABLE_HIGHDPI_SCALING", "0"},
                                    {"WAYLAND_DISPLAY", std::nullopt},
                                    {"XAUTHORITY", std::nullopt},
                                    {"NO_AT_BRIDGE", "1"}},
                                   (m_home / "kestrelmap.log").string()});
    const std::optional<WindowId> window = m_x->waitWindow(kMainTitle, std::chrono::seconds(15));
    if (!window) {
        throw std::runtime_error("the Kestrelmap window did not appear; see " +
                                 (m_home / "kestrelmap.log").string());
    }
    m_window = *window;
    m_caption = m_x->title(m_window);
    const std::string shown = waitPanel(panel, std::chrono::seconds(10));
    if (shown != panel) {
        throw std::runtime_error("the panel did not come up as \"" + panel + "\" but \"" + shown +
                                 "\"");
    }
}

void Session::click(const std::string& control) {
    const Rect r = controlRect(control);
    m_x->click(m_window, r.left + r.width / 2, r.top + r.height / 2);
}

void Session::keys(const std::vector<std::string>& names) {
    m_x->keys(m_window, names);
}

std::string Session::panel() {
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (const std::optional<Image> image = m_x->capture(m_window)) {
            return readPanel(*image);
        }
    }
    throw std::runtime_error("cannot take a screenshot of the main window");
}

std::string Session::waitPanel(const std::string& expected, std::chrono::milliseconds timeout) {
    const Clock::time_point end = Clock::now() + timeout;
    std::string shown = panel();
    while (shown != expected && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        shown = panel();
    }
    return shown;
}

fs::path Session::screenshot(const std::string& label) {
    fs::path path = screenshotFolder() / (testName() + "-" + label + ".png");
    m_x->capture(m_window, path.string());
    return path;
}

bool Session::exitAndAnswer(const std::string& answer) {
    click("cmdbutton_EXIT");
    const std::optional<WindowId> box =
        m_x->waitWindow(kCloseQuestionTitle, std::chrono::seconds(5));
    if (!box) {
        return false;
    }
    if (answer == "cancel") {
        m_x->keys(*box, {"Return"});
    } else {
        m_x->keys(*box, {"Tab", "space"});
    }
    return m_x->waitWindowGone(*box, std::chrono::seconds(5));
}

fs::path Session::stampedMapFile() const {
    // The caption is "Kestrelmap " and the hunt stamp that names the file.
    return folder() / (m_caption.substr(m_caption.find(' ') + 1) + ".kml");
}

std::optional<MapFile> Session::waitPlacemarks(std::size_t count,
                                               std::chrono::milliseconds timeout) {
    const Clock::time_point end = Clock::now() + timeout;
    std::optional<MapFile> file = readMapFile(currentMapFile());
    while ((!file || file->placemarks.size() < count) && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        file = readMapFile(currentMapFile());
    }
    return file;
}

}  // namespace kestrel::e2e
