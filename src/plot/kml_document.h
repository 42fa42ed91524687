#pragma once
// The map document: a KML 2.2 document with one placemark per plot (a target icon at the
// position and a two-point line to the end of the bearing line). Pure text building; the
// files are written by Form_Kestrelmap::writeHuntFiles.

#include <string>
#include <string_view>

#include "app/form_kestrelmap.h"

namespace kestrel {

// Lines 1 to 6 of the hunt and team maps: the declaration, the kml tag with its four namespaces,
// "<Document>". (The estimate map declares the KML namespace alone.)
inline constexpr std::string_view kKmlHeaderLines[] = {
    R"(<?xml version="1.0" encoding="UTF-8"?>)",
    R"(<kml xmlns="http://www.opengis.net/kml/2.2")",
    R"(xmlns:gx="http://www.google.com/kml/ext/2.2")",
    R"(xmlns:kml="http://www.opengis.net/kml/2.2")",
    R"(xmlns:atom="http://www.w3.org/2005/Atom">)",
    "<Document>",
};

// Lines 1 to 6 of the document (the declaration, the kml tag with its four namespaces and
// "<Document>"), the placemarks of PLOT_TABLE rows 1 to plotCount, then "</Document>" and
// "</kml>"; every line ends with CR LF. plotCount outside 0 to 99 is taken as the nearest end.
std::string kmlDocument(const PlotTable& table, int plotCount, std::string_view vectorColour);

}  // namespace kestrel
