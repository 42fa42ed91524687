#pragma once
// Flat JSON objects, the only shape the team link sends: one object of string keys whose values
// are strings, finite numbers, true/false or null. The reader is strict (RFC 8259 grammar, valid
// UTF-8, no duplicate key, nothing nested, nothing after the object) and never throws; the
// writer produces the same grammar with numbers written independently of the locale.
// The reader takes the grammar, escapes and UTF-8 of strings from nlohmann-json's event
// parser and checks the shape itself; the writer is written out here, as its bytes (\u0008 and
// \u000c for backspace and form feed, fixed decimals) are what the team and the journals hold.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace kestrel::team {

struct JsonNull {
    bool operator==(const JsonNull&) const = default;
};
using JsonValue = std::variant<JsonNull, bool, double, std::string>;

// Members in the order they were read or are to be written.
class FlatObject {
  public:
    const JsonValue* find(std::string_view key) const;
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    size_t size() const { return m_members.size(); }
    // False (and nothing added) when the key is already present.
    bool add(std::string key, JsonValue value);

  private:
    std::vector<std::pair<std::string, JsonValue>> m_members;
};

// The object, or nothing when the text is not exactly one flat object as described above.
std::optional<FlatObject> parseFlatObject(std::string_view text);

// One line of JSON text. Doubles are written shortest-round-trip unless `decimals` of the
// member says otherwise (see JsonWriter::number).
class JsonWriter {
  public:
    JsonWriter& string(std::string_view name, std::string_view value);
    JsonWriter& integer(std::string_view name, long long value);
    // Fixed notation with the given number of decimals; a value that is not finite reads null.
    JsonWriter& number(std::string_view name, double value, int decimals);
    JsonWriter& null(std::string_view name);
    JsonWriter& boolean(std::string_view name, bool value);
    std::string finish();

  private:
    void key(std::string_view name);
    std::string m_text = "{";
};

// `text` as a JSON string literal, quotes included.
void appendJsonString(std::string& out, std::string_view text);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool isValidUtf8(std::string_view text);

}  // namespace kestrel::team
