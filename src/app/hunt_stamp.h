#pragma once
// The hunt stamp MMDDYY_HHMMSS that names a hunt's time-stamped map file and follows the program
// name in the window caption, and the small network-link document that lets a map viewer follow
// the current hunt file.

#include <string>

#include "platform/platform.h"

namespace kestrel {

// Month, day, the year within its century, "_", hour, minute, second: two digits each.
std::string huntStamp(const LocalTime& time);

// A KML document of network links to the current hunt file and the current estimate beside it
// (and the team map when the team link is on), each refreshed every five seconds; CR LF lines.
std::string liveHuntDocument(bool withTeamMap = false);

}  // namespace kestrel
