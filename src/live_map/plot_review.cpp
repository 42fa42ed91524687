#include "live_map/plot_review.h"

#include "live_map/map_access.h"
#include "team/flat_json.h"

namespace kestrel::live_map {

namespace {

Refusal bad(std::string reason) {
    return Refusal{400, std::move(reason)};
}

// Characters of well-formed UTF-8 (the reader has checked it); none is a control character
// (C0, DEL or C1). Nothing for a text that has one.
std::optional<size_t> plainCharacters(std::string_view text) {
    size_t count = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool c1 =
            byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (byte < 0x20 || byte == 0x7F || c1) {
            return std::nullopt;
        }
        count += (byte & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

}  // namespace

// {"excluded": true} | {"excluded": false} | {"note": "text"}
std::variant<ReviewAction, Refusal> parseReviewAction(std::string_view body) {
    if (body.size() > kMaxActionBytes) {
        return Refusal{413, "the body is too large"};
    }
    const std::optional<team::FlatObject> object = team::parseFlatObject(body);
    if (!object) {
        return bad("the body is not one flat JSON object");
    }
    const team::JsonValue* excluded = object->find("excluded");
    const team::JsonValue* note = object->find("note");
    if ((excluded != nullptr) == (note != nullptr) || object->size() != 1) {
        return bad("expected exactly one of \"excluded\" and \"note\"");
    }
    ReviewAction action;
    if (excluded) {
        const bool* flag = std::get_if<bool>(excluded);
        if (!flag) {
            return bad("\"excluded\" must be true or false");
        }
        action.excluded = *flag;
        return action;
    }
    const std::string* text = std::get_if<std::string>(note);
    if (!text) {
        return bad("\"note\" must be text");
    }
    const std::optional<size_t> characters = plainCharacters(*text);
    if (!characters) {
        return bad("the note has control characters");
    }
    if (*characters > kMaxNoteCharacters) {
        return bad("the note is longer than 200 characters");
    }
    action.note = *text;
    return action;
}

std::string newToken() {
    return newKey();  // the system's random source, as the shared map's key
}

bool sameToken(std::string_view given, std::string_view expected) {
    unsigned difference = given.size() == expected.size() ? 0u : 1u;
    for (size_t i = 0; i < expected.size(); ++i) {
        const char c = i < given.size() ? given[i] : '\0';
        difference |= static_cast<unsigned char>(c ^ expected[i]);
    }
    return difference == 0 && !expected.empty();
}

}  // namespace kestrel::live_map
