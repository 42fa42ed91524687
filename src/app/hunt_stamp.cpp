#include "app/hunt_stamp.h"

#include <cstdlib>
#include <string_view>

namespace kestrel {

namespace {

// Two digits, a leading "0" below 10. A clock value outside 0 to 99 keeps its last two digits so
// the stamp always has 13 characters.
std::string twoDigits(int value) {
    const int v = std::abs(value) % 100;
    return std::string{static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10)};
}

}  // namespace

std::string huntStamp(const LocalTime& time) {
    return twoDigits(time.month) + twoDigits(time.day) + twoDigits(time.year) + "_" +
           twoDigits(time.hour) + twoDigits(time.minute) + twoDigits(time.second);
}

std::string liveHuntDocument(bool withTeamMap) {
    struct Link {
        const char* name;
        const char* href;
    };
    static constexpr Link kLinks[] = {
        {"Kestrelmap live hunt", "Current_Hunt.kml"},
        {"Kestrelmap estimate", "Current_Estimate.kml"},
        {"Kestrelmap team", "Current_Team.kml"},
    };
    std::string document =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\r\n"
        "<Document>\r\n"
        "<name>Kestrelmap live</name>\r\n";
    for (const Link& link : kLinks) {
        if (!withTeamMap && std::string_view(link.href) == "Current_Team.kml") {
            continue;
        }
        document += "<NetworkLink>\r\n<name>";
        document += link.name;
        document += "</name>\r\n<Link>\r\n<href>";
        document += link.href;
        document +=
            "</href>\r\n<refreshMode>onInterval</refreshMode>\r\n"
            "<refreshInterval>5</refreshInterval>\r\n</Link>\r\n</NetworkLink>\r\n";
    }
    document += "</Document>\r\n</kml>\r\n";
    return document;
}

}  // namespace kestrel
