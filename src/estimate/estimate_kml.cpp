#include "estimate/estimate_kml.h"

#include <algorithm>
#include <cmath>

#include "app/xml_text.h"
#include "estimate/number_format.h"

namespace kestrel::estimate {

namespace {

// "lon,lat,0" with 7 decimals (about a centimetre), the longitude within -180..180.
std::string coordinateText(double latitudeDeg, double longitudeDeg) {
    double lon = std::remainder(longitudeDeg, 360.0);
    if (lon == -180) {
        lon = 180;
    }
    return fixedText(lon, 7) + "," + fixedText(latitudeDeg, 7) + ",0";
}

std::string threeDigits(double degrees) {
    const int whole = static_cast<int>(std::lround(degrees)) % 180;
    std::string text = std::to_string(whole);
    return std::string(3 - std::min<size_t>(3, text.size()), '0') + text;
}

// A provisional ellipse is drawn thinner and fainter: KML has no dashed line.
void appendStyles(std::string& out, bool provisional) {
    appendCrLfLine(out, R"(<Style id="est">)");
    appendCrLfLine(out, "<IconStyle><scale>1.2</scale><Icon>");
    appendCrLfLine(out, "<href>http://maps.google.com/mapfiles/kml/shapes/star.png</href>");
    appendCrLfLine(out, "</Icon></IconStyle>");
    appendCrLfLine(out, "<LabelStyle><color>ff00ffff</color></LabelStyle>");
    appendCrLfLine(out, "</Style>");
    appendCrLfLine(out, R"(<Style id="ell">)");
    appendCrLfLine(out, provisional
                            ? "<LineStyle><color>9900ffff</color><width>1</width></LineStyle>"
                            : "<LineStyle><color>ff00ffff</color><width>2</width></LineStyle>");
    appendCrLfLine(out, provisional ? "<PolyStyle><color>2000ffff</color></PolyStyle>"
                                    : "<PolyStyle><color>4000ffff</color></PolyStyle>");
    appendCrLfLine(out, "</Style>");
}

// "; left out by hand: plot 5 (barn); left out while turning: plot 7", or nothing.
std::string leftOutText(const LeftOut& leftOut) {
    std::string text;
    for (const auto& [why, plots] : {std::pair{"by hand", &leftOut.byHand},
                                     {"while turning", &leftOut.turning},
                                     {"for low confidence", &leftOut.lowConfidence}}) {
        if (!plots->empty()) {
            text += "; left out " + std::string(why) + ": " + *plots;
        }
    }
    return text;
}

void appendPlacemarks(std::string& out, const Estimate& estimate, std::string_view utcText,
                      const LeftOut& leftOut) {
    appendCrLfLine(out, "<Placemark>");
    appendCrLfLine(out, "<name>Estimate</name>");
    out += "<description>";
    appendXmlEscaped(out, describeEstimate(estimate, utcText) + leftOutText(leftOut));
    appendCrLfLine(out, "</description>");
    appendCrLfLine(out, "<styleUrl>#est</styleUrl>");
    appendCrLfLine(out, "<Point><coordinates>" +
                            coordinateText(estimate.latitudeDeg, estimate.longitudeDeg) +
                            "</coordinates></Point>");
    appendCrLfLine(out, "</Placemark>");
    appendCrLfLine(out, "<Placemark>");
    appendCrLfLine(out, "<name>95% area</name>");
    appendCrLfLine(out, "<styleUrl>#ell</styleUrl>");
    appendCrLfLine(out, "<Polygon><outerBoundaryIs><LinearRing><coordinates>");
    for (const auto& [lat, lon] : estimate.ellipse95) {
        appendCrLfLine(out, coordinateText(lat, lon));
    }
    appendCrLfLine(out, "</coordinates></LinearRing></outerBoundaryIs></Polygon>");
    appendCrLfLine(out, "</Placemark>");
}

}  // namespace

std::string describeEstimate(const Estimate& estimate, std::string_view utcText) {
    std::string text = estimate.provisional ? "Provisional: " : "";
    text += std::to_string(estimate.used) + " of " + std::to_string(estimate.plots) + " plots used";
    if (!estimate.rejectedIds.empty()) {
        text += "; rejected:";
        for (size_t i = 0; i < estimate.rejectedIds.size(); ++i) {
            text += (i == 0 ? " " : ", ") + std::to_string(estimate.rejectedIds[i]);
        }
    }
    text += "; sigma " + fixedText(estimate.sigmaDeg, 1) + " deg";
    text += "; 95% ellipse " + fixedText(estimate.semiMajorM, 0) + " x " +
            fixedText(estimate.semiMinorM, 0) + " m, major axis " +
            threeDigits(estimate.majorAzimuthDeg) + " deg";
    text += "; CEP50 " + fixedText(estimate.cep50M, 0) + " m";
    text += "; ";
    text += utcText;
    text += " UTC";
    return text;
}

std::string buildEstimateKml(const Estimate& estimate, std::string_view utcText,
                             std::string_view leftOutByHand) {
    return buildEstimateKml(estimate, utcText, LeftOut{std::string(leftOutByHand), {}, {}});
}

std::string buildEstimateKml(const Estimate& estimate, std::string_view utcText,
                             const LeftOut& leftOut) {
    const bool shown = estimate.shown && estimate.ellipse95.size() >= 4;
    std::string out;
    out.reserve(4096);
    appendCrLfLine(out, R"(<?xml version="1.0" encoding="UTF-8"?>)");
    appendCrLfLine(out, R"(<kml xmlns="http://www.opengis.net/kml/2.2">)");
    appendCrLfLine(out, "<Document>");
    appendCrLfLine(out, estimate.provisional && shown
                            ? "<name>Kestrelmap estimate (provisional)</name>"
                            : "<name>Kestrelmap estimate</name>");
    if (!shown) {
        out += "<description>No estimate: ";
        appendXmlEscaped(out, estimate.reason.empty() ? "none computed" : estimate.reason);
        out += " (";
        appendXmlEscaped(out, utcText);
        out += " UTC)";
        appendXmlEscaped(out, leftOutText(leftOut));
        appendCrLfLine(out, "</description>");
    }
    appendStyles(out, estimate.provisional);
    appendCrLfLine(out, "<Folder>");
    appendCrLfLine(out, "<name>Estimate</name>");
    if (shown) {
        appendPlacemarks(out, estimate, utcText, leftOut);
    }
    appendCrLfLine(out, "</Folder>");
    appendCrLfLine(out, "</Document>");
    appendCrLfLine(out, "</kml>");
    return out;
}

}  // namespace kestrel::estimate
