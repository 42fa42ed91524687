#pragma once
// The invariants that must hold between any two events, whatever came in on the serial line,
// from the settings file or from the disk; a file store that checks every map document as it is
// written; and a rig that wires a main window to it. Shared by the fuzz targets, the fault
// tests and the soak. Each check answers with the first fault found, or an empty text.

#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fakes/fake_platform.h"
#include "instruments/input_routing.h"
#include "soak/xml_check.h"

namespace kestrel::test {

// ---- Map documents ----

// One number of a coordinate tuple: optional "-", digits, optionally "." and digits. No
// exponent, no leading "." and nothing that is not a finite number.
inline bool plainNumber(std::string_view t, double& value) {
    size_t i = 0;
    if (i < t.size() && t[i] == '-') {
        ++i;
    }
    const size_t intStart = i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
        ++i;
    }
    if (i == intStart) {
        return false;
    }
    if (i < t.size() && t[i] == '.') {
        ++i;
        const size_t fracStart = i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
            ++i;
        }
        if (i == fracStart) {
            return false;
        }
    }
    if (i != t.size()) {
        return false;
    }
    value = std::strtod(std::string(t).c_str(), nullptr);
    return std::isfinite(value);
}

// "lon,lat,0" with blanks around it allowed.
inline bool coordinateTuple(std::string_view line, double& lon, double& lat) {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
        line.remove_prefix(1);
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) {
        line.remove_suffix(1);
    }
    const size_t c1 = line.find(',');
    const size_t c2 = c1 == std::string_view::npos ? c1 : line.find(',', c1 + 1);
    if (c2 == std::string_view::npos) {
        return false;
    }
    double alt = 0;
    return plainNumber(line.substr(0, c1), lon) &&
           plainNumber(line.substr(c1 + 1, c2 - c1 - 1), lat) &&
           plainNumber(line.substr(c2 + 1), alt) && alt == 0;
}

inline int countOf(std::string_view doc, std::string_view what) {
    int n = 0;
    for (size_t at = doc.find(what); at != std::string_view::npos;
         at = doc.find(what, at + what.size())) {
        ++n;
    }
    return n;
}

inline std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// A map document: well-formed XML, CR LF after every line, and in every placemark a point and
// a two-point line that starts at the point, all in plain decimal numbers, the point on earth
// unless `anywhere` (a hand-entered or stored position may name 99° 99.99′). `placemarks` < 0
// accepts any count.
inline std::string kmlProblem(std::string_view doc, int placemarks = -1, bool anywhere = false) {
    if (std::string xml = xmlProblem(doc); !xml.empty()) {
        return "not well-formed XML: " + xml;
    }
    for (size_t i = 0; i < doc.size(); ++i) {
        if (doc[i] == '\n' && (i == 0 || doc[i - 1] != '\r')) {
            return "line " + std::to_string(countOf(doc.substr(0, i), "\n") + 1) +
                   " not ended by CR LF";
        }
    }
    if (doc.empty() || doc.back() != '\n') {
        return "last line not ended by CR LF";
    }
    const int count = countOf(doc, "<Placemark>");
    if (placemarks >= 0 && count != placemarks) {
        return std::to_string(count) + " placemarks, expected " + std::to_string(placemarks);
    }
    const std::vector<std::string_view> lines = splitLines(doc);
    int seen = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] != "<Point><coordinates>") {
            continue;
        }
        ++seen;
        // <Point><coordinates>, point, </coordinates></Point>, <LineString>, <coordinates>,
        // point, end point, </coordinates>
        if (i + 7 >= lines.size() || lines[i + 4] != "<coordinates>" ||
            lines[i + 7] != "</coordinates>") {
            return "placemark " + std::to_string(seen) + " is not laid out as point, line";
        }
        double lon = 0, lat = 0, lon2 = 0, lat2 = 0, lon3 = 0, lat3 = 0;
        if (!coordinateTuple(lines[i + 1], lon, lat) ||
            !coordinateTuple(lines[i + 5], lon2, lat2) ||
            !coordinateTuple(lines[i + 6], lon3, lat3)) {
            return "placemark " + std::to_string(seen) + " has a coordinate that is no plain " +
                   "number: '" + std::string(lines[i + 1]) + "' '" + std::string(lines[i + 6]) +
                   "'";
        }
        if (!anywhere && (std::abs(lon) > 180 || std::abs(lat) > 90)) {
            return "placemark " + std::to_string(seen) + " is off the earth";
        }
        if (lon != lon2 || lat != lat2) {
            return "placemark " + std::to_string(seen) + ": the line does not start at the point";
        }
    }
    if (seen != count) {
        return std::to_string(count) + " placemarks but " + std::to_string(seen) + " points";
    }
    return {};
}

// ---- The state of the main window ----

struct RegisterSpec {
    const char* name;
    DigitRegister Form_Kestrelmap::*reg;
    int top;         // the register's own cycle is "0" to this digit
    int hundreds;    // index of the hundreds register that limits this one, or -1
    int limitWhen;   // ... while the hundreds holds this digit
    int limitedTop;  // ... to this top
    bool bearing;
};

using MainWindow = Form_Kestrelmap;
inline const RegisterSpec kRegisters[16] = {
    {"LAT_DEGX10", &MainWindow::Picture_LAT_DEGX10, 8, -1, 0, 0, false},
    {"LAT_DEGX1", &MainWindow::Picture_LAT_DEGX1, 9, -1, 0, 0, false},
    {"LAT_MINX10", &MainWindow::Picture_LAT_MINX10, 5, -1, 0, 0, false},
    {"LAT_MINX1", &MainWindow::Picture_LAT_MINX1, 9, -1, 0, 0, false},
    {"LAT_MINX01", &MainWindow::Picture_LAT_MINX01, 9, -1, 0, 0, false},
    {"LAT_MINX001", &MainWindow::Picture_LAT_MINX001, 9, -1, 0, 0, false},
    {"LONG_DEGX100", &MainWindow::Picture_LONG_DEGX100, 1, -1, 0, 0, false},
    {"LONG_DEGX10", &MainWindow::Picture_LONG_DEGX10, 9, 6, 1, 7, false},
    {"LONG_DEGX1", &MainWindow::Picture_LONG_DEGX1, 9, -1, 0, 0, false},
    {"LONG_MINX10", &MainWindow::Picture_LONG_MINX10, 5, -1, 0, 0, false},
    {"LONG_MINX1", &MainWindow::Picture_LONG_MINX1, 9, -1, 0, 0, false},
    {"LONG_MINX01", &MainWindow::Picture_LONG_MINX01, 9, -1, 0, 0, false},
    {"LONG_MINX001", &MainWindow::Picture_LONG_MINX001, 9, -1, 0, 0, false},
    {"BRGX100", &MainWindow::Picture_BRGX100, 3, -1, 0, 0, true},
    {"BRGX10", &MainWindow::Picture_BRGX10, 9, 13, 3, 5, true},
    {"BRGX1", &MainWindow::Picture_BRGX1, 9, -1, 0, 0, true},
};

// The digit a one-character tag "0".."9" holds, or -1.
inline int tagDigit(const std::string& tag) {
    return (tag.size() == 1 && tag[0] >= '0' && tag[0] <= '9') ? tag[0] - '0' : -1;
}

inline const char* glyphName(Glyph g) {
    static const char* const kNames[] = {"ZERO",  "ONE",   "TWO",  "THREE", "FOUR", "FIVE", "SIX",
                                         "SEVEN", "EIGHT", "NINE", "DASH",  "S",    "P",    "D"};
    const auto i = static_cast<size_t>(g);
    return i < 14 ? kNames[i] : "?";
}

struct CheckOptions {
    // Position tags may hold anything the settings file gave (then the register shows DASH)
    // and the coupled cycles are not enforced: true right after start-up from a fuzzed file.
    bool tagsFromSettings = false;
    // The instruments' inputs when the source switches go through the input router; null: both
    // instruments on the COM line, which is then open exactly while a source is on one.
    const instruments::InputConfig* inputs = nullptr;
};

inline std::string registerProblem(Form_Kestrelmap& f, const CheckOptions& o) {
    for (int i = 0; i < 16; ++i) {
        const RegisterSpec& s = kRegisters[i];
        const DigitRegister& r = f.*(s.reg);
        const int d = tagDigit(r.Tag);
        int top = s.top;
        if (s.hundreds >= 0 && !o.tagsFromSettings &&
            tagDigit((f.*(kRegisters[s.hundreds].reg)).Tag) == s.limitWhen) {
            top = s.limitedTop;
        }
        const std::string where =
            std::string(s.name) + " (tag '" + r.Tag + "', glyph " + glyphName(r.glyph) + ")";
        const bool tagLegal = d >= 0 && d <= top;
        const bool glyphIsDigit = static_cast<int>(r.glyph) <= 9;
        if (!tagLegal && !(o.tagsFromSettings && !s.bearing)) {
            return where + ": value outside the register's cycle";
        }
        if (glyphIsDigit) {
            if (static_cast<int>(r.glyph) != d) {
                return where + ": the glyph shows another digit than the value";
            }
            if (!tagLegal) {
                return where + ": a digit glyph outside the register's cycle";
            }
        } else if (r.glyph != Glyph::Dash && !s.bearing) {
            return where + ": a letter on a position register";
        } else if (static_cast<int>(r.glyph) > 13) {
            return where + ": no such glyph";
        }
    }
    // S, P, D only ever together, in that order.
    const Glyph h = f.Picture_BRGX100.glyph, t = f.Picture_BRGX10.glyph, u = f.Picture_BRGX1.glyph;
    const bool anyLetter = h == Glyph::S || h == Glyph::P || h == Glyph::D || t == Glyph::S ||
                           t == Glyph::P || t == Glyph::D || u == Glyph::S || u == Glyph::P ||
                           u == Glyph::D;
    if (anyLetter && !(h == Glyph::S && t == Glyph::P && u == Glyph::D)) {
        return std::string("bearing shows ") + glyphName(h) + " " + glyphName(t) + " " +
               glyphName(u);
    }
    const bool digits =
        static_cast<int>(h) <= 9 && static_cast<int>(t) <= 9 && static_cast<int>(u) <= 9;
    if (digits) {
        const int bearing =
            100 * static_cast<int>(h) + 10 * static_cast<int>(t) + static_cast<int>(u);
        if (bearing > 359) {
            return "bearing shown as " + std::to_string(bearing);
        }
    }
    return {};
}

// Everything between two events of a running hunt.
inline std::string huntProblem(Form_Kestrelmap& f, const CheckOptions& o = {}) {
    if (f.INBUFF.size() > 100) {
        return "INBUFF holds " + std::to_string(f.INBUFF.size()) + " characters";
    }
    if (std::string r = registerProblem(f, o); !r.empty()) {
        return r;
    }
    if (f.CmdButton_LAT_HEMI.Tag != "N" && f.CmdButton_LAT_HEMI.Tag != "S") {
        return "latitude hemisphere '" + f.CmdButton_LAT_HEMI.Tag + "'";
    }
    if (f.CmdButton_LONG_HEMI.Tag != "E" && f.CmdButton_LONG_HEMI.Tag != "W") {
        return "longitude hemisphere '" + f.CmdButton_LONG_HEMI.Tag + "'";
    }
    if (f.CmdButton_LAT_HEMI.Caption != f.CmdButton_LAT_HEMI.Tag ||
        f.CmdButton_LONG_HEMI.Caption != f.CmdButton_LONG_HEMI.Tag) {
        return "a hemisphere caption differs from its value";
    }
    if (f.NUMBER_OF_PLOTS < 0 || f.NUMBER_OF_PLOTS > 99) {
        return "NUMBER_OF_PLOTS " + std::to_string(f.NUMBER_OF_PLOTS);
    }
    int filled = 0;
    for (int row = 1; row <= 99; ++row) {
        const auto& r = f.PLOT_TABLE[static_cast<size_t>(row)];
        const bool holds = !r[1].empty();
        if (holds && (r[2].empty() || r[3].empty())) {
            return "plot row " + std::to_string(row) + " half filled";
        }
        if (holds != (row <= f.NUMBER_OF_PLOTS)) {
            return "plot row " + std::to_string(row) + (holds ? " filled" : " empty") +
                   " with NUMBER_OF_PLOTS " + std::to_string(f.NUMBER_OF_PLOTS);
        }
        filled += holds ? 1 : 0;
    }
    if (filled != f.NUMBER_OF_PLOTS) {
        return "NUMBER_OF_PLOTS " + std::to_string(f.NUMBER_OF_PLOTS) + " but " +
               std::to_string(filled) + " rows hold plots";
    }
    if (!f.PLOT_TABLE[0][1].empty() || !f.PLOT_TABLE[100][1].empty()) {
        return "a plot stored outside rows 1 to 99";
    }
    if (f.NEXT_PLOT_NUMBER < 1 || f.NEXT_PLOT_NUMBER > 99) {
        return "NEXT_PLOT_NUMBER " + std::to_string(f.NEXT_PLOT_NUMBER);
    }
    if (f.GPS_TIMEOUT < 0 || f.GPS_TIMEOUT > 10 || f.DF_TIMEOUT < 0 || f.DF_TIMEOUT > 10) {
        return "time-out counters " + std::to_string(f.GPS_TIMEOUT) + ", " +
               std::to_string(f.DF_TIMEOUT);
    }
    if (f.CmdButton_ADD_PLOT.Enabled == f.Timer_BLINK.Enabled) {
        return "ADD PLOT enabled and hold-off timer running disagree";
    }
    if (f.CmdButton_ADD_PLOT.Enabled &&
        f.CmdButton_ADD_PLOT.Caption != "ADD PLOT " + std::to_string(f.NEXT_PLOT_NUMBER)) {
        return "ADD PLOT caption '" + f.CmdButton_ADD_PLOT.Caption + "' with next plot " +
               std::to_string(f.NEXT_PLOT_NUMBER);
    }
    const bool positOnGps = f.CmdButton_POSIT_SOURCE.Tag == "GPS";
    const bool bearingOnDf = f.CmdButton_DF_SOURCE.Tag == "DF";
    const bool lineNeeded = o.inputs != nullptr
                                ? instruments::neededInputs(*o.inputs, positOnGps, bearingOnDf).line
                                : positOnGps || bearingOnDf;
    if (f.MSComm1.isOpen() != lineNeeded) {
        return std::string("serial port ") + (f.MSComm1.isOpen() ? "open" : "closed") +
               " with sources " + f.CmdButton_POSIT_SOURCE.Tag + "/" + f.CmdButton_DF_SOURCE.Tag;
    }
    const int16_t port = f.MSComm1.portNumber();
    if (port < 1 || port > 8) {
        return "port number " + std::to_string(port);
    }
    return {};
}

// ---- A file store that checks every map document written ----

class CheckingFiles : public FakeFiles {
  public:
    bool write(const std::string& path, std::string_view content, std::string& error) override {
        const bool kml = path.size() > 4 && path.compare(path.size() - 4, 4, ".kml") == 0;
        if (kml) {
            ++kmlWrites;
            if (std::string p = kmlProblem(content, -1, positionsAnywhere);
                !p.empty() && faults.size() < 20) {
                faults.push_back(path + ": " + p);
            }
        }
        const bool ok = FakeFiles::write(path, content, error);
        if (kml) {
            kmlFailures += ok ? 0 : 1;
            lastWriteOk[path] = ok;
        }
        return ok;
    }
    // True when the latest write of the file succeeded.
    bool lastWriteSucceeded(const std::string& path) const {
        const auto it = lastWriteOk.find(path);
        return it != lastWriteOk.end() && it->second;
    }

    bool positionsAnywhere = false;   // see kmlProblem
    std::vector<std::string> faults;  // problems of documents written, first 20
    int kmlWrites = 0;
    int kmlFailures = 0;
    std::map<std::string, bool> lastWriteOk;
};

// A main window over the fakes and the checking store, in the folder "/hunt/". Message boxes
// go to `messages`, or to `box` when one is given.
struct HardenRig {
    explicit HardenRig(MessageBox* box = nullptr)
        : platform{serial, box != nullptr ? *box : messages, picker, beeper, clock, files},
          form(std::make_unique<Form_Kestrelmap>(platform, "/hunt/")) {}

    FakeSerialPort serial;
    FakeMessageBox messages;
    FakeColourPicker picker;
    FakeBeeper beeper;
    FakeClock clock;
    CheckingFiles files;
    Platform platform;
    std::unique_ptr<Form_Kestrelmap> form;

    static constexpr const char* kSettings = "/hunt/Kestrelmap.ini";
    static constexpr const char* kCurrent = "/hunt/Current_Hunt.kml";

    Form_Kestrelmap& main() { return *form; }
    Form_Kestrelmap& restart() {
        form = std::make_unique<Form_Kestrelmap>(platform, "/hunt/");
        return *form;
    }
    // Both hunt files hold every plot in memory, or a problem. Checked only when the latest
    // write of each succeeded (`force` checks regardless).
    std::string mapFilesProblem(bool force = false) {
        Form_Kestrelmap& f = main();
        if (!force && (!files.lastWriteSucceeded(f.FILENAME_STRING) ||
                       !files.lastWriteSucceeded(f.CURRENT_FILENAME))) {
            return {};
        }
        const auto stamped = files.files.find(f.FILENAME_STRING);
        const auto current = files.files.find(f.CURRENT_FILENAME);
        if (stamped == files.files.end() || current == files.files.end()) {
            return "a hunt file is missing";
        }
        if (stamped->second != current->second) {
            return "the two hunt files differ";
        }
        if (std::string p = kmlProblem(current->second, f.NUMBER_OF_PLOTS, files.positionsAnywhere);
            !p.empty()) {
            return f.CURRENT_FILENAME + ": " + p;
        }
        // Placemark i is plot row i: name, point and end point.
        const std::vector<std::string_view> lines = splitLines(current->second);
        int row = 0;
        for (size_t i = 0; i + 6 < lines.size(); ++i) {
            if (lines[i].rfind("<name>", 0) == 0) {
                const auto& plot = f.PLOT_TABLE[static_cast<size_t>(++row)];
                if (lines[i] != "<name>" + plot[3] + "</name>") {
                    return "placemark " + std::to_string(row) + " is named " +
                           std::string(lines[i]) + ", plot row holds " + plot[3];
                }
            } else if (lines[i] == "<Point><coordinates>" && row > 0) {
                const auto& plot = f.PLOT_TABLE[static_cast<size_t>(row)];
                if (lines[i + 1] != plot[1] || lines[i + 6] != plot[2]) {
                    return "placemark " + std::to_string(row) + " holds '" +
                           std::string(lines[i + 1]) + "' '" + std::string(lines[i + 6]) +
                           "', plot row '" + plot[1] + "' '" + plot[2] + "'";
                }
            }
        }
        return {};
    }
};

// Moves a clock on by whole seconds, across midnight and month ends.
inline void advanceClock(LocalTime& t, int seconds) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    t.second += seconds;
    while (t.second >= 60) {
        t.second -= 60;
        if (++t.minute < 60) {
            continue;
        }
        t.minute = 0;
        if (++t.hour < 24) {
            continue;
        }
        t.hour = 0;
        const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
        const int days = kDays[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
        if (++t.day > days) {
            t.day = 1;
            if (++t.month > 12) {
                t.month = 1;
                ++t.year;
            }
        }
    }
}

}  // namespace kestrel::test
