// The hunt as GPX 1.1 for other programs: a wpt per plot (its time, "Plot 12" or
// "<vehicle> 12", the bearing and verdict in cmt and desc) and the track as one trk. Plain GPX
// without extensions; every text passes cleanText and is escaped, numbers are written the
// same under any locale.

#include <algorithm>
#include <cmath>

#include "app/hunt_events.h"
#include "app/xml_text.h"
#include "estimate/number_format.h"
#include "live_map/map_documents.h"

namespace kestrel::live_map {

namespace {

constexpr int64_t kLastUtcMilliseconds = 253402300799999;  // 9999-12-31T23:59:59.999Z

void appendElement(std::string& out, std::string_view tag, std::string_view text) {
    out += '<';
    out += tag;
    out += '>';
    appendXmlEscaped(out, cleanText(text));
    out += "</";
    out += tag;
    out += ">\r\n";
}

// `<tag lat="34.123456" lon="-119.123456">`; false for a position that is not finite. GPX
// wants the longitude below 180: +180 is written as -180.
bool appendPositionTag(std::string& out, std::string_view tag, double latitudeDeg,
                       double longitudeDeg) {
    if (!std::isfinite(latitudeDeg) || !std::isfinite(longitudeDeg)) {
        return false;
    }
    double longitude = std::remainder(longitudeDeg, 360.0);
    longitude = std::round(longitude * 1e6) / 1e6 >= 180 ? -180.0 : longitude;
    out += '<';
    out += tag;
    out += " lat=\"" + estimate::fixedText(std::clamp(latitudeDeg, -90.0, 90.0), 6) + "\" lon=\"" +
           estimate::fixedText(longitude, 6) + "\">\r\n";
    return true;
}

void appendTime(std::string& out, int64_t utcMilliseconds) {
    if (utcMilliseconds > 0 && utcMilliseconds <= kLastUtcMilliseconds) {
        appendElement(out, "time", isoUtcText(utcMilliseconds));
    }
}

// "bearing 042°"
std::string bearingText(int bearingDeg) {
    const int degrees = ((bearingDeg % 360) + 360) % 360;
    std::string digits = std::to_string(degrees);
    return "bearing " + std::string(3 - digits.size(), '0') + digits + "\u00B0";
}

void appendWaypoint(std::string& out, const MapPlot& plot) {
    if (!appendPositionTag(out, "wpt", plot.latitudeDeg, plot.longitudeDeg)) {
        return;
    }
    appendTime(out, plot.utcMilliseconds);
    appendElement(
        out, "name",
        (plot.vehicle.empty() ? "Plot" : plot.vehicle) + " " + std::to_string(plot.plotNumber));
    const std::string note = plot.note.empty() ? "" : "; note: " + plot.note;
    if (plot.bearingDeg) {
        const std::string bearing = bearingText(*plot.bearingDeg);
        const char* verdict = plot.excluded ? ", left out by hand"
                              : !plot.used  ? ""
                              : *plot.used  ? ", used"
                                            : ", rejected";
        appendElement(out, "cmt", bearing);
        appendElement(out, "desc", bearing + verdict + note);
    } else {
        appendElement(out, "desc", "no bearing" + note);
    }
    out += "</wpt>\r\n";
}

void appendTrack(std::string& out, const HuntView& hunt) {
    std::string points;
    for (const TrackPoint& point : hunt.track) {
        if (appendPositionTag(points, "trkpt", point.latitudeDeg, point.longitudeDeg)) {
            appendTime(points, point.utcMilliseconds);
            points += "</trkpt>\r\n";
        }
    }
    if (points.empty()) {
        return;
    }
    out += "<trk>\r\n";
    appendElement(out, "name", hunt.stamp);
    out += "<trkseg>\r\n" + points + "</trkseg>\r\n</trk>\r\n";
}

}  // namespace

std::string huntGpx(const HuntView& hunt) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        "<gpx version=\"1.1\" creator=\"Kestrelmap\" xmlns=\"http://www.topografix.com/GPX/1/1\">"
        "\r\n<metadata>\r\n";
    appendElement(out, "name", hunt.stamp);
    out += "</metadata>\r\n";
    for (const MapPlot& plot : hunt.plots) {
        appendWaypoint(out, plot);
    }
    appendTrack(out, hunt);
    out += "</gpx>\r\n";
    return out;
}

}  // namespace kestrel::live_map
