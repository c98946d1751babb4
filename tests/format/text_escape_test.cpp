// Escaping of arbitrary check output for JSON strings and XML text and attributes.
#include "format/text_escape.hpp"
#include "text/utf8.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using runner::append_json_string;
using runner::append_xml_attribute;
using runner::append_xml_text;

std::string json(std::string_view bytes) {
    std::string out;
    append_json_string(out, bytes);
    return out;
}

std::string xml_text(std::string_view bytes) {
    std::string out;
    append_xml_text(out, bytes);
    return out;
}

std::string xml_attr(std::string_view bytes) {
    std::string out;
    append_xml_attribute(out, bytes);
    return out;
}

// Strict UTF-8 decoding, written independently of the code under test: the code points, or
// nothing when the bytes are not valid UTF-8.
std::optional<std::vector<char32_t>> decode_strict(std::string_view s) {
    std::vector<char32_t> cps;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t n = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (b < 0x80) {
            n = 1, cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            n = 2, cp = b & 0x1Fu, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            n = 3, cp = b & 0x0Fu, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            n = 4, cp = b & 0x07u, min = 0x10000;
        } else {
            return std::nullopt;
        }
        if (i + n > s.size()) {
            return std::nullopt;
        }
        for (std::size_t k = 1; k < n; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) {
                return std::nullopt;
            }
            cp = (cp << 6) | (c & 0x3Fu);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return std::nullopt;
        }
        cps.push_back(cp);
        i += n;
    }
    return cps;
}

// The Char production of XML 1.0.
bool is_xml_char(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

std::vector<std::string> hostile_samples() {
    std::vector<std::string> samples = {
        std::string("nul\0inside", 10),
        "\x1b[31mred\x1b[0m",
        "]]> <a href=\"x\">&amp;</a> 'q'",
        "\xff\xfe\xfd",
        "\xe2\x82",         // cut three-byte sequence
        "\xf0\x9f\x98",     // cut four-byte sequence
        "\xed\xa0\x80",     // surrogate
        "\xc0\xaf",         // overlong slash
        "\xf4\x90\x80\x80", // above U+10FFFF
        "\xef\xbf\xbe\xef\xbf\xbf",
        "tab\there\r\nnext line\x7f\x08\x0c",
        "\xe2\x80\xa8\xe2\x80\xa9",
        "caf\xc3\xa9 \xf0\x9f\x98\x80",
    };
    std::mt19937 rng(20260105);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int n = 0; n < 200; ++n) {
        std::string s;
        for (int i = 0; i < 40; ++i) {
            s.push_back(static_cast<char>(byte(rng)));
        }
        samples.push_back(s);
    }
    for (int b = 0; b < 256; ++b) {
        samples.emplace_back(1, static_cast<char>(b));
    }
    return samples;
}

TEST(JsonString, EscapesQuotesBackslashesAndControlCharacters) {
    EXPECT_EQ(json("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(json("1\n2\r3\t4\b5\f"), R"("1\n2\r3\t4\b5\f")");
    EXPECT_EQ(json(std::string_view("\x1b[31m\0\x7f", 7)), R"("\u001b[31m\u0000\u007f")");
    EXPECT_EQ(json("\xe2\x80\xa8"), R"("\u2028")");
}

TEST(JsonString, KeepsValidUtf8AndReplacesEachInvalidSequenceOnce) {
    EXPECT_EQ(json("caf\xc3\xa9 \xf0\x9f\x98\x80"), "\"caf\xc3\xa9 \xf0\x9f\x98\x80\"");
    // A cut sequence is one replacement; the byte after it is kept.
    EXPECT_EQ(json("\xe2\x82"
                   "A"),
              "\"\xef\xbf\xbd"
              "A\"");
    // Two stray bytes are two replacements.
    EXPECT_EQ(json("\xff\xfe"), "\"\xef\xbf\xbd\xef\xbf\xbd\"");
    // A surrogate encoding is not UTF-8.
    EXPECT_EQ(json("\xed\xa0\x80").find("\xed\xa0"), std::string::npos);
}

TEST(JsonString, AnyBytesGiveValidUtf8WithoutRawControlCharacters) {
    for (const auto& sample : hostile_samples()) {
        const std::string out = json(sample);
        const auto cps = decode_strict(out);
        ASSERT_TRUE(cps) << "not UTF-8 for sample of " << sample.size() << " bytes";
        ASSERT_GE(cps->size(), 2u);
        EXPECT_EQ(cps->front(), U'"');
        EXPECT_EQ(cps->back(), U'"');
        bool escaped = false;
        for (std::size_t i = 1; i + 1 < cps->size(); ++i) {
            const char32_t c = (*cps)[i];
            EXPECT_GE(c, 0x20u) << "raw control character in " << out;
            if (!escaped) {
                EXPECT_NE(c, U'"') << "unescaped quote in " << out;
            }
            escaped = !escaped && c == U'\\';
        }
        EXPECT_FALSE(escaped) << "string ends inside an escape: " << out;
    }
}

TEST(XmlText, EscapesMarkupAndShowsForbiddenCharactersVisibly) {
    EXPECT_EQ(xml_text("a < b && c > d ]]> \"q\""), "a &lt; b &amp;&amp; c &gt; d ]]&gt; \"q\"");
    // ESC and NUL become their control pictures; tab and line feed stay.
    EXPECT_EQ(xml_text(std::string_view("\x1b[0m\0\t\n", 7)), "\xe2\x90\x9b[0m\xe2\x90\x80\t\n");
    // A carriage return survives end-of-line normalisation only as a reference.
    EXPECT_EQ(xml_text("a\r\nb"), "a&#13;\nb");
    // Non-characters U+FFFE and U+FFFF are not XML characters.
    EXPECT_EQ(xml_text("\xef\xbf\xbe\xef\xbf\xbf"), "\xef\xbf\xbd\xef\xbf\xbd");
}

TEST(XmlAttribute, EscapesQuotesAndLineBreaks) {
    EXPECT_EQ(xml_attr("say \"hi\" & <go>"), "say &quot;hi&quot; &amp; &lt;go&gt;");
    EXPECT_EQ(xml_attr("one\ntwo\tthree\r"), "one&#10;two&#9;three&#13;");
}

TEST(Xml, AnyBytesGiveOnlyXmlCharactersAndNoMarkup) {
    for (const auto& sample : hostile_samples()) {
        for (const bool attribute : {false, true}) {
            const std::string out = attribute ? xml_attr(sample) : xml_text(sample);
            const auto cps = decode_strict(out);
            ASSERT_TRUE(cps) << "not UTF-8";
            for (const char32_t c : *cps) {
                EXPECT_TRUE(is_xml_char(c)) << "U+" << std::hex << static_cast<unsigned>(c);
                EXPECT_NE(c, U'<');
                EXPECT_NE(c, U'>');
                if (attribute) {
                    EXPECT_NE(c, U'"');
                    EXPECT_NE(c, U'\n');
                }
            }
            EXPECT_EQ(out.find("]]>"), std::string::npos);
        }
    }
}

TEST(Utf8Bounds, PrefixAndSuffixNeverCutASequence) {
    const std::string text = "ab\xe2\x82\xac"
                             "cd\xf0\x9f\x98\x80";
    // Cuts inside the euro sign and the emoji step back to the sequence boundary.
    EXPECT_EQ(runner::text::utf8_prefix(text, 3), "ab");
    EXPECT_EQ(runner::text::utf8_prefix(text, 4), "ab");
    EXPECT_EQ(runner::text::utf8_prefix(text, 5), "ab\xe2\x82\xac");
    EXPECT_EQ(runner::text::utf8_prefix(text, 100), text);
    EXPECT_EQ(runner::text::utf8_suffix(text, 3), "");
    EXPECT_EQ(runner::text::utf8_suffix(text, 4), "\xf0\x9f\x98\x80");
    EXPECT_EQ(runner::text::utf8_suffix(text, 9), "\xe2\x82\xac"
                                                  "cd\xf0\x9f\x98\x80");
    EXPECT_EQ(runner::text::utf8_suffix(text, 6), "cd\xf0\x9f\x98\x80");
}

} // namespace
