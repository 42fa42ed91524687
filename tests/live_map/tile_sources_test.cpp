#include "live_map/tile_sources.h"

#include <sqlite3.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

namespace kestrel::live_map {
namespace {

namespace fs = std::filesystem;

// A 1x1 transparent PNG; a tag after its end tells tiles apart and keeps it an image.
const std::string kPng = std::string(
    "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0"
    "\x1f\x15\xc4\x89\0\0\0\x0bIDATx\x9c"
    "c`\0\x02\0\0\x05\0\x01z^"
    "\xab?\0\0\0\0IEND\xae"
    "B`\x82",
    68);
std::string png(const std::string& tag) {
    return kPng + tag;
}

class Scratch {
  public:
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "kestrel-tiles-XXXXXX").string();
        m_root = std::string(mkdtemp(pattern.data())) + "/";
        fs::create_directories(m_root + "kestrel/maps");
        fs::create_directories(m_root + "Maps");
    }
    ~Scratch() { fs::remove_all(m_root); }
    std::string kestrel() const { return m_root + "kestrel/"; }
    std::string maps() const { return m_root + "kestrel/maps/"; }
    std::string home() const { return m_root + "Maps/"; }

  private:
    std::string m_root;
};

void writeFile(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

using Rows = std::vector<std::tuple<int, int, int, std::string>>;  // z, column, TMS row, data
using Metadata = std::vector<std::pair<std::string, std::string>>;

void makeMbtiles(const std::string& path, const Metadata& metadata, const Rows& rows,
                 bool tilesTable = true) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA synchronous = OFF; CREATE TABLE metadata (name TEXT, value TEXT)",
                 nullptr, nullptr, nullptr);
    if (tilesTable) {
        sqlite3_exec(db,
                     "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row "
                     "INTEGER, tile_data BLOB); CREATE UNIQUE INDEX tile_index ON tiles "
                     "(zoom_level, tile_column, tile_row)",
                     nullptr, nullptr, nullptr);
    }
    sqlite3_stmt* statement = nullptr;
    for (const auto& [name, value] : metadata) {
        sqlite3_prepare_v2(db, "INSERT INTO metadata VALUES (?, ?)", -1, &statement, nullptr);
        sqlite3_bind_text(statement, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(statement, 2, value.c_str(), -1, SQLITE_TRANSIENT);
        EXPECT_EQ(sqlite3_step(statement), SQLITE_DONE);
        sqlite3_finalize(statement);
    }
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO tiles VALUES (?, ?, ?, ?)", -1, &statement, nullptr);
    for (const auto& [z, column, row, data] : rows) {
        sqlite3_bind_int(statement, 1, z);
        sqlite3_bind_int(statement, 2, column);
        sqlite3_bind_int(statement, 3, row);
        sqlite3_bind_blob(statement, 4, data.data(), static_cast<int>(data.size()),
                          SQLITE_TRANSIENT);
        EXPECT_EQ(sqlite3_step(statement), SQLITE_DONE);
        sqlite3_reset(statement);
    }
    sqlite3_finalize(statement);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

std::string tileBytes(const TileSources& sources, std::string_view id, int z, int x, int y) {
    const auto tile = sources.tile(id, z, x, y);
    return tile ? tile->bytes : "none";
}

TEST(MapTilesMbtiles, ServesTmsRowsAsXyzRows) {
    Scratch scratch;
    makeMbtiles(scratch.maps() + "area.mbtiles", {{"format", "png"}},
                {{2, 1, 0, png("row0")}, {2, 1, 3, png("row3")}, {0, 0, 0, png("world")}});
    const auto sources = TileSources::discover(scratch.kestrel(), "");
    ASSERT_EQ(sources.layers().size(), 1u);
    const struct {
        int z, x, y;
        std::string expected;
        const char* why;
    } cases[] = {
        {2, 1, 3, png("row0"), "TMS row 0 is the southernmost: y = 2^2 - 1 - 0"},
        {2, 1, 0, png("row3"), "TMS row 3 is y 0"},
        {0, 0, 0, png("world"), "one tile at zoom 0"},
        {2, 1, 1, "none", "not stored"},
        {2, 0, 3, "none", "not stored"},
        {3, 2, 7, "none", "zoom not stored"},
        {2, 4, 0, "none", "x outside 2^z"},
        {-1, 0, 0, "none", "negative zoom"},
        {2, 1, -1, "none", "negative y"},
        {25, 0, 0, "none", "zoom over 24"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tileBytes(sources, "area", c.z, c.x, c.y), c.expected) << c.why;
    }
    EXPECT_EQ(sources.tile("area", 2, 1, 3)->contentType, "image/png");
    EXPECT_FALSE(sources.tile("elsewhere", 2, 1, 3));
}

TEST(MapTilesMbtiles, ReadsMetadataOrFindsItOut) {
    const std::string jpeg = "\xFF\xD8\xFF\xE0 jfif",
                      webp = std::string("RIFF\4\0\0\0WEBPVP8 ", 16);
    const struct {
        Metadata metadata;
        std::string tile, name, format;
        int minZoom, maxZoom;
        bool bounds;
        std::string attribution, contentType;
    } cases[] = {
        {{{"name", "Hill Country"},
          {"format", "jpg"},
          {"minzoom", "4"},
          {"maxzoom", "9"},
          {"bounds", "-1.5, 50.25,2,52"},
          {"attribution", "© Survey"}},
         jpeg,
         "Hill Country",
         "jpg",
         4,
         9,
         true,
         "© Survey",
         "image/jpeg"},
        {{}, png("x"), "file", "png", 3, 6, false, "", "image/png"},  // zooms from MIN/MAX
        {{{"format", "jpeg"}, {"bounds", "10,20,5"}},
         jpeg,
         "file",
         "jpg",
         3,
         6,
         false,
         "",
         "image/jpeg"},
        {{{"minzoom", "5"}}, webp, "file", "webp", 3, 6, false, "", "image/webp"},
    };
    for (const auto& c : cases) {
        Scratch scratch;
        makeMbtiles(scratch.maps() + "file.mbtiles", c.metadata,
                    {{3, 0, 0, c.tile}, {6, 0, 0, c.tile}});
        const auto sources = TileSources::discover(scratch.kestrel(), "");
        ASSERT_EQ(sources.layers().size(), 1u) << c.name;
        const TileLayer& layer = sources.layers()[0];
        EXPECT_EQ(layer.name, c.name);
        EXPECT_EQ(layer.format, c.format);
        EXPECT_EQ(std::make_pair(layer.minZoom, layer.maxZoom),
                  std::make_pair(c.minZoom, c.maxZoom));
        EXPECT_EQ(layer.bounds.has_value(), c.bounds);
        EXPECT_EQ(layer.attribution, c.attribution);
        EXPECT_TRUE(layer.mbtiles);
        EXPECT_EQ(sources.tile(layer.id, 3, 0, 7)->contentType, c.contentType);
    }
}

TEST(MapTilesMbtiles, LeavesOutWhatItCannotShowAndKeepsTheRest) {
    Scratch scratch;
    makeMbtiles(scratch.maps() + "good.mbtiles", {}, {{1, 0, 0, png("good")}});
    std::mt19937 random(7);
    std::string noise(8192, '\0');
    for (char& c : noise) {
        c = static_cast<char>(random());
    }
    writeFile(scratch.maps() + "noise.mbtiles", noise);
    Rows many;
    for (int x = 0; x < 64; ++x) {
        many.emplace_back(6, x, 0, png(std::string(2000, 'a')));
    }
    makeMbtiles(scratch.maps() + "truncated.mbtiles", {{"format", "png"}}, many);
    fs::resize_file(scratch.maps() + "truncated.mbtiles",
                    std::uintmax_t{3} * 4096);  // the schema and metadata, not the tiles
    makeMbtiles(scratch.maps() + "untiled.mbtiles", {{"format", "png"}}, {}, false);
    makeMbtiles(scratch.maps() + "vector.mbtiles", {{"format", "pbf"}}, {{0, 0, 0, "\x1f\x8b"}});
    makeMbtiles(scratch.maps() + "empty.mbtiles", {{"format", "png"}}, {});
    fs::create_directories(scratch.maps() + "notes");

    const auto sources = TileSources::discover(scratch.kestrel(), "");
    ASSERT_EQ(sources.layers().size(), 1u);
    EXPECT_EQ(tileBytes(sources, "good", 1, 0, 1), png("good"));
    const std::vector<std::string> expected = {
        "maps/empty.mbtiles: holds no tiles",
        "maps/noise.mbtiles: not an MBTiles file (file is not a database)",
        "maps/notes/: no tiles as <z>/<x>/<y>.png, .jpg or .webp",
        "maps/truncated.mbtiles: not an MBTiles file (database disk image is malformed)",
        "maps/untiled.mbtiles: not an MBTiles file (no such table: tiles)",
        "maps/vector.mbtiles: vector tiles are not shown",
    };
    EXPECT_EQ(sources.problems(), expected);
}

TEST(MapTilesFolder, ReadsZxyTileFolders) {
    Scratch scratch;
    writeFile(scratch.maps() + "osm/5/3/7.png", png("osm"));
    fs::create_directories(scratch.maps() + "osm/3/0");
    fs::create_directories(scratch.maps() + "osm/cache");
    writeFile(scratch.maps() + "osm/5/4/2.png", std::string(1024 * 1024 + 1, 'x'));
    writeFile(scratch.home() + "photo/2/1/1.jpeg", "\xFF\xD8 photo");
    const auto sources = TileSources::discover(scratch.kestrel(), scratch.home());
    ASSERT_EQ(sources.layers().size(), 2u);
    const TileLayer& osm = sources.layers()[0];
    EXPECT_EQ(std::make_tuple(osm.id, osm.format, osm.minZoom, osm.maxZoom, osm.mbtiles),
              std::make_tuple("osm", "png", 3, 5, false));
    EXPECT_EQ(sources.layers()[1].format, "jpg");
    const struct {
        const char* id;
        int z, x, y;
        std::string expected;
        const char* why;
    } cases[] = {
        {"osm", 5, 3, 7, png("osm"), "a tile"},
        {"photo", 2, 1, 1, "\xFF\xD8 photo", "a .jpeg tile in the second folder"},
        {"osm", 5, 3, 8, "none", "missing"},
        {"osm", 5, 4, 2, "none", "over 1 MiB"},
        {"osm", 5, 32, 7, "none", "x outside 2^5"},
        {"osm", 5, -3, 7, "none", "negative x"},
        {"osm", 40, 3, 7, "none", "zoom over 24"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tileBytes(sources, c.id, c.z, c.x, c.y), c.expected) << c.why;
    }
    EXPECT_EQ(sources.tile("photo", 2, 1, 1)->contentType, "image/jpeg");
    EXPECT_TRUE(sources.problems().empty());
}

TEST(MapTilesDiscovery, SortsByNameAndGivesUniqueIds) {
    Scratch scratch;
    makeMbtiles(scratch.maps() + "b.mbtiles", {{"name", "topo"}}, {{0, 0, 0, kPng}});
    makeMbtiles(scratch.maps() + "a.mbtiles", {{"name", "Topo"}}, {{0, 0, 0, kPng}});
    makeMbtiles(scratch.maps() + "Z.MBTiles", {{"name", "  Ärger -- Karte!! "}}, {{0, 0, 0, kPng}});
    makeMbtiles(scratch.maps() + "y.mbtiles", {{"name", "\xC3\xC3 ?!"}}, {{0, 0, 0, kPng}});
    makeMbtiles(scratch.maps() + "x.mbtiles", {{"name", std::string(60, 'W')}}, {{0, 0, 0, kPng}});
    writeFile(scratch.home() + "topo/0/0/0.png", kPng);
    writeFile(scratch.home() + "ignored.mbtiles", "only tile folders are looked for here");
    const auto sources = TileSources::discover(scratch.kestrel(), scratch.home());
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"topo", "topo"},  // a clash goes by path: ~/Maps/ before the Kestrel folder here
        {"Topo", "topo-2"},
        {"topo", "topo-3"},
        {std::string(60, 'W'), std::string(48, 'w')},
        {"Ärger -- Karte!!", "rger-karte"},
        {"\xEF\xBF\xBD\xEF\xBF\xBD ?!", "layer"},
    };
    std::vector<std::pair<std::string, std::string>> found;
    for (const TileLayer& layer : sources.layers()) {
        found.emplace_back(layer.name, layer.id);
    }
    EXPECT_EQ(found, expected);
    EXPECT_EQ(sources.layers()[0].path, scratch.home() + "topo/");
    EXPECT_TRUE(sources.problems().empty());
}

TEST(MapTilesJson, ListsLayersAndTheOnlineMap) {
    Scratch scratch;
    makeMbtiles(scratch.maps() + "hills.mbtiles",
                {{"name", "Hills"}, {"bounds", "1,2,3,4"}, {"attribution", "Me"}},
                {{7, 0, 0, kPng}});
    writeFile(scratch.maps() + "osm/9/0/0.webp", std::string("RIFF\4\0\0\0WEBP", 12));
    const auto sources = TileSources::discover(scratch.kestrel(), "");
    const auto offline = sources.layersJson("", "ignored");
    const auto expected = nlohmann::json::parse(R"({"layers":[
        {"id":"hills","name":"Hills","format":"png","minzoom":7,"maxzoom":7,"bounds":[1,2,3,4],
         "attribution":"Me","url":"/tiles/hills/{z}/{x}/{y}"},
        {"id":"osm","name":"osm","format":"webp","minzoom":9,"maxzoom":9,"bounds":null,
         "attribution":"","url":"/tiles/osm/{z}/{x}/{y}"}], "online":null})");
    EXPECT_EQ(offline, expected);
    const auto online = sources.layersJson("https://t/{z}/{x}/{y}.png", "© OSM");
    EXPECT_EQ(online["online"],
              nlohmann::json({{"url", "https://t/{z}/{x}/{y}.png"}, {"attribution", "© OSM"}}));
    EXPECT_TRUE(TileSources::discover(scratch.kestrel() + "absent/", "/absent/").layers().empty());
}

}  // namespace
}  // namespace kestrel::live_map
