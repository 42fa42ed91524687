#include "team/flat_json.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>

namespace kestrel::team {

const JsonValue* FlatObject::find(std::string_view key) const {
    for (const auto& [name, value] : m_members) {
        if (name == key) {
            return &value;
        }
    }
    return nullptr;
}

bool FlatObject::add(std::string key, JsonValue value) {
    if (contains(key)) {
        return false;
    }
    m_members.emplace_back(std::move(key), std::move(value));
    return true;
}

bool isValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int extra = 0;
        uint32_t code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            code = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            code = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            code = lead & 0x07u;
        } else {
            return false;
        }
        if (text.size() - i <= static_cast<size_t>(extra)) {
            return false;
        }
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
            if ((next & 0xC0u) != 0x80u) {
                return false;
            }
            code = (code << 6) | (next & 0x3Fu);
        }
        const uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
        if (code < smallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += static_cast<size_t>(extra) + 1;
    }
    return true;
}

namespace {

using Json = nlohmann::json;

// Numbers the library reads as zero although their text is not zero: too small for a double
// ("1e-400"), refused like one too large rather than read as a different number.
bool readAsZeroInError(double value, const std::string& text) {
    if (value != 0) {
        return false;
    }
    for (const char c : text) {
        if (c == 'e' || c == 'E') {
            return false;
        }
        if (c >= '1' && c <= '9') {
            return true;
        }
    }
    return false;
}

// The parser's events into one FlatObject; any event that is not part of a flat object stops the
// parse. The library checks the grammar, the escapes (surrogates in pairs) and the UTF-8 of
// strings; this checks the shape.
class FlatObjectSax final : public nlohmann::json_sax<Json> {
  public:
    bool null() override { return member(JsonNull{}); }
    bool boolean(bool value) override { return member(value); }
    // Negative whole numbers come here, so a zero is "-0": kept with its sign as a double.
    bool number_integer(number_integer_t value) override {
        return member(value == 0 ? -0.0 : static_cast<double>(value));
    }
    bool number_unsigned(number_unsigned_t value) override {
        return member(static_cast<double>(value));
    }
    // The library refuses a number too large for a double itself.
    bool number_float(number_float_t value, const string_t& text) override {
        return !readAsZeroInError(value, text) && member(value);
    }
    bool string(string_t& value) override { return member(std::move(value)); }
    bool binary(binary_t&) override { return false; }
    bool start_object(std::size_t) override {
        if (m_state != State::Before) {
            return false;  // an object inside the object
        }
        m_state = State::Open;
        return true;
    }
    bool key(string_t& name) override {
        if (m_object.contains(name)) {
            return false;
        }
        m_key = std::move(name);
        return true;
    }
    bool end_object() override {
        m_state = State::Closed;
        return true;
    }
    bool start_array(std::size_t) override { return false; }
    bool end_array() override { return false; }
    bool parse_error(std::size_t, const std::string&, const Json::exception&) override {
        return false;
    }

    std::optional<FlatObject> result() {
        return m_state == State::Closed ? std::optional(std::move(m_object)) : std::nullopt;
    }

  private:
    enum class State { Before, Open, Closed };

    bool member(JsonValue value) {
        return m_state == State::Open && m_object.add(std::move(m_key), std::move(value));
    }

    State m_state = State::Before;
    std::string m_key;
    FlatObject m_object;
};

// Bytes the library would let through: it skips a byte order mark at the start and takes a NUL
// byte for the end of the text, so that anything after one would be ignored.
bool hasBytesTheParserIgnores(std::string_view text) {
    return text.starts_with("\xEF\xBB\xBF") || text.find('\0') != std::string_view::npos;
}

}  // namespace

std::optional<FlatObject> parseFlatObject(std::string_view text) {
    if (!isValidUtf8(text) || hasBytesTheParserIgnores(text)) {
        return std::nullopt;
    }
    FlatObjectSax sax;
    try {
        // Strict: nothing but white space after the object; no comments.
        if (!Json::sax_parse(text.begin(), text.end(), &sax, Json::input_format_t::json, true,
                             false)) {
            return std::nullopt;
        }
    } catch (...) {
        // The parse reports its faults through parse_error; only a failed allocation throws.
        return std::nullopt;
    }
    return sax.result();
}

void appendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20) {
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else {
            out += c;
        }
    }
    out += '"';
}

void JsonWriter::key(std::string_view name) {
    if (m_text.size() > 1) {
        m_text += ", ";
    }
    appendJsonString(m_text, name);
    m_text += ": ";
}

JsonWriter& JsonWriter::string(std::string_view name, std::string_view value) {
    key(name);
    appendJsonString(m_text, value);
    return *this;
}

JsonWriter& JsonWriter::integer(std::string_view name, long long value) {
    key(name);
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    m_text.append(buffer, result.ptr);
    return *this;
}

JsonWriter& JsonWriter::number(std::string_view name, double value, int decimals) {
    if (!std::isfinite(value)) {
        return null(name);
    }
    key(name);
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) {
        m_text += "null";
    } else {
        m_text.append(buffer, result.ptr);
    }
    return *this;
}

JsonWriter& JsonWriter::null(std::string_view name) {
    key(name);
    m_text += "null";
    return *this;
}

JsonWriter& JsonWriter::boolean(std::string_view name, bool value) {
    key(name);
    m_text += value ? "true" : "false";
    return *this;
}

std::string JsonWriter::finish() {
    m_text += '}';
    return std::move(m_text);
}

}  // namespace kestrel::team
