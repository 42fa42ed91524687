// The hunt's GeoJSON features, one function a part of the map; the ids, kinds and properties
// are the page's contract (see map_documents.h). A bearing line, the track and the ellipse are
// cut at the antimeridian into a MultiLineString or a MultiPolygon; a number that is not
// finite is written as null, and every text from the hunt passes cleanText first.

#include <algorithm>
#include <cmath>

#include "app/hunt_events.h"
#include "live_map/map_documents.h"

namespace kestrel::live_map {

namespace {

constexpr int64_t kLastUtcMilliseconds = 253402300799999;  // 9999-12-31T23:59:59.999Z
constexpr const char* kUnknownColour = "#808080";

nlohmann::json number(double value, double scale = 1e6) {
    if (!std::isfinite(value)) {
        return nullptr;
    }
    return std::round(value * scale) / scale;
}

template <typename T>
nlohmann::json optionalJson(const std::optional<T>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

// 0 (or a time no ISO text can hold) is not known.
nlohmann::json utcJson(int64_t utcMilliseconds) {
    if (utcMilliseconds <= 0 || utcMilliseconds > kLastUtcMilliseconds) {
        return nullptr;
    }
    return isoUtcText(utcMilliseconds);
}

nlohmann::json pointGeometry(double latitudeDeg, double longitudeDeg) {
    if (!std::isfinite(latitudeDeg) || !std::isfinite(longitudeDeg)) {
        return nullptr;
    }
    return {{"type", "Point"},
            {"coordinates", nlohmann::json::array({number(std::remainder(longitudeDeg, 360.0)),
                                                   number(std::clamp(latitudeDeg, -90.0, 90.0))})}};
}

nlohmann::json feature(const std::string& id, std::string_view kind, nlohmann::json geometry,
                       nlohmann::json properties) {
    properties["kind"] = kind;
    return {{"type", "Feature"},
            {"id", cleanText(id)},
            {"geometry", std::move(geometry)},
            {"properties", std::move(properties)}};
}

nlohmann::json vehicleName(const MapPlot& plot) {
    return plot.vehicle.empty() ? nlohmann::json(nullptr) : nlohmann::json(cleanText(plot.vehicle));
}

std::string plotColour(const HuntView& hunt, const MapPlot& plot) {
    if (plot.vehicle.empty()) {
        return cleanText(hunt.vectorColour);
    }
    for (const TeamVehicle& vehicle : hunt.team) {
        if (vehicle.name == plot.vehicle) {
            return cleanText(vehicle.colour);
        }
    }
    return kUnknownColour;
}

nlohmann::json noteJson(const MapPlot& plot) {
    return plot.note.empty() ? nlohmann::json(nullptr) : nlohmann::json(cleanText(plot.note));
}

nlohmann::json plotPoint(const MapPlot& plot) {
    const char* verdict = plot.excluded ? "excluded"
                          : !plot.used  ? "none"
                          : *plot.used  ? "used"
                                        : "rejected";
    return feature("plot-" + std::to_string(plot.row), "plot",
                   pointGeometry(plot.latitudeDeg, plot.longitudeDeg),
                   {{"row", plot.row},
                    {"plot", plot.plotNumber},
                    {"utc", utcJson(plot.utcMilliseconds)},
                    {"bearing", optionalJson(plot.bearingDeg)},
                    {"relative", optionalJson(plot.relativeDeg)},
                    {"quality", optionalJson(plot.quality)},
                    {"position_source", cleanText(plot.positionSource)},
                    {"bearing_source", cleanText(plot.bearingSource)},
                    {"verdict", verdict},
                    {"left_out_as", plot.leftOutAs.empty() ? nlohmann::json(nullptr)
                                                           : nlohmann::json(plot.leftOutAs)},
                    {"excluded", plot.excluded},
                    {"note", noteJson(plot)},
                    {"vehicle", vehicleName(plot)}});
}

nlohmann::json bearingLine(const HuntView& hunt, const MapPlot& plot) {
    return feature("bearing-" + std::to_string(plot.row), "bearing",
                   geodesicLineGeometry(plot.latitudeDeg, plot.longitudeDeg, *plot.bearingDeg,
                                        plot.rangeMiles),
                   {{"row", plot.row},
                    {"plot", plot.plotNumber},
                    {"bearing", *plot.bearingDeg},
                    {"range_mi", number(plot.rangeMiles)},
                    {"rejected", !plot.excluded && plot.used == false},
                    {"excluded", plot.excluded},
                    {"note", noteJson(plot)},
                    {"colour", plotColour(hunt, plot)},
                    {"vehicle", vehicleName(plot)}});
}

}  // namespace

std::vector<nlohmann::json> vehicleFeatures(const HuntView& hunt) {
    const VehicleNow& car = hunt.vehicle;
    std::vector<nlohmann::json> out;
    if (!car.shown) {
        return out;
    }
    out.push_back(feature("car", "car", pointGeometry(car.latitudeDeg, car.longitudeDeg),
                          {{"course", optionalJson(car.courseDeg)},
                           {"heading", optionalJson(car.headingDeg)},
                           {"speed_kn", optionalJson(car.speedKnots)}}));
    if (car.liveBearingDeg) {
        out.push_back(
            feature("live-bearing", "live-bearing",
                    geodesicLineGeometry(car.latitudeDeg, car.longitudeDeg, *car.liveBearingDeg,
                                         car.rangeMiles),
                    {{"bearing", *car.liveBearingDeg}, {"range_mi", number(car.rangeMiles)}}));
    }
    return out;
}

std::vector<nlohmann::json> plotFeatures(const HuntView& hunt, const MapPlot& plot) {
    std::vector<nlohmann::json> out{plotPoint(plot)};
    if (plot.bearingDeg) {
        out.push_back(bearingLine(hunt, plot));
    }
    return out;
}

std::vector<nlohmann::json> estimateFeatures(const HuntView& hunt) {
    const estimate::Estimate& e = hunt.estimate;
    std::vector<nlohmann::json> out;
    if (!e.shown) {
        return out;
    }
    out.push_back(feature("estimate", "estimate", pointGeometry(e.latitudeDeg, e.longitudeDeg),
                          {{"status", cleanText(hunt.status)},
                           {"provisional", e.provisional},
                           {"used", e.used},
                           {"plots", e.plots},
                           {"semi_major_m", number(e.semiMajorM, 10)},
                           {"semi_minor_m", number(e.semiMinorM, 10)},
                           {"major_azimuth_deg", number(e.majorAzimuthDeg, 10)},
                           {"cep50_m", number(e.cep50M, 10)}}));
    nlohmann::json ring = ringGeometry(e.ellipse95);
    if (!ring.is_null()) {
        out.push_back(feature("ellipse", "ellipse", std::move(ring), {{"confidence", 0.95}}));
    }
    return out;
}

std::vector<nlohmann::json> teamFeatures(const HuntView& hunt) {
    std::vector<nlohmann::json> out;
    for (const TeamVehicle& vehicle : hunt.team) {
        if (!vehicle.position) {
            continue;  // nothing to draw until it has sent a position
        }
        const TrackPoint& at = *vehicle.position;
        out.push_back(feature("vehicle-" + vehicle.name, "vehicle",
                              pointGeometry(at.latitudeDeg, at.longitudeDeg),
                              {{"name", cleanText(vehicle.name)},
                               {"colour", cleanText(vehicle.colour)},
                               {"utc", utcJson(at.utcMilliseconds)}}));
    }
    return out;
}

nlohmann::json trackFeature(const HuntView& hunt) {
    std::vector<std::pair<double, double>> latLon;
    latLon.reserve(hunt.track.size());
    for (const TrackPoint& point : hunt.track) {
        latLon.emplace_back(point.latitudeDeg, point.longitudeDeg);
    }
    nlohmann::json geometry = pathGeometry(latLon);
    if (geometry.is_null()) {
        return nullptr;
    }
    return feature("track", "track", std::move(geometry), nlohmann::json::object());
}

nlohmann::json huntGeoJson(const HuntView& hunt) {
    nlohmann::json features = nlohmann::json::array();
    auto add = [&](std::vector<nlohmann::json> part) {
        for (nlohmann::json& f : part) {
            features.push_back(std::move(f));
        }
    };
    add(vehicleFeatures(hunt));
    if (nlohmann::json track = trackFeature(hunt); !track.is_null()) {
        features.push_back(std::move(track));
    }
    for (const MapPlot& plot : hunt.plots) {
        add(plotFeatures(hunt, plot));
    }
    add(estimateFeatures(hunt));
    add(teamFeatures(hunt));
    return {{"type", "FeatureCollection"},
            {"stamp", cleanText(hunt.stamp)},
            {"live", hunt.live},
            {"status", cleanText(hunt.status)},
            {"night", hunt.night},
            {"vectorColour", cleanText(hunt.vectorColour)},
            {"features", std::move(features)}};
}

}  // namespace kestrel::live_map
