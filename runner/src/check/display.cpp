// Text forms of values in failure messages.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "runner/check.hpp"

namespace runner {
namespace {

// Places the shortest round-trip digits of `value` positionally: std::to_chars in scientific
// form gives the shortest digits, and fixed form would print the exact binary value instead
// (1e20f as 100000002004087734272 rather than 100000000000000000000).
template <class Float>
std::string positional_shortest(Float value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-inf" : "inf";
    }
    char buffer[64];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    (void)ec; // the buffer is large enough for any float or double
    const std::string_view text(buffer, static_cast<std::size_t>(end - buffer));

    const std::size_t e_pos = text.find('e');
    std::string_view mantissa = text.substr(0, e_pos);
    int exponent = 0;
    const std::string_view exp_text = text.substr(e_pos + 1);
    const char* exp_begin = exp_text.data() + (exp_text.front() == '+' ? 1 : 0);
    std::from_chars(exp_begin, exp_text.data() + exp_text.size(), exponent);

    std::string result;
    if (mantissa.front() == '-') {
        result.push_back('-');
        mantissa.remove_prefix(1);
    }
    std::string digits;
    for (const char c : mantissa) {
        if (c != '.') {
            digits.push_back(c);
        }
    }
    // The number is 0.DIGITS times 10^(exponent + 1): `point` digits stand before the point.
    const long point = static_cast<long>(exponent) + 1;
    const auto count = static_cast<long>(digits.size());
    if (point <= 0) {
        result += "0.";
        result.append(static_cast<std::size_t>(-point), '0');
        result += digits;
    } else if (point >= count) {
        result += digits;
        result.append(static_cast<std::size_t>(point - count), '0');
    } else {
        result.append(digits, 0, static_cast<std::size_t>(point));
        result.push_back('.');
        result.append(digits, static_cast<std::size_t>(point));
    }
    return result;
}

} // namespace

std::string display(float value) {
    return positional_shortest(value);
}
std::string display(double value) {
    return positional_shortest(value);
}
std::string display(std::string_view text) {
    return std::string(text);
}

std::string debug_quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\0':
            out += "\\0";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                char escaped[16];
                std::snprintf(escaped, sizeof escaped, "\\u{%x}", static_cast<unsigned char>(c));
                out += escaped;
            } else {
                out.push_back(c);
            }
        }
    }
    out.push_back('"');
    return out;
}

std::string format_pieces(std::string_view pattern, const std::string* pieces, std::size_t count) {
    std::string out;
    out.reserve(pattern.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        const bool has_next = i + 1 < pattern.size();
        if (c == '{' && has_next && pattern[i + 1] == '{') {
            out.push_back('{');
            ++i;
        } else if (c == '}' && has_next && pattern[i + 1] == '}') {
            out.push_back('}');
            ++i;
        } else if (c == '{' && has_next && pattern[i + 1] == '}' && next < count) {
            out += pieces[next++];
            ++i;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

} // namespace runner
