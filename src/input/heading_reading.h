#pragma once
// Heading sentences from a compass or a heading-capable GPS: a true heading ($--HDT) or a
// magnetic one with its variation ($--HDG). Read without touching the window; every reader
// answers for any input, however malformed.

#include <cstddef>
#include <optional>
#include <string_view>

namespace kestrel {

struct HeadingReading {
    int trueDegrees = 0;    // 0 to 359
    const char* from = "";  // "HDT" or "HDG": the sentence it came from
    bool operator==(const HeadingReading& other) const {
        return trueDegrees == other.trueDegrees && std::string_view(from) == other.from;
    }
};

// The index of the first heading sentence start in `text`: "$", a two-letter upper-case
// talker, then "HDT" or "HDG". npos when there is none.
std::size_t findHeadingStart(std::string_view text);

// The true heading a sentence ("$" up to, not including, its carriage return) gives, or
// nothing when it cannot be used (the rules are at the definition).
std::optional<HeadingReading> readHeading(std::string_view sentence);

}  // namespace kestrel
