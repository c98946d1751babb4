#include "format/text_escape.hpp"

#include "text/utf8.hpp"

namespace runner {
namespace {

constexpr char32_t replacement_char = 0xFFFD;

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0U | (cp >> 6U)));
        out.push_back(static_cast<char>(0x80U | (cp & 0x3FU)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0U | (cp >> 12U)));
        out.push_back(static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU)));
        out.push_back(static_cast<char>(0x80U | (cp & 0x3FU)));
    } else {
        out.push_back(static_cast<char>(0xF0U | (cp >> 18U)));
        out.push_back(static_cast<char>(0x80U | ((cp >> 12U) & 0x3FU)));
        out.push_back(static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU)));
        out.push_back(static_cast<char>(0x80U | (cp & 0x3FU)));
    }
}

constexpr char hex_digits[] = "0123456789abcdef";

void append_json_escape(std::string& out, char32_t cp) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) {
        out.push_back(hex_digits[(cp >> static_cast<unsigned>(shift)) & 0xFU]);
    }
}

// The visible stand-in XML gets for a character it does not allow.
char32_t xml_substitute(char32_t cp) {
    if (cp < 0x20) {
        return 0x2400 + cp; // SYMBOL FOR NULL ... SYMBOL FOR UNIT SEPARATOR
    }
    if (cp == 0x7F) {
        return 0x2421; // SYMBOL FOR DELETE
    }
    return replacement_char; // U+FFFE, U+FFFF
}

void append_xml(std::string& out, std::string_view bytes, bool attribute) {
    text::for_each_utf8(bytes, [&](char32_t cp, std::string_view raw) {
        switch (cp) {
        case '&':
            out += "&amp;";
            return;
        case '<':
            out += "&lt;";
            return;
        case '>':
            out += "&gt;";
            return;
        case '"':
            out += attribute ? "&quot;" : "\"";
            return;
        case '\r':
            out += "&#13;";
            return;
        case '\n':
            out += attribute ? "&#10;" : "\n";
            return;
        case '\t':
            out += attribute ? "&#9;" : "\t";
            return;
        default:
            break;
        }
        if (cp < 0x20 || cp == 0x7F || cp == 0xFFFE || cp == 0xFFFF) {
            append_utf8(out, xml_substitute(cp));
        } else {
            out.append(raw);
        }
    });
}

} // namespace

void append_json_string(std::string& out, std::string_view bytes) {
    out.push_back('"');
    text::for_each_utf8(bytes, [&](char32_t cp, std::string_view raw) {
        switch (cp) {
        case '"':
            out += "\\\"";
            return;
        case '\\':
            out += "\\\\";
            return;
        case '\n':
            out += "\\n";
            return;
        case '\r':
            out += "\\r";
            return;
        case '\t':
            out += "\\t";
            return;
        case '\b':
            out += "\\b";
            return;
        case '\f':
            out += "\\f";
            return;
        default:
            break;
        }
        // U+2028 and U+2029 are valid JSON but end a line for JavaScript readers.
        if (cp < 0x20 || cp == 0x7F || cp == 0x2028 || cp == 0x2029) {
            append_json_escape(out, cp);
        } else {
            out.append(raw);
        }
    });
    out.push_back('"');
}

void append_xml_text(std::string& out, std::string_view bytes) {
    append_xml(out, bytes, false);
}

void append_xml_attribute(std::string& out, std::string_view bytes) {
    append_xml(out, bytes, true);
}

} // namespace runner
