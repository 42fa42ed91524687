#include <algorithm>
#include <array>

#include "app/form_kestrelmap.h"
#include "app/xml_text.h"
#include "plot/kml_document.h"

namespace kestrel {

namespace {

constexpr std::string_view kEol = "\r\n";
constexpr int kMaxPlots = 99;

// The 21 lines of one placemark. The style lines follow the schema's order: IconStyle (lines
// 4 to 6), LabelStyle (7), LineStyle (8); the coordinates stay on lines 12, 16 and 17.
void appendPlacemark(std::string& out, const std::array<std::string, 4>& row,
                     std::string_view vectorColour) {
    appendCrLfLine(out, "<Placemark>");
    out += "<name>";
    appendXmlEscaped(out, row[3]);
    appendCrLfLine(out, "</name>");
    appendCrLfLine(out, "<Style>");
    appendCrLfLine(out, "<IconStyle><Icon>");
    appendCrLfLine(out, "<href>http://maps.google.com/mapfiles/kml/shapes/target.png</href>");
    appendCrLfLine(out, "</Icon></IconStyle>");
    appendCrLfLine(out, "<LabelStyle><color>ff00ffff</color></LabelStyle>");
    out += "<LineStyle><color>";
    appendXmlEscaped(out, vectorColour);
    appendCrLfLine(out, "</color><width>3</width></LineStyle>");
    appendCrLfLine(out, "</Style>");
    appendCrLfLine(out, "<MultiGeometry>");
    appendCrLfLine(out, "<Point><coordinates>");
    appendXmlEscaped(out, row[1]);
    out += kEol;
    appendCrLfLine(out, "</coordinates></Point>");
    appendCrLfLine(out, "<LineString>");
    appendCrLfLine(out, "<coordinates>");
    appendXmlEscaped(out, row[1]);
    out += kEol;
    appendXmlEscaped(out, row[2]);
    out += kEol;
    appendCrLfLine(out, "</coordinates>");
    appendCrLfLine(out, "</LineString>");
    appendCrLfLine(out, "</MultiGeometry>");
    appendCrLfLine(out, "</Placemark>");
}

}  // namespace

std::string kmlDocument(const PlotTable& table, int plotCount, std::string_view vectorColour) {
    const int count = std::clamp(plotCount, 0, kMaxPlots);
    std::string out;
    out.reserve(256 + static_cast<size_t>(count) * 560);
    for (std::string_view line : kKmlHeaderLines) {
        appendCrLfLine(out, line);
    }
    for (int row = 1; row <= count; ++row) {
        appendPlacemark(out, table[static_cast<size_t>(row)], vectorColour);
    }
    appendCrLfLine(out, "</Document>");
    appendCrLfLine(out, "</kml>");
    return out;
}

// Both hunt files get the same document, the time-stamped one first. A file that fails does
// not keep the other from being written; the first failure is the one reported.
std::optional<WriteFailure> Form_Kestrelmap::writeHuntFiles(bool quietly) {
    const std::array paths{FILENAME_STRING, CURRENT_FILENAME};
    return writeAll(m_platform.files, m_huntFilesNotice, paths,
                    kmlDocument(PLOT_TABLE, NUMBER_OF_PLOTS, VECTOR_COLOR), quietly);
}

// Rewrites both hunt files from the plots in memory. When a write fails the plots stay in
// memory and the next plot tries again with the whole table; the operator hears of it once,
// at the first failure of a run of failures, and a successful write ends the run.
void Form_Kestrelmap::BUILD_KML_FILE() {
    writeHuntFiles();
}

}  // namespace kestrel
