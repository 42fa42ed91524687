// An MBTiles 1.3 file: SQLite, opened read-only, with one prepared SELECT kept for its life.

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <map>
#include <utility>

#include "live_map/tile_readers.h"

namespace kestrel::live_map::detail {
namespace {

// A statement used once at discovery, finalized however the examination ends.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) {
        m_rc = sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool prepared() const { return m_rc == SQLITE_OK && m_statement != nullptr; }
    int step() { return prepared() ? sqlite3_step(m_statement) : SQLITE_ERROR; }
    std::string text(int column) const {
        const auto* text = sqlite3_column_text(m_statement, column);
        return text ? std::string(
                          reinterpret_cast<const char*>(text),
                          static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)))
                    : std::string();
    }
    std::string blob(int column) const {
        const void* blob = sqlite3_column_blob(m_statement, column);
        const int size = sqlite3_column_bytes(m_statement, column);
        return blob ? std::string(static_cast<const char*>(blob), static_cast<std::size_t>(size))
                    : std::string();
    }
    bool isNull(int column) const {
        return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
    }
    int integer(int column) const { return sqlite3_column_int(m_statement, column); }

  private:
    sqlite3_stmt* m_statement = nullptr;
    int m_rc = SQLITE_ERROR;
};

std::string lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<double> number(std::string_view text) {
    text = trimmed(text);
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> zoom(const std::map<std::string, std::string>& metadata, const char* key) {
    const auto it = metadata.find(key);
    if (it == metadata.end()) {
        return std::nullopt;
    }
    const auto value = number(it->second);
    if (!value || *value < 0 || *value > kMaxZoom || *value != std::floor(*value)) {
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

// "w,s,e,n" in degrees; none when malformed or outside the world.
std::optional<std::array<double, 4>> bounds(std::string_view text) {
    std::array<double, 4> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::size_t comma = text.find(',');
        const bool last = i + 1 == values.size();
        if (last != (comma == std::string_view::npos)) {
            return std::nullopt;
        }
        const auto value = number(text.substr(0, comma));
        if (!value) {
            return std::nullopt;
        }
        values[i] = *value;
        text = last ? std::string_view() : text.substr(comma + 1);
    }
    const auto [west, south, east, north] = values;
    if (west < -180 || east > 180 || west >= east || south < -90 || north > 90 || south >= north) {
        return std::nullopt;
    }
    return values;
}

std::string notMbtiles(sqlite3* db) {
    return std::string("not an MBTiles file (") + (db ? sqlite3_errmsg(db) : "out of memory") + ")";
}

}  // namespace

std::string formatFromMagic(std::string_view bytes) {
    if (bytes.starts_with("\x89PNG")) {
        return "png";
    }
    if (bytes.starts_with("\xFF\xD8")) {
        return "jpg";
    }
    if (bytes.size() >= 12 && bytes.starts_with("RIFF") && bytes.substr(8, 4) == "WEBP") {
        return "webp";
    }
    if (bytes.starts_with("\x1F\x8B")) {
        return "gzip";
    }
    return "";
}

std::string contentTypeFor(std::string_view format) {
    if (format == "png") {
        return "image/png";
    }
    if (format == "jpg") {
        return "image/jpeg";
    }
    if (format == "webp") {
        return "image/webp";
    }
    return "";
}

std::optional<MbtilesReader> MbtilesReader::open(const std::string& path, TileLayer& layer,
                                                 std::string& problem) {
    MbtilesReader reader;
    if (sqlite3_open_v2(path.c_str(), &reader.m_db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        problem = notMbtiles(reader.m_db);
        return std::nullopt;
    }
    sqlite3_busy_timeout(reader.m_db, 0);  // the user-interface thread never waits on a lock
    // Fails on a file that is not SQLite and on one without a tiles table or view.
    if (sqlite3_prepare_v3(reader.m_db,
                           "SELECT tile_data FROM tiles"
                           " WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3",
                           -1, SQLITE_PREPARE_PERSISTENT, &reader.m_select, nullptr) != SQLITE_OK) {
        problem = notMbtiles(reader.m_db);
        return std::nullopt;
    }

    std::map<std::string, std::string> metadata;  // a file without metadata can still be shown
    {
        Statement rows(reader.m_db, "SELECT name, value FROM metadata");
        while (rows.step() == SQLITE_ROW) {
            metadata.emplace(lower(rows.text(0)), rows.text(1));
        }
    }
    std::string format = lower(std::string(trimmed(metadata["format"])));
    if (format == "jpeg") {
        format = "jpg";
    }
    if (format == "pbf" || format == "mvt") {
        problem = "vector tiles are not shown";
        return std::nullopt;
    }

    // The first tile: the table can really be read, and its bytes tell an unnamed format.
    Statement first(reader.m_db, "SELECT tile_data FROM tiles LIMIT 1");
    const int stepped = first.step();
    if (stepped == SQLITE_DONE) {
        problem = "holds no tiles";
        return std::nullopt;
    }
    if (stepped != SQLITE_ROW) {
        problem = notMbtiles(reader.m_db);
        return std::nullopt;
    }
    if (contentTypeFor(format).empty()) {
        const std::string guessed = formatFromMagic(first.blob(0));
        if (guessed == "gzip") {
            problem = "vector tiles are not shown";
            return std::nullopt;
        }
        if (guessed.empty()) {
            problem = format.empty() ? "tiles of an unknown format"
                                     : "tile format \"" + format + "\" is not shown";
            return std::nullopt;
        }
        format = guessed;
    }

    auto minZoom = zoom(metadata, "minzoom");
    auto maxZoom = zoom(metadata, "maxzoom");
    if (!minZoom || !maxZoom || *minZoom > *maxZoom) {
        Statement range(reader.m_db, "SELECT MIN(zoom_level), MAX(zoom_level) FROM tiles");
        if (range.step() != SQLITE_ROW || range.isNull(0) || range.isNull(1)) {
            problem = notMbtiles(reader.m_db);
            return std::nullopt;
        }
        minZoom = std::clamp(range.integer(0), 0, kMaxZoom);
        maxZoom = std::clamp(range.integer(1), *minZoom, kMaxZoom);
    }

    layer.format = format;
    layer.minZoom = *minZoom;
    layer.maxZoom = *maxZoom;
    layer.bounds = bounds(metadata["bounds"]);
    layer.attribution = metadata["attribution"];
    if (const std::string name(trimmed(metadata["name"])); !name.empty()) {
        layer.name = name;
    }
    reader.m_contentType = contentTypeFor(format);
    return reader;
}

MbtilesReader::MbtilesReader(MbtilesReader&& other) noexcept
    : m_db(std::exchange(other.m_db, nullptr)),
      m_select(std::exchange(other.m_select, nullptr)),
      m_contentType(std::move(other.m_contentType)) {}

MbtilesReader& MbtilesReader::operator=(MbtilesReader&& other) noexcept {
    if (this != &other) {
        close();
        m_db = std::exchange(other.m_db, nullptr);
        m_select = std::exchange(other.m_select, nullptr);
        m_contentType = std::move(other.m_contentType);
    }
    return *this;
}

MbtilesReader::~MbtilesReader() {
    close();
}

void MbtilesReader::close() {
    sqlite3_finalize(m_select);
    sqlite3_close_v2(m_db);
    m_select = nullptr;
    m_db = nullptr;
}

std::optional<Tile> MbtilesReader::tile(int z, int x, int y) const {
    if (m_select == nullptr || !validTileAddress(z, x, y)) {
        return std::nullopt;
    }
    const int tmsRow = (1 << z) - 1 - y;
    sqlite3_reset(m_select);
    if (sqlite3_bind_int(m_select, 1, z) != SQLITE_OK ||
        sqlite3_bind_int(m_select, 2, x) != SQLITE_OK ||
        sqlite3_bind_int(m_select, 3, tmsRow) != SQLITE_OK) {
        return std::nullopt;
    }
    std::optional<Tile> found;
    try {
        if (sqlite3_step(m_select) == SQLITE_ROW) {
            const void* blob = sqlite3_column_blob(m_select, 0);
            const auto size = static_cast<std::size_t>(sqlite3_column_bytes(m_select, 0));
            if (blob != nullptr && size > 0 && size <= kMaxTileBytes) {
                std::string bytes(static_cast<const char*>(blob), size);
                std::string type = contentTypeFor(formatFromMagic(bytes));
                if (type.empty()) {
                    type = m_contentType;
                }
                found = Tile{std::move(bytes), std::move(type)};
            }
        }
    } catch (const std::exception&) {  // out of memory: no tile
        found.reset();
    }
    sqlite3_reset(m_select);  // ends the read, so other programs may write the file
    return found;
}

}  // namespace kestrel::live_map::detail
