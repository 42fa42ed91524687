#pragma once
// The live map of this run: the map model watching the hunt, the base maps found on this
// computer, the page and Leaflet's files, and the map server that serves them and pushes the
// model's changes to the open pages. Every answer comes from a document prepared before the
// request (the snapshot is rebuilt once per change, Leaflet's files read once); nothing here
// writes a file.

#include <QString>
#include <map>
#include <memory>
#include <string>

#include "live_map/map_model.h"
#include "live_map/map_settings.h"
#include "live_map/plot_review.h"
#include "live_map/tile_sources.h"
#include "platform/qt/live_map/map_server.h"

namespace kestrel::qt {

class LiveMap {
  public:
    // Watches `form` from now on; `estimate` must already watch it. `folder` is the Kestrelmap
    // folder, `homeMaps` the tile caches of other map programs ("~/Maps/").
    LiveMap(Form_Kestrelmap& form, const HuntEstimate& estimate, std::string folder,
            const std::string& homeMaps, live_map::MapSettings settings);
    ~LiveMap();
    LiveMap(const LiveMap&) = delete;
    LiveMap& operator=(const LiveMap&) = delete;

    // Starts serving at `port`, shared when the settings say so; false with the reason for a
    // person when it cannot serve even loopback. A map that cannot be shared as asked is served
    // on loopback and shareProblem() says why.
    bool listen(int port, std::string& error);
    bool listening() const { return m_server.port() != 0; }
    // "http://127.0.0.1:8421/"
    QString address() const;
    // The link for a phone, "http://169.254.1.2:8421/?key=..."; empty when not shared.
    QString link() const;
    // Why the map is not shared though the settings ask for it, or what changed its key.
    const std::string& shareProblem() const { return m_shareProblem; }
    // A new key: the old link and every session made with it end. False, with the reason,
    // when the key cannot be kept.
    bool newLink(std::string& problem);

    live_map::MapModel& model() { return m_model; }
    const live_map::TileSources& tiles() const { return m_tiles; }
    MapServer& server() { return m_server; }

    // The answer to a request the server's rules let through (`body`: a review's).
    live_map::Answer answer(const live_map::Route& route, std::string_view body);
    // Carries out a page's review of a plot-log row (leave out, use again, a note); until it is
    // set, no plot can be changed.
    using Reviewer =
        std::function<HuntEstimate::Review(int row, const live_map::ReviewAction& action)>;
    void setReviewer(Reviewer reviewer) { m_reviewer = std::move(reviewer); }

  private:
    live_map::Answer staticFile(const live_map::Route& route);
    live_map::Answer pastHunt(const live_map::Route& route);
    live_map::Answer huntList();
    live_map::Answer review(const live_map::Route& route, std::string_view body);

    std::string m_folder;
    live_map::MapSettings m_settings;
    std::string m_shareProblem;
    live_map::MapModel m_model;
    live_map::TileSources m_tiles;
    std::string m_layers;                        // the /layers document
    std::map<std::string, std::string> m_files;  // the page's and Leaflet's files, once read
    std::map<std::string, std::pair<std::string, std::string>> m_pastHunts;  // GeoJSON, GPX
    Reviewer m_reviewer;
    MapServer m_server;
};

}  // namespace kestrel::qt
