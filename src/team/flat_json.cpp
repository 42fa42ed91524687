#include "team/flat_json.h"

#include <charconv>
#include <cmath>
#include <cstdint>

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

void appendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// A cursor over the text; every read returns false on the first fault.
class Reader {
  public:
    explicit Reader(std::string_view text) : m_text(text) {}

    void skipSpace() {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' ||
                                         m_text[m_pos] == '\n' || m_text[m_pos] == '\r')) {
            ++m_pos;
        }
    }
    bool atEnd() const { return m_pos >= m_text.size(); }
    char peek() const { return atEnd() ? '\0' : m_text[m_pos]; }
    bool take(char c) {
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }
    bool takeWord(std::string_view word) {
        if (m_text.substr(m_pos, word.size()) == word) {
            m_pos += word.size();
            return true;
        }
        return false;
    }

    // "\"" characters "\"", with the escapes \" \\ \/ \b \f \n \r \t \uXXXX (pairs for
    // characters beyond the basic plane); raw control characters are refused.
    bool string(std::string& out) {
        if (!take('"')) {
            return false;
        }
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_pos >= m_text.size()) {
                return false;
            }
            const char e = m_text[m_pos++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u':
                    if (!unicodeEscape(out)) {
                        return false;
                    }
                    break;
                default:
                    return false;
            }
        }
        return false;
    }

    // -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?, finite.
    bool number(double& value) {
        const size_t start = m_pos;
        take('-');
        if (take('0')) {
        } else if (!digits()) {
            return false;
        }
        if (take('.') && !digits()) {
            return false;
        }
        if (take('e') || take('E')) {
            if (!take('+')) {
                take('-');
            }
            if (!digits()) {
                return false;
            }
        }
        const char* first = m_text.data() + start;
        const char* last = m_text.data() + m_pos;
        const auto result = std::from_chars(first, last, value);
        return result.ec == std::errc() && result.ptr == last && std::isfinite(value);
    }

  private:
    bool digits() {
        const size_t start = m_pos;
        while (m_pos < m_text.size() && m_text[m_pos] >= '0' && m_text[m_pos] <= '9') {
            ++m_pos;
        }
        return m_pos > start;
    }

    bool hex4(uint32_t& code) {
        if (m_text.size() - m_pos < 4) {
            return false;
        }
        const char* first = m_text.data() + m_pos;
        const auto result = std::from_chars(first, first + 4, code, 16);
        if (result.ec != std::errc() || result.ptr != first + 4 || first[0] == '+' ||
            first[0] == '-') {
            return false;
        }
        m_pos += 4;
        return true;
    }

    bool unicodeEscape(std::string& out) {
        uint32_t code = 0;
        if (!hex4(code)) {
            return false;
        }
        if (code >= 0xDC00 && code <= 0xDFFF) {
            return false;  // a low surrogate without its high one
        }
        if (code >= 0xD800 && code <= 0xDBFF) {
            uint32_t low = 0;
            if (!take('\\') || !take('u') || !hex4(low) || low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        appendUtf8(out, code);
        return true;
    }

    std::string_view m_text;
    size_t m_pos = 0;
};

bool readValue(Reader& reader, JsonValue& value) {
    std::string text;
    double number = 0;
    const char first = reader.peek();
    if (first == '"') {
        if (!reader.string(text)) {
            return false;
        }
        value = std::move(text);
    } else if (reader.takeWord("null")) {
        value = JsonNull{};
    } else if (reader.takeWord("true")) {
        value = true;
    } else if (reader.takeWord("false")) {
        value = false;
    } else if ((first == '-' || (first >= '0' && first <= '9')) && reader.number(number)) {
        value = number;
    } else {
        return false;
    }
    return true;
}

}  // namespace

// "{" [ member *( "," member ) ] "}", member = string ":" value, with white space around
// every token and nothing after the closing brace.
std::optional<FlatObject> parseFlatObject(std::string_view text) {
    if (!isValidUtf8(text)) {
        return std::nullopt;
    }
    Reader reader(text);
    FlatObject object;
    reader.skipSpace();
    if (!reader.take('{')) {
        return std::nullopt;
    }
    reader.skipSpace();
    if (!reader.take('}')) {
        do {
            reader.skipSpace();
            std::string key;
            JsonValue value;
            if (!reader.string(key)) {
                return std::nullopt;
            }
            reader.skipSpace();
            if (!reader.take(':')) {
                return std::nullopt;
            }
            reader.skipSpace();
            if (!readValue(reader, value) || !object.add(std::move(key), std::move(value))) {
                return std::nullopt;
            }
            reader.skipSpace();
        } while (reader.take(','));
        if (!reader.take('}')) {
            return std::nullopt;
        }
    }
    reader.skipSpace();
    if (!reader.atEnd()) {
        return std::nullopt;
    }
    return object;
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

std::string JsonWriter::finish() {
    m_text += '}';
    return std::move(m_text);
}

}  // namespace kestrel::team
