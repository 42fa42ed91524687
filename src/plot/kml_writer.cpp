#include <algorithm>

#include "app/form_kestrelmap.h"
#include "plot/kml_document.h"

namespace kestrel {

namespace {

constexpr std::string_view kEol = "\r\n";
constexpr int kMaxPlots = 99;

constexpr std::string_view kHeader[] = {
    R"(<?xml version="1.0" encoding="UTF-8"?>)",
    R"(<kml xmlns="http://www.opengis.net/kml/2.2")",
    R"(xmlns:gx="http://www.google.com/kml/ext/2.2")",
    R"(xmlns:kml="http://www.opengis.net/kml/2.2")",
    R"(xmlns:atom="http://www.w3.org/2005/Atom">)",
    "<Document>",
};

// Text that goes inside an element: the three characters XML reserves there are escaped. The
// texts the program forms (times, colours, coordinates) never contain them.
void appendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
}

void appendLine(std::string& out, std::string_view line) {
    out += line;
    out += kEol;
}

// The 21 lines of one placemark. The style lines follow the schema's order: IconStyle (lines
// 4 to 6), LabelStyle (7), LineStyle (8); the coordinates stay on lines 12, 16 and 17.
void appendPlacemark(std::string& out, const std::array<std::string, 4>& row,
                     std::string_view vectorColour) {
    appendLine(out, "<Placemark>");
    out += "<name>";
    appendEscaped(out, row[3]);
    appendLine(out, "</name>");
    appendLine(out, "<Style>");
    appendLine(out, "<IconStyle><Icon>");
    appendLine(out, "<href>http://maps.google.com/mapfiles/kml/shapes/target.png</href>");
    appendLine(out, "</Icon></IconStyle>");
    appendLine(out, "<LabelStyle><color>ff00ffff</color></LabelStyle>");
    out += "<LineStyle><color>";
    appendEscaped(out, vectorColour);
    appendLine(out, "</color><width>3</width></LineStyle>");
    appendLine(out, "</Style>");
    appendLine(out, "<MultiGeometry>");
    appendLine(out, "<Point><coordinates>");
    appendEscaped(out, row[1]);
    out += kEol;
    appendLine(out, "</coordinates></Point>");
    appendLine(out, "<LineString>");
    appendLine(out, "<coordinates>");
    appendEscaped(out, row[1]);
    out += kEol;
    appendEscaped(out, row[2]);
    out += kEol;
    appendLine(out, "</coordinates>");
    appendLine(out, "</LineString>");
    appendLine(out, "</MultiGeometry>");
    appendLine(out, "</Placemark>");
}

}  // namespace

std::string kmlDocument(const PlotTable& table, int plotCount, std::string_view vectorColour) {
    const int count = std::clamp(plotCount, 0, kMaxPlots);
    std::string out;
    out.reserve(256 + static_cast<size_t>(count) * 560);
    for (std::string_view line : kHeader) {
        appendLine(out, line);
    }
    for (int row = 1; row <= count; ++row) {
        appendPlacemark(out, table[static_cast<size_t>(row)], vectorColour);
    }
    appendLine(out, "</Document>");
    appendLine(out, "</kml>");
    return out;
}

// Both hunt files get the same document, the time-stamped one first. A file that fails does
// not keep the other from being written; the first failure is the one reported.
bool Form_Kestrelmap::writeHuntFiles(std::string& failedFile, std::string& reason) {
    const std::string document = kmlDocument(PLOT_TABLE, NUMBER_OF_PLOTS, VECTOR_COLOR);
    bool allWritten = true;
    for (const std::string* path : {&FILENAME_STRING, &CURRENT_FILENAME}) {
        std::string error;
        if (!m_platform.files.write(*path, document, error)) {
            if (allWritten) {
                failedFile = *path;
                reason = error.empty() ? "unknown error" : error;
            }
            allWritten = false;
        }
    }
    return allWritten;
}

// Rewrites both hunt files from the plots in memory. When a write fails the plots stay in
// memory and the next plot tries again with the whole table; the operator hears of it once,
// at the first failure of a run of failures, and a successful write ends the run.
void Form_Kestrelmap::BUILD_KML_FILE() {
    std::string failedFile;
    std::string reason;
    if (writeHuntFiles(failedFile, reason)) {
        m_huntFilesFailing = false;
        return;
    }
    if (m_huntFilesFailing) {
        return;
    }
    // Set before the message box: its event loop may run a timer plot that fails again.
    m_huntFilesFailing = true;
    m_platform.messages.show("The map file " + failedFile + " could not be written (" + reason +
                                 ").\nThe plots are kept in memory; the next plot writes the "
                                 "map files again.",
                             "Kestrelmap", MessageButtons::Ok, false);
}

}  // namespace kestrel
