#pragma once
// A small well-formedness checker for the map documents the program writes: UTF-8 text, legal
// XML characters, an optional declaration, one root element, matched tags, quoted and unique
// attributes, the five predefined entities and character references, comments, CDATA and
// processing instructions. No DTD is accepted (the program never writes one). It answers with
// the first fault found, or an empty text for a well-formed document.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::test {

class XmlChecker {
  public:
    explicit XmlChecker(std::string_view doc) : m_s(doc) {}

    std::string run() {
        if (!validCharacters()) {
            return m_error;
        }
        if (startsWith("<?xml") && m_s.size() > 5 && isSpace(m_s[5])) {
            if (!processingInstruction(true)) {
                return m_error;
            }
        }
        if (!misc()) {
            return m_error;
        }
        if (m_i >= m_s.size() || m_s[m_i] != '<') {
            fail("no root element");
            return m_error;
        }
        if (!rootElement() || !misc()) {
            return m_error;
        }
        if (m_i != m_s.size()) {
            fail("text after the root element");
        }
        return m_error;
    }

  private:
    std::string_view m_s;
    size_t m_i = 0;
    std::string m_error;

    bool fail(const std::string& what) {
        if (m_error.empty()) {
            m_error = what + " at byte " + std::to_string(m_i);
        }
        return false;
    }
    bool startsWith(std::string_view p) const { return m_s.substr(m_i, p.size()) == p; }
    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    void skipSpace() {
        while (m_i < m_s.size() && isSpace(m_s[m_i])) {
            ++m_i;
        }
    }
    static bool nameStart(unsigned char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' ||
               c >= 0x80;
    }
    static bool nameChar(unsigned char c) {
        return nameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
    }

    // Every byte sequence must be UTF-8 and every character one that XML 1.0 allows.
    bool validCharacters() {
        const auto* p = reinterpret_cast<const unsigned char*>(m_s.data());
        const size_t n = m_s.size();
        for (size_t i = 0; i < n;) {
            m_i = i;
            const unsigned char c = p[i];
            uint32_t cp = 0;
            size_t len = 0;
            if (c < 0x80) {
                cp = c;
                len = 1;
            } else if ((c & 0xE0) == 0xC0) {
                cp = c & 0x1F;
                len = 2;
            } else if ((c & 0xF0) == 0xE0) {
                cp = c & 0x0F;
                len = 3;
            } else if ((c & 0xF8) == 0xF0) {
                cp = c & 0x07;
                len = 4;
            } else {
                return fail("byte that starts no UTF-8 character");
            }
            if (i + len > n) {
                return fail("UTF-8 character cut short");
            }
            for (size_t k = 1; k < len; ++k) {
                if ((p[i + k] & 0xC0) != 0x80) {
                    return fail("bad UTF-8 continuation byte");
                }
                cp = (cp << 6) | (p[i + k] & 0x3F);
            }
            static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
            if (cp < kMin[len]) {
                return fail("overlong UTF-8 form");
            }
            const bool allowed = cp == 0x9 || cp == 0xA || cp == 0xD ||
                                 (cp >= 0x20 && cp <= 0xD7FF) || (cp >= 0xE000 && cp <= 0xFFFD) ||
                                 (cp >= 0x10000 && cp <= 0x10FFFF);
            if (!allowed) {
                return fail("character not allowed in XML");
            }
            i += len;
        }
        m_i = 0;
        return true;
    }

    bool name(std::string& out) {
        if (m_i >= m_s.size() || !nameStart(static_cast<unsigned char>(m_s[m_i]))) {
            return fail("name expected");
        }
        const size_t start = m_i;
        while (m_i < m_s.size() && nameChar(static_cast<unsigned char>(m_s[m_i]))) {
            ++m_i;
        }
        out.assign(m_s.substr(start, m_i - start));
        return true;
    }

    // At '&': a predefined entity or a character reference of an allowed character.
    bool reference() {
        ++m_i;
        if (m_i < m_s.size() && m_s[m_i] == '#') {
            ++m_i;
            const bool hex = m_i < m_s.size() && m_s[m_i] == 'x';
            m_i += hex ? 1 : 0;
            uint64_t cp = 0;
            size_t digits = 0;
            while (m_i < m_s.size() && m_s[m_i] != ';') {
                const char c = m_s[m_i];
                int v = -1;
                if (c >= '0' && c <= '9') {
                    v = c - '0';
                } else if (hex && c >= 'a' && c <= 'f') {
                    v = c - 'a' + 10;
                } else if (hex && c >= 'A' && c <= 'F') {
                    v = c - 'A' + 10;
                }
                if (v < 0) {
                    return fail("bad character reference");
                }
                cp = cp * (hex ? 16 : 10) + static_cast<uint64_t>(v);
                if (cp > 0x10FFFF) {
                    return fail("character reference out of range");
                }
                ++digits;
                ++m_i;
            }
            if (digits == 0 || m_i >= m_s.size()) {
                return fail("bad character reference");
            }
            ++m_i;
            const bool allowed = cp == 0x9 || cp == 0xA || cp == 0xD ||
                                 (cp >= 0x20 && cp <= 0xD7FF) || (cp >= 0xE000 && cp <= 0xFFFD) ||
                                 (cp >= 0x10000 && cp <= 0x10FFFF);
            return allowed || fail("character reference to a character XML does not allow");
        }
        std::string entity;
        if (!name(entity)) {
            return false;
        }
        if (m_i >= m_s.size() || m_s[m_i] != ';') {
            return fail("entity reference without ';'");
        }
        ++m_i;
        static const std::set<std::string> kPredefined = {"amp", "lt", "gt", "quot", "apos"};
        return kPredefined.contains(entity) || fail("undeclared entity &" + entity + ";");
    }

    bool comment() {
        m_i += 4;  // "<!--"
        const size_t end = m_s.find("--", m_i);
        if (end == std::string_view::npos) {
            return fail("comment not closed");
        }
        m_i = end;
        if (!startsWith("-->")) {
            return fail("'--' inside a comment");
        }
        m_i += 3;
        return true;
    }

    bool processingInstruction(bool declarationAllowed) {
        m_i += 2;  // "<?"
        std::string target;
        if (!name(target)) {
            return false;
        }
        const bool isXml = target.size() == 3 && (target[0] | 0x20) == 'x' &&
                           (target[1] | 0x20) == 'm' && (target[2] | 0x20) == 'l';
        if (isXml && !declarationAllowed) {
            return fail("XML declaration not at the start");
        }
        const size_t end = m_s.find("?>", m_i);
        if (end == std::string_view::npos) {
            return fail("processing instruction not closed");
        }
        if (end != m_i && !isSpace(m_s[m_i])) {
            return fail("bad processing instruction");
        }
        if (isXml && m_s.substr(m_i, end - m_i).find("version") == std::string_view::npos) {
            return fail("XML declaration without version");
        }
        m_i = end + 2;
        return true;
    }

    // Comments, processing instructions and white space outside the root element.
    bool misc() {
        for (;;) {
            skipSpace();
            if (startsWith("<!--")) {
                if (!comment()) {
                    return false;
                }
            } else if (startsWith("<?")) {
                if (!processingInstruction(false)) {
                    return false;
                }
            } else if (startsWith("<!")) {
                return fail("DOCTYPE or markup declaration");
            } else {
                return true;
            }
        }
    }

    // At '<' of a start tag. Returns with `empty` set for "<a/>".
    bool startTag(std::string& tag, bool& empty) {
        ++m_i;
        if (!name(tag)) {
            return false;
        }
        std::set<std::string> seen;
        for (;;) {
            const size_t before = m_i;
            skipSpace();
            if (m_i >= m_s.size()) {
                return fail("start tag not closed");
            }
            if (m_s[m_i] == '>') {
                ++m_i;
                empty = false;
                return true;
            }
            if (startsWith("/>")) {
                m_i += 2;
                empty = true;
                return true;
            }
            if (m_i == before) {
                return fail("white space expected before an attribute");
            }
            std::string attr;
            if (!name(attr)) {
                return false;
            }
            if (!seen.insert(attr).second) {
                return fail("attribute " + attr + " given twice");
            }
            skipSpace();
            if (m_i >= m_s.size() || m_s[m_i] != '=') {
                return fail("'=' expected after attribute " + attr);
            }
            ++m_i;
            skipSpace();
            if (m_i >= m_s.size() || (m_s[m_i] != '"' && m_s[m_i] != '\'')) {
                return fail("quoted attribute value expected");
            }
            const char quote = m_s[m_i++];
            while (m_i < m_s.size() && m_s[m_i] != quote) {
                if (m_s[m_i] == '<') {
                    return fail("'<' inside an attribute value");
                }
                if (m_s[m_i] == '&') {
                    if (!reference()) {
                        return false;
                    }
                } else {
                    ++m_i;
                }
            }
            if (m_i >= m_s.size()) {
                return fail("attribute value not closed");
            }
            ++m_i;
        }
    }

    // The root element and everything in it, without recursion (a hostile document may nest
    // deeper than the stack allows).
    bool rootElement() {
        std::vector<std::string> open;
        std::string tag;
        bool empty = false;
        if (!startTag(tag, empty)) {
            return false;
        }
        if (empty) {
            return true;
        }
        open.push_back(tag);
        while (!open.empty()) {
            if (m_i >= m_s.size()) {
                return fail("element <" + open.back() + "> not closed");
            }
            const char c = m_s[m_i];
            if (c == '&') {
                if (!reference()) {
                    return false;
                }
            } else if (c != '<') {
                if (startsWith("]]>")) {
                    return fail("']]>' in text");
                }
                ++m_i;
            } else if (startsWith("</")) {
                m_i += 2;
                std::string closing;
                if (!name(closing)) {
                    return false;
                }
                skipSpace();
                if (m_i >= m_s.size() || m_s[m_i] != '>') {
                    return fail("end tag not closed");
                }
                ++m_i;
                if (closing != open.back()) {
                    return fail("</" + closing + "> closes <" + open.back() + ">");
                }
                open.pop_back();
            } else if (startsWith("<!--")) {
                if (!comment()) {
                    return false;
                }
            } else if (startsWith("<![CDATA[")) {
                const size_t end = m_s.find("]]>", m_i + 9);
                if (end == std::string_view::npos) {
                    return fail("CDATA not closed");
                }
                m_i = end + 3;
            } else if (startsWith("<?")) {
                if (!processingInstruction(false)) {
                    return false;
                }
            } else if (startsWith("<!")) {
                return fail("markup declaration inside an element");
            } else {
                if (!startTag(tag, empty)) {
                    return false;
                }
                if (!empty) {
                    open.push_back(tag);
                }
            }
        }
        return true;
    }
};

// Empty when `doc` is a well-formed XML document; otherwise the first fault and where.
inline std::string xmlProblem(std::string_view doc) {
    return XmlChecker(doc).run();
}

}  // namespace kestrel::test
