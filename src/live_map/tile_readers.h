#pragma once
// Private to tile_sources: the two kinds of base-map layer behind TileSources. An MBTiles
// file, open read-only with one prepared SELECT, and a z/x/y tile folder. Each is examined
// once at discovery and then only reads the tile the three integers name.

#include <optional>
#include <string>
#include <string_view>

#include "live_map/tile_sources.h"

struct sqlite3;
struct sqlite3_stmt;

namespace kestrel::live_map::detail {

inline constexpr std::size_t kMaxTileBytes = std::size_t{1024} * 1024;
inline constexpr int kMaxZoom = 24;

// 0 <= z <= 24 and 0 <= x, y < 2^z.
inline bool validTileAddress(int z, int x, int y) {
    if (z < 0 || z > kMaxZoom) {
        return false;
    }
    const int side = 1 << z;
    return x >= 0 && y >= 0 && x < side && y < side;
}

// "png", "jpg", "webp" from the first bytes; "gzip" for a compressed vector tile; else "".
std::string formatFromMagic(std::string_view bytes);
// "image/png", "image/jpeg", "image/webp"; "" for any other format.
std::string contentTypeFor(std::string_view format);

class MbtilesReader {
  public:
    // Opens `path` read-only and fills `layer` from its metadata and tiles. None, with
    // `problem` set ("not an MBTiles file (...)"), when it cannot be shown.
    static std::optional<MbtilesReader> open(const std::string& path, TileLayer& layer,
                                             std::string& problem);

    MbtilesReader(MbtilesReader&& other) noexcept;
    MbtilesReader& operator=(MbtilesReader&& other) noexcept;
    MbtilesReader(const MbtilesReader&) = delete;
    MbtilesReader& operator=(const MbtilesReader&) = delete;
    ~MbtilesReader();

    std::optional<Tile> tile(int z, int x, int y) const;

  private:
    MbtilesReader() = default;
    void close();

    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_select = nullptr;  // tile_data at ?1 zoom, ?2 column, ?3 TMS row
    std::string m_contentType;
};

class TileFolder {
  public:
    // `root` ends with '/'. None when it holds no <z>/<x>/<y>.png, .jpg, .jpeg or .webp tiles;
    // else `layer` gets the format and the zoom range.
    static std::optional<TileFolder> examine(const std::string& root, TileLayer& layer);

    std::optional<Tile> tile(int z, int x, int y) const;

  private:
    std::string m_root;
    std::string m_extension;  // as the files spell it: "png", "jpeg", "PNG"...
    std::string m_contentType;
};

}  // namespace kestrel::live_map::detail
