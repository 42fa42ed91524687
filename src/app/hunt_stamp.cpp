#include "app/hunt_stamp.h"

#include <cstdlib>

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

std::string liveHuntDocument() {
    static const char* const kLines[] = {
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
        "<kml xmlns=\"http://www.opengis.net/kml/2.2\">",
        "<NetworkLink>",
        "<name>Kestrelmap live hunt</name>",
        "<Link>",
        "<href>Current_Hunt.kml</href>",
        "<refreshMode>onInterval</refreshMode>",
        "<refreshInterval>5</refreshInterval>",
        "</Link>",
        "</NetworkLink>",
        "</kml>",
    };
    std::string document;
    for (const char* line : kLines) {
        document += line;
        document += "\r\n";
    }
    return document;
}

}  // namespace kestrel
