#include "platform/qt/live_map/live_map.h"

#include "live_map/key_file.h"
#include "platform/qt/live_map/map_sharing.h"

#include <QFile>

#include "live_map/map_documents.h"
#include "live_map/past_hunts.h"

namespace kestrel::qt {

namespace {

using live_map::Answer;
using live_map::Route;
using live_map::RouteKind;

constexpr const char* kJson = "application/json; charset=utf-8";
constexpr const char* kGeoJson = "application/geo+json; charset=utf-8";
constexpr size_t kPastHuntsKept = 8;  // documents of past hunts kept ready

std::pair<std::string, std::string> noStore() {
    return {"Cache-Control", "no-store"};
}

std::string dumped(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The file's bytes; empty when it cannot be read (a missing Leaflet is told by the page).
std::string fileText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll().toStdString();
}

using Headers = std::vector<std::pair<std::string, std::string>>;

// A 200 answer with a body of its own.
Answer owned(std::string_view type, std::string body, Headers headers) {
    Answer answer;
    answer.contentType = type;
    answer.body = std::move(body);
    answer.extraHeaders = std::move(headers);
    return answer;
}

// A 200 answer whose body is a document kept here, not copied into the answer.
Answer shared(std::string_view type, const std::string& document, Headers headers) {
    Answer answer = owned(type, {}, std::move(headers));
    answer.sharedBody = document;
    return answer;
}

Answer notFound(const std::string& what) {
    return live_map::refusalAnswer({404, what});
}

}  // namespace

LiveMap::LiveMap(Form_Kestrelmap& form, const HuntEstimate& estimate, std::string folder,
                 const std::string& homeMaps, live_map::MapSettings settings)
    : m_folder(std::move(folder)),
      m_settings(std::move(settings)),
      m_model(form, estimate),
      m_tiles(live_map::TileSources::discover(m_folder, homeMaps)),
      m_layers(dumped(m_tiles.layersJson(m_settings.onlineTiles, m_settings.onlineAttribution))),
      m_server([this](const Route& route, std::string_view body) { return answer(route, body); },
               [this]() { return m_model.helloMessage(); }) {
    m_server.setImageOrigin(live_map::templateOrigin(m_settings.onlineTiles));
    m_model.onMessage = [this](const std::string& message) { m_server.broadcast(message); };
}

LiveMap::~LiveMap() = default;

bool LiveMap::listen(int port, std::string& error) {
    const SharingSetup setup = prepareSharing(m_settings, m_folder);
    m_shareProblem = setup.problem.empty() ? setup.notice : setup.problem;
    if (!m_server.listen(port, error, setup.sharing)) {
        if (!setup.sharing) {
            return false;
        }
        // The network cannot be had: the map stays on loopback, and says why it is not shared.
        m_shareProblem = "not shared: " + error;
        return m_server.listen(port, error);
    }
    if (!setup.problem.empty()) {
        m_shareProblem = "not shared: " + setup.problem;
    }
    return true;
}

QString LiveMap::link() const {
    const live_map::MapAccess* access = m_server.access();
    const QString where = shareAddress(m_settings);
    if (!access || where.isEmpty()) {
        return {};
    }
    return QString::fromStdString(
        live_map::shareLink(where.toStdString(), m_server.port(), access->key(), m_server.tls()));
}

bool LiveMap::newLink(std::string& problem) {
    if (!m_server.shared()) {
        return false;
    }
    const live_map::KeyRead key = live_map::replaceKey(live_map::keyPath(m_folder));
    if (key.key.empty()) {
        problem = key.problem;
        return false;
    }
    m_server.setKey(key.key);
    return true;
}

QString LiveMap::address() const {
    return QString::fromStdString(live_map::mapAddress(m_server.port()));
}

Answer LiveMap::answer(const Route& route, std::string_view body) {
    switch (route.kind) {
        case RouteKind::Page:
        case RouteKind::Script:
        case RouteKind::Style:
        case RouteKind::LeafletFile:
            return staticFile(route);
        case RouteKind::HuntSnapshot:
            return shared(kGeoJson, m_model.snapshotText(), {noStore()});
        case RouteKind::HuntList:
            return huntList();
        case RouteKind::PastHuntGeoJson:
        case RouteKind::PastHuntGpx:
            return pastHunt(route);
        case RouteKind::Layers:
            return shared(kJson, m_layers, {noStore()});
        case RouteKind::Tile:
            if (auto tile = m_tiles.tile(route.name, route.z, route.x, route.y)) {
                return owned(tile->contentType, std::move(tile->bytes),
                             {{"Cache-Control", "max-age=3600"}});
            }
            return notFound("no such tile");
        case RouteKind::PlotReview:
            return review(route, body);
        case RouteKind::LiveSocket:
            break;  // the server hands these over
    }
    return notFound("not found");
}

// The page comes from the program's resources, Leaflet from where Debian installs it.
Answer LiveMap::staticFile(const Route& route) {
    QString path;
    std::string type;
    switch (route.kind) {
        case RouteKind::Page:
            path = QStringLiteral(":/web/index.html");
            type = "text/html; charset=utf-8";
            break;
        case RouteKind::Script:
            path = QStringLiteral(":/web/") + QString::fromStdString(route.name);
            type = "text/javascript; charset=utf-8";
            break;
        case RouteKind::Style:
            path = QStringLiteral(":/web/map.css");
            type = "text/css; charset=utf-8";
            break;
        default:
            for (const live_map::LeafletFile& file : live_map::leafletFiles()) {
                if (file.name == route.name) {
                    path = QString::fromStdString(std::string(live_map::kLeafletFolder) +
                                                  std::string(file.name));
                    type = std::string(file.contentType);
                }
            }
    }
    if (path.isEmpty()) {
        return notFound("not found");
    }
    auto [entry, fresh] = m_files.try_emplace(path.toStdString());
    if (fresh) {
        entry->second = fileText(path);
    }
    if (entry->second.empty()) {
        return notFound("not installed: " + path.toStdString());
    }
    return shared(type, entry->second, {{"Cache-Control", "no-cache"}});
}

Answer LiveMap::huntList() {
    nlohmann::json hunts = nlohmann::json::array();
    for (const live_map::PastHunt& hunt : live_map::listHunts(m_folder)) {
        hunts.push_back({{"stamp", hunt.stamp},
                         {"plots", hunt.plots},
                         {"utc", hunt.firstPlotUtcMilliseconds == 0
                                     ? nlohmann::json()
                                     : nlohmann::json(isoUtcText(hunt.firstPlotUtcMilliseconds))}});
    }
    return owned(kJson, dumped({{"current", m_model.view().stamp}, {"hunts", hunts}}), {noStore()});
}

// The hunt running now is the model's; an earlier one is read from its files once.
Answer LiveMap::pastHunt(const Route& route) {
    const bool gpx = route.kind == RouteKind::PastHuntGpx;
    const std::string download =
        "attachment; filename=\"" + route.stamp + (gpx ? ".gpx\"" : ".geojson\"");
    if (route.stamp == m_model.view().stamp) {
        if (gpx) {
            return owned("application/gpx+xml", live_map::huntGpx(m_model.view()),
                         {noStore(), {"Content-Disposition", download}});
        }
        return shared(kGeoJson, m_model.snapshotText(), {noStore()});
    }
    auto found = m_pastHunts.find(route.stamp);
    if (found == m_pastHunts.end()) {
        std::string error;
        const std::optional<live_map::HuntView> hunt =
            live_map::loadHunt(m_folder, route.stamp, error);
        if (!hunt) {
            return notFound(error.empty() ? "no such hunt" : error);
        }
        if (m_pastHunts.size() >= kPastHuntsKept) {
            m_pastHunts.erase(m_pastHunts.begin());
        }
        found = m_pastHunts
                    .emplace(route.stamp, std::pair(dumped(live_map::huntGeoJson(*hunt)),
                                                    live_map::huntGpx(*hunt)))
                    .first;
    }
    if (gpx) {
        return shared("application/gpx+xml", found->second.second,
                      {noStore(), {"Content-Disposition", download}});
    }
    return shared(kGeoJson, found->second.first, {noStore()});
}

// A page's word on a plot: only with this hunt's token, then as the estimate companion takes it.
Answer LiveMap::review(const Route& route, std::string_view body) {
    if (!live_map::sameToken(route.token, m_model.token())) {
        return live_map::refusalAnswer({403, "the map is out of date: load it again"});
    }
    const auto parsed = live_map::parseReviewAction(body);
    if (const auto* refusal = std::get_if<live_map::Refusal>(&parsed)) {
        return live_map::refusalAnswer(*refusal);
    }
    using Review = HuntEstimate::Review;
    const Review result = m_reviewer
                              ? m_reviewer(route.row, std::get<live_map::ReviewAction>(parsed))
                              : Review::NoSuchRow;
    switch (result) {
        case Review::NoSuchRow:
            return notFound("no such plot");
        case Review::NoBearing:
            return live_map::refusalAnswer({400, "that plot has no bearing line"});
        case Review::Unchanged:
            return live_map::refusalAnswer({409, "nothing changed"});
        case Review::Changed:
            break;
    }
    nlohmann::json state = {{"row", route.row}, {"excluded", false}, {"note", nullptr}};
    for (const live_map::MapPlot& plot : m_model.view().plots) {
        if (plot.row == route.row) {
            state["excluded"] = plot.excluded;
            state["note"] = plot.note.empty() ? nlohmann::json() : nlohmann::json(plot.note);
        }
    }
    return owned(kJson, dumped(state), {noStore()});
}

}  // namespace kestrel::qt
