#pragma once
// Text for the map documents: element text with XML's reserved characters escaped, and lines
// ended with CR LF as every file of the program is.

#include <string>
#include <string_view>

namespace kestrel {

// Escapes the five characters XML reserves, so text from anywhere (a vehicle name from the
// network, a reason) can stand inside an element or an attribute.
inline void appendXmlEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
}

inline void appendCrLfLine(std::string& out, std::string_view line) {
    out += line;
    out += "\r\n";
}

}  // namespace kestrel
