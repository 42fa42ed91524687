#include "live_map/hunt_view.h"

#include <cctype>

namespace kestrel::live_map {

// KML writes "aabbggrr"; the page wants "#rrggbb".
std::string cssColour(const std::string& kmlColour) {
    if (kmlColour.size() != 8) {
        return "#ff0000";
    }
    for (const char c : kmlColour) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return "#ff0000";
        }
    }
    std::string css =
        "#" + kmlColour.substr(6, 2) + kmlColour.substr(4, 2) + kmlColour.substr(2, 2);
    for (char& c : css) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return css;
}

}  // namespace kestrel::live_map
