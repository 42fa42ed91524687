#include "live_map/hunt_view.h"

#include <gtest/gtest.h>

namespace kestrel::live_map {
namespace {

TEST(LiveMapColour, KmlColourBecomesCss) {
    const struct {
        const char* kml;
        const char* css;
    } cases[] = {
        {"ff0000ff", "#ff0000"},  // KML red: aabbggrr
        {"FF00A5FF", "#ffa500"},  // orange, upper case
        {"ff00ff", "#ff0000"},    // too short
        {"ffzz00ff", "#ff0000"},  // not hexadecimal
        {"", "#ff0000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cssColour(c.kml), c.css) << c.kml;
    }
}

}  // namespace
}  // namespace kestrel::live_map
