#include "live_map/tile_sources.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <system_error>
#include <variant>

#include "live_map/tile_readers.h"

namespace kestrel::live_map {
namespace {

namespace fs = std::filesystem;

using Reader = std::variant<detail::MbtilesReader, detail::TileFolder>;

// The entries of one maps folder that discovery looks at.
constexpr std::size_t kEntriesPerMapsFolder = 1000;
constexpr std::size_t kIdLength = 48;

struct Found {
    TileLayer layer;
    Reader reader;
};

std::string lowerAscii(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lowered;
}

// The length of the well-formed UTF-8 sequence at text[i]; 0 when there is none.
std::size_t utf8Length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        return 1;
    }
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || i + length > text.size()) {
        return 0;
    }
    // The second byte's range excludes overlong forms, surrogates and code points past U+10FFFF.
    const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (byte(i + 1) < low || byte(i + 1) > high) {
        return 0;
    }
    for (std::size_t k = 2; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

// The text with every byte that is not part of well-formed UTF-8 replaced by U+FFFD, so that
// the page's JSON can always be written.
std::string validUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8Length(text, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

std::string withSlash(const std::string& folder) {
    return folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

// The names in `folder`, sorted, at most kEntriesPerMapsFolder; a problem line when more.
std::vector<std::string> entryNames(const std::string& folder, const std::string& shownAs,
                                    std::vector<std::string>& problems) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (names.size() == kEntriesPerMapsFolder) {
            problems.push_back(shownAs + ": more than " + std::to_string(kEntriesPerMapsFolder) +
                               " entries, the rest not looked at");
            break;
        }
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// "maps/area.mbtiles: " and what is wrong with it.
std::string problemLine(const std::string& shownAs, const std::string& name,
                        std::string_view what) {
    std::string line = shownAs;
    line.append(name).append(": ").append(what);
    return line;
}

bool endsWithMbtiles(const std::string& name) {
    constexpr std::string_view suffix = ".mbtiles";
    return name.size() > suffix.size() &&
           lowerAscii(std::string_view(name).substr(name.size() - suffix.size())) == suffix;
}

// One maps folder: its *.mbtiles files (when `withFiles`) and its tile folders. `shownAs`
// names the folder in problem lines; sub-folders without tiles are one only `withFiles`.
void scan(const std::string& folder, const std::string& shownAs, bool withFiles,
          std::vector<Found>& found, std::vector<std::string>& problems) {
    for (const std::string& name : entryNames(folder, shownAs, problems)) {
        if (name.empty() || name.front() == '.') {
            continue;
        }
        const std::string path = folder + name;
        try {
            std::error_code ec;
            const fs::file_status status = fs::status(path, ec);  // a symlinked map is fine
            TileLayer layer;
            layer.path = path;
            if (withFiles && fs::is_regular_file(status) && endsWithMbtiles(name)) {
                layer.name = name.substr(0, name.size() - std::string_view(".mbtiles").size());
                layer.mbtiles = true;
                std::string problem;
                if (auto reader = detail::MbtilesReader::open(path, layer, problem)) {
                    found.push_back({std::move(layer), std::move(*reader)});
                } else {
                    problems.push_back(problemLine(shownAs, name, problem));
                }
            } else if (fs::is_directory(status)) {
                layer.name = name;
                layer.path = path + "/";
                if (auto reader = detail::TileFolder::examine(layer.path, layer)) {
                    found.push_back({std::move(layer), std::move(*reader)});
                } else if (withFiles) {
                    problems.push_back(problemLine(shownAs, name + "/",
                                                   "no tiles as <z>/<x>/<y>.png, .jpg or .webp"));
                }
            }
        } catch (const std::exception& e) {  // out of memory, in effect
            problems.push_back(problemLine(shownAs, name, e.what()));
        }
    }
}

// From the name: [a-z0-9] and single '-' between, at most 48 characters, never empty.
std::string baseId(std::string_view name) {
    std::string id;
    for (const char c : lowerAscii(name)) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            id += c;
        } else if (!id.empty() && id.back() != '-') {
            id += '-';
        }
    }
    if (id.size() > kIdLength) {
        id.resize(kIdLength);
    }
    while (!id.empty() && id.back() == '-') {
        id.pop_back();
    }
    return id.empty() ? "layer" : id;
}

}  // namespace

struct TileSources::Impl {
    std::vector<TileLayer> layers;
    std::vector<Reader> readers;  // readers[i] reads layers[i]
    std::vector<std::string> problems;
};

TileSources::TileSources() : m_impl(std::make_unique<Impl>()) {}
TileSources::~TileSources() = default;
TileSources::TileSources(TileSources&&) noexcept = default;
TileSources& TileSources::operator=(TileSources&&) noexcept = default;

TileSources TileSources::discover(const std::string& kestrelFolder,
                                  const std::string& homeMapsFolder) {
    TileSources sources;
    Impl& impl = *sources.m_impl;
    std::vector<Found> found;
    if (!kestrelFolder.empty()) {
        scan(withSlash(kestrelFolder) + "maps/", "maps/", true, found, impl.problems);
    }
    if (!homeMapsFolder.empty()) {
        scan(withSlash(homeMapsFolder), withSlash(homeMapsFolder), false, found, impl.problems);
    }

    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        const std::string left = lowerAscii(a.layer.name);
        const std::string right = lowerAscii(b.layer.name);
        return left != right ? left < right : a.layer.path < b.layer.path;
    });
    std::set<std::string> ids;
    for (Found& f : found) {
        f.layer.name = validUtf8(f.layer.name);
        f.layer.attribution = validUtf8(f.layer.attribution);
        const std::string base = baseId(f.layer.name);
        std::string id = base;
        for (int n = 2; ids.contains(id); ++n) {
            id = base + "-" + std::to_string(n);
        }
        ids.insert(id);
        f.layer.id = id;
        impl.layers.push_back(std::move(f.layer));
        impl.readers.push_back(std::move(f.reader));
    }
    return sources;
}

const std::vector<TileLayer>& TileSources::layers() const {
    static const std::vector<TileLayer> none;
    return m_impl ? m_impl->layers : none;
}

const std::vector<std::string>& TileSources::problems() const {
    static const std::vector<std::string> none;
    return m_impl ? m_impl->problems : none;
}

std::optional<Tile> TileSources::tile(std::string_view layerId, int z, int x, int y) const {
    if (!m_impl) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < m_impl->layers.size(); ++i) {
        if (m_impl->layers[i].id == layerId) {
            return std::visit([&](const auto& reader) { return reader.tile(z, x, y); },
                              m_impl->readers[i]);
        }
    }
    return std::nullopt;
}

nlohmann::json TileSources::layersJson(const std::string& onlineTemplate,
                                       const std::string& onlineAttribution) const {
    nlohmann::json list = nlohmann::json::array();
    for (const TileLayer& layer : layers()) {
        nlohmann::json bounds = nullptr;
        if (layer.bounds) {
            bounds = {(*layer.bounds)[0], (*layer.bounds)[1], (*layer.bounds)[2],
                      (*layer.bounds)[3]};
        }
        list.push_back({{"id", layer.id},
                        {"name", layer.name},
                        {"format", layer.format},
                        {"minzoom", layer.minZoom},
                        {"maxzoom", layer.maxZoom},
                        {"bounds", std::move(bounds)},
                        {"attribution", layer.attribution},
                        {"url", "/tiles/" + layer.id + "/{z}/{x}/{y}"}});
    }
    nlohmann::json online = nullptr;
    if (!onlineTemplate.empty()) {
        online = {{"url", validUtf8(onlineTemplate)},
                  {"attribution", validUtf8(onlineAttribution)}};
    }
    return {{"layers", std::move(list)}, {"online", std::move(online)}};
}

}  // namespace kestrel::live_map
