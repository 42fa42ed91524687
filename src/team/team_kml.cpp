#include "team/team_kml.h"

#include <GeographicLib/Geodesic.hpp>

#include "app/xml_text.h"
#include "estimate/number_format.h"
#include "plot/kml_document.h"

namespace kestrel::team {

namespace {

constexpr std::string_view kEol = "\r\n";
constexpr double kMetresPerMile = 1609.344;

// Clearly different on a satellite picture: orange, magenta, cyan, green, red, blue, yellow,
// white.
constexpr std::string_view kPalette[] = {"ff00a5ff", "ffff00ff", "ffffff00", "ff00ff00",
                                         "ff0000ff", "ffff0000", "ff00ffff", "ffffffff"};

// "lon,lat,0"
void appendCoordinates(std::string& out, double latitude, double longitude) {
    out += estimate::fixedText(longitude, 6) + ',' + estimate::fixedText(latitude, 6) + ",0";
    out += kEol;
}

void appendElement(std::string& out, std::string_view tag, std::string_view text) {
    out += '<';
    out += tag;
    out += '>';
    appendXmlEscaped(out, text);
    out += "</";
    out += tag;
    out += '>';
    out += kEol;
}

void appendBearingLine(std::string& out, const TeamPlot& plot, std::string_view colour) {
    double endLatitude = 0;
    double endLongitude = 0;
    GeographicLib::Geodesic::WGS84().Direct(plot.latitudeDegrees, plot.longitudeDegrees,
                                            *plot.bearingDegrees, kTeamLineMiles * kMetresPerMile,
                                            endLatitude, endLongitude);
    appendCrLfLine(out, "<Placemark>");
    appendElement(out, "name", plot.vehicle + " " + std::to_string(plot.plotNumber));
    appendElement(out, "description", plot.utc);
    out += "<Style><LineStyle><color>";
    appendXmlEscaped(out, colour);
    appendCrLfLine(out, "</color><width>3</width></LineStyle></Style>");
    appendCrLfLine(out, "<LineString>");
    appendCrLfLine(out, "<coordinates>");
    appendCoordinates(out, plot.latitudeDegrees, plot.longitudeDegrees);
    appendCoordinates(out, endLatitude, endLongitude);
    appendCrLfLine(out, "</coordinates>");
    appendCrLfLine(out, "</LineString>");
    appendCrLfLine(out, "</Placemark>");
}

void appendPositionMark(std::string& out, const TeamPosition& position, std::string_view colour) {
    appendCrLfLine(out, "<Placemark>");
    appendElement(out, "name", position.vehicle);
    appendElement(out, "description", position.utc);
    out += "<Style><IconStyle><color>";
    appendXmlEscaped(out, colour);
    appendCrLfLine(out, "</color><Icon>");
    appendCrLfLine(out, "<href>http://maps.google.com/mapfiles/kml/shapes/cabs.png</href>");
    appendCrLfLine(out, "</Icon></IconStyle></Style>");
    appendCrLfLine(out, "<Point><coordinates>");
    appendCoordinates(out, position.latitudeDegrees, position.longitudeDegrees);
    appendCrLfLine(out, "</coordinates></Point>");
    appendCrLfLine(out, "</Placemark>");
}

}  // namespace

std::string_view paletteColour(size_t index) {
    return kPalette[index % std::size(kPalette)];
}

std::string teamKmlDocument(const std::vector<VehicleState>& vehicles, std::string_view ownVehicle,
                            std::string_view vectorColour) {
    std::string out;
    for (std::string_view line : kKmlHeaderLines) {
        appendCrLfLine(out, line);
    }
    size_t others = 0;
    for (const VehicleState& vehicle : vehicles) {
        const std::string_view colour =
            vehicle.name == ownVehicle ? vectorColour : paletteColour(others++);
        appendCrLfLine(out, "<Folder>");
        appendElement(out, "name", vehicle.name);
        for (const auto& [seq, plot] : vehicle.plots) {
            if (plot.bearingDegrees) {
                appendBearingLine(out, plot, colour);
            }
        }
        if (vehicle.position) {
            appendPositionMark(out, *vehicle.position, colour);
        }
        appendCrLfLine(out, "</Folder>");
    }
    appendCrLfLine(out, "</Document>");
    appendCrLfLine(out, "</kml>");
    return out;
}

}  // namespace kestrel::team
