#pragma once
// What a page asks of a plot (POST /plots/<row>): leave it out of the fix or use it again, or
// give it a note. The body is one flat JSON object with exactly one member, read by the team
// link's strict reader; a note is plain text of at most 200 characters without control
// characters. Qt-free, no state.

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "live_map/router.h"

namespace kestrel::live_map {

inline constexpr size_t kMaxNoteCharacters = 200;

struct ReviewAction {
    std::optional<bool> excluded;     // {"excluded": true|false}
    std::optional<std::string> note;  // {"note": "..."}; "" takes the note away
};

// The action, or why the body is refused (400).
std::variant<ReviewAction, Refusal> parseReviewAction(std::string_view body);

// A new random token of 128 bits from the system's random source, as 32 hexadecimal digits;
// empty (no review is then accepted) when the system has none to give.
std::string newToken();
// The two texts are the same, compared in a time that does not tell where they differ.
bool sameToken(std::string_view given, std::string_view expected);

}  // namespace kestrel::live_map
