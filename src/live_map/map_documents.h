#pragma once
// The documents of a hunt for the map page and for other programs: GeoJSON (RFC 7946) and
// GPX 1.1. Each drawn object is one GeoJSON Feature with a stable "id" and a "kind" property,
// so that the page can replace it when a change message names it again:
//
//   id "car"             Point       kind "car": course, heading, speed_kn (each or null)
//   id "live-bearing"    LineString  kind "live-bearing": bearing, range_mi
//   id "track"           LineString  kind "track" (only with 2 points or more)
//   id "plot-<row>"      Point       kind "plot": row, plot, utc, bearing, relative, quality,
//                                    position_source, bearing_source, verdict ("used",
//                                    "rejected" or "none"), vehicle (null for this vehicle)
//   id "bearing-<row>"   LineString  kind "bearing": row, plot, bearing, range_mi, rejected,
//                                    colour "#rrggbb", vehicle; drawn along the geodesic
//                                    (a MultiLineString where it crosses the antimeridian)
//   id "estimate"        Point       kind "estimate": status, provisional, used, plots,
//                                    semi_major_m, semi_minor_m, major_azimuth_deg, cep50_m
//   id "ellipse"         Polygon     kind "ellipse": confidence 0.95 (counter-clockwise ring)
//   id "vehicle-<name>"  Point       kind "vehicle": name, colour, utc (a team vehicle)
//
// Coordinates are [longitude, latitude] with 6 decimals. Numbers are written the same under
// any locale.

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "live_map/hunt_view.h"

namespace kestrel::live_map {

// The whole hunt as a FeatureCollection, with the foreign members "stamp", "live", "status",
// "night" and "vectorColour" beside "features".
nlohmann::json huntGeoJson(const HuntView& hunt);

// The features of one part, as the change messages carry them (empty where the part draws
// nothing: no car while the panel shows dashes, no ray without a fresh bearing, no estimate
// while none is shown).
std::vector<nlohmann::json> vehicleFeatures(const HuntView& hunt);  // "car", "live-bearing"
std::vector<nlohmann::json> plotFeatures(const HuntView& hunt, const MapPlot& plot);
std::vector<nlohmann::json> estimateFeatures(const HuntView& hunt);  // "estimate", "ellipse"
std::vector<nlohmann::json> teamFeatures(const HuntView& hunt);      // every "vehicle-<name>"
nlohmann::json trackFeature(const HuntView& hunt);                   // null below 2 points

// GPX 1.1: the track as one trk, each plot a wpt with its number, time and bearing.
std::string huntGpx(const HuntView& hunt);

// The building blocks of both documents.
//
// A GeoJSON geometry along the geodesic from (latitudeDeg, longitudeDeg) along `bearingDeg` for
// `rangeMiles`, in about 32 segments: a LineString, or a MultiLineString cut at +180/-180 where
// it crosses the antimeridian. Null for a start that is not finite.
nlohmann::json geodesicLineGeometry(double latitudeDeg, double longitudeDeg, double bearingDeg,
                                    double rangeMiles);
// The same cutting for a path of given points (the track): null below 2 usable points.
nlohmann::json pathGeometry(const std::vector<std::pair<double, double>>& latLon);
// A counter-clockwise Polygon for a ring of (lat, lon) vertices; a MultiPolygon cut at the
// antimeridian when the ring straddles it; a ring around a pole is closed along the pole's
// edge. Null below 3 usable vertices.
nlohmann::json ringGeometry(const std::vector<std::pair<double, double>>& latLon);
// `text` as valid UTF-8 (an invalid byte becomes U+FFFD) without control characters other than
// tab and newline: safe for nlohmann's dump and for XML.
std::string cleanText(std::string_view text);

}  // namespace kestrel::live_map
