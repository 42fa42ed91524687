#pragma once
// The team link's state as the instruments window shows it: the broker, whether the link is up,
// the own plots still waiting for the broker, and each other vehicle's plots and last word.

#include <cstdint>
#include <string>
#include <string_view>

#include "team/team_hunt.h"

namespace kestrel::team {

// Lines separated by "\n", e.g.
//   "broker 127.0.0.1:1883: connected, 2 plots waiting"
//   "blue: 14 plots, last message 4 s ago"
std::string teamStatusText(const TeamHunt& hunt, std::string_view broker, int64_t nowMs);

// "4 s ago", "3 min ago", "2 h ago"; "no message yet" for 0.
std::string ageText(int64_t thenMs, int64_t nowMs);

}  // namespace kestrel::team
