#pragma once
// The base maps kept on this computer: every *.mbtiles file in <folder>maps/ (MBTiles 1.3,
// read-only through SQLite; its rows are TMS rows, 2^z - 1 - y) and every z/x/y tile folder
// <folder>maps/<name>/ and <home>/Maps/<name>/. Each is a layer with an id the page names it
// by; a tile is found by that id and three integers, never by a path from the page. A file
// that cannot be read is left out with a reason. Qt-free; owns its open databases.

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace kestrel::live_map {

struct TileLayer {
    std::string id;      // [a-z0-9-], unique: what the page's tile URL names
    std::string name;    // for the layer list: the metadata name, else the file's
    std::string format;  // "png", "jpg" or "webp"
    int minZoom = 0;
    int maxZoom = 18;  // the highest zoom it holds; the page enlarges beyond it
    std::optional<std::array<double, 4>> bounds;  // west, south, east, north
    std::string attribution;                      // from the metadata, may be empty
    std::string path;                             // the file or folder it reads
    bool mbtiles = false;
};

struct Tile {
    std::string bytes;
    std::string contentType;  // "image/png", ...
};

class TileSources {
  public:
    TileSources();
    ~TileSources();
    TileSources(TileSources&&) noexcept;
    TileSources& operator=(TileSources&&) noexcept;

    // Looks in `kestrelFolder`maps/ and in `homeMapsFolder` (empty: not at all); layers sorted
    // by name, MBTiles and folders alike.
    static TileSources discover(const std::string& kestrelFolder,
                                const std::string& homeMapsFolder);

    const std::vector<TileLayer>& layers() const;
    // Files or folders that were left out, one line each ("maps/area.mbtiles: not an MBTiles
    // file"), for the instruments window.
    const std::vector<std::string>& problems() const;

    // The tile at z/x/y (XYZ rows, as the page asks); none when the layer does not hold it.
    std::optional<Tile> tile(std::string_view layerId, int z, int x, int y) const;

    // {"layers":[{"id","name","format","minzoom","maxzoom","bounds","attribution",
    //  "url":"/tiles/<id>/{z}/{x}/{y}"}...], "online":{"url","attribution"} or null}
    nlohmann::json layersJson(const std::string& onlineTemplate,
                              const std::string& onlineAttribution) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace kestrel::live_map
