// A tile folder as the common tile caches keep it: <root><z>/<x>/<y>.<png|jpg|jpeg|webp>.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "live_map/tile_readers.h"

namespace kestrel::live_map::detail {
namespace {

namespace fs = std::filesystem;

// Discovery looks at no more than this many entries of one folder, and of one layer in all.
constexpr int kEntriesPerListing = 300;
constexpr int kEntriesPerLayer = 3000;
constexpr int kColumnsTriedPerZoom = 3;

// "0" or a decimal without a leading zero, as std::to_string writes it; none otherwise.
std::optional<int> tileNumber(std::string_view text) {
    if (text.empty() || text.size() > 8 || (text.size() > 1 && text.front() == '0')) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

// Calls `visit(entry)` for the entries of `folder` until it returns false or a bound is met.
template <typename Visit>
void forEachEntry(const fs::path& folder, int& budget, Visit visit) {
    std::error_code ec;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (int seen = 0; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (++seen > kEntriesPerListing || --budget < 0 || !visit(*it)) {
            return;
        }
    }
}

bool isFolder(const fs::directory_entry& entry) {
    std::error_code ec;
    return entry.is_directory(ec);
}

// The extension of a "<y>.<ext>" tile file, as spelled; "" for any other name.
std::string tileExtension(const fs::directory_entry& entry) {
    const std::string name = entry.path().filename().string();
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || !tileNumber(std::string_view(name).substr(0, dot))) {
        return "";
    }
    std::string extension = name.substr(dot + 1);
    std::string lowered = extension;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lowered != "png" && lowered != "jpg" && lowered != "jpeg" && lowered != "webp") {
        return "";
    }
    std::error_code ec;
    return entry.is_regular_file(ec) ? extension : "";
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

std::optional<TileFolder> TileFolder::examine(const std::string& root, TileLayer& layer) {
    int budget = kEntriesPerLayer;
    std::vector<int> zooms;
    forEachEntry(root, budget, [&](const fs::directory_entry& entry) {
        const auto z = tileNumber(entry.path().filename().string());
        if (z && *z <= kMaxZoom && isFolder(entry)) {
            zooms.push_back(*z);
        }
        return true;
    });
    std::sort(zooms.begin(), zooms.end());

    std::string extension;
    for (const int z : zooms) {
        int columnsTried = 0;
        forEachEntry(root + std::to_string(z), budget, [&](const fs::directory_entry& column) {
            if (!tileNumber(column.path().filename().string()) || !isFolder(column)) {
                return true;
            }
            forEachEntry(column.path(), budget, [&](const fs::directory_entry& file) {
                extension = tileExtension(file);
                return extension.empty();
            });
            return extension.empty() && ++columnsTried < kColumnsTriedPerZoom;
        });
        if (!extension.empty() || budget <= 0) {
            break;
        }
    }
    if (extension.empty()) {
        return std::nullopt;
    }

    TileFolder folder;
    folder.m_root = root;
    folder.m_extension = extension;
    std::string format = extension;
    std::transform(format.begin(), format.end(), format.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    layer.format = format == "jpeg" ? "jpg" : format;
    layer.minZoom = zooms.front();
    layer.maxZoom = zooms.back();
    folder.m_contentType = contentTypeFor(layer.format);
    return folder;
}

std::optional<Tile> TileFolder::tile(int z, int x, int y) const {
    if (!validTileAddress(z, x, y)) {
        return std::nullopt;
    }
    try {
        // Only the layer's own root and the three checked integers make the path.
        const std::string path = m_root + std::to_string(z) + "/" + std::to_string(x) + "/" +
                                 std::to_string(y) + "." + m_extension;
        const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
        if (!file) {
            return std::nullopt;
        }
        std::string bytes;
        char buffer[32 * 1024];
        for (;;) {
            const std::size_t read = std::fread(buffer, 1, sizeof buffer, file.get());
            bytes.append(buffer, read);
            if (bytes.size() > kMaxTileBytes) {
                return std::nullopt;
            }
            if (read < sizeof buffer) {
                break;
            }
        }
        if (std::ferror(file.get()) || bytes.empty()) {  // a folder named like a tile, say
            return std::nullopt;
        }
        std::string type = contentTypeFor(formatFromMagic(bytes));
        if (type.empty()) {
            type = m_contentType;
        }
        return Tile{std::move(bytes), std::move(type)};
    } catch (const std::exception&) {  // out of memory: no tile
        return std::nullopt;
    }
}

}  // namespace kestrel::live_map::detail
