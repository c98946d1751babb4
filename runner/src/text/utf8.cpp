#include "text/utf8.hpp"

namespace runner::text {
namespace {

bool is_continuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0U) == 0x80U;
}

} // namespace

Utf8Char utf8_next(std::string_view s) {
    const auto b0 = static_cast<unsigned char>(s[0]);
    if (b0 < 0x80) {
        return {1, true, b0};
    }
    std::size_t need = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    char32_t cp = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        cp = b0 & 0x1FU;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        cp = b0 & 0x0FU;
        if (b0 == 0xE0) {
            lo = 0xA0;
        } else if (b0 == 0xED) {
            hi = 0x9F;
        }
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        cp = b0 & 0x07U;
        if (b0 == 0xF0) {
            lo = 0x90;
        } else if (b0 == 0xF4) {
            hi = 0x8F;
        }
    } else {
        return {1, false, 0};
    }
    for (std::size_t i = 1; i <= need; ++i) {
        if (i >= s.size()) {
            return {i, false, 0};
        }
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < lo || b > hi) {
            return {i, false, 0};
        }
        cp = (cp << 6U) | (b & 0x3FU);
        lo = 0x80;
        hi = 0xBF;
    }
    return {need + 1, true, cp};
}

std::string utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const Utf8Char c = utf8_next(bytes);
        if (c.valid) {
            out.append(bytes.substr(0, c.length));
        } else {
            out += "\xEF\xBF\xBD";
        }
        bytes.remove_prefix(c.length);
    }
    return out;
}

std::string_view utf8_prefix(std::string_view bytes, std::size_t max_bytes) {
    if (bytes.size() <= max_bytes) {
        return bytes;
    }
    std::size_t end = max_bytes;
    // Step back over the continuation bytes of a sequence cut at `end`, and over its lead.
    std::size_t back = 0;
    while (end > 0 && back < 3 && is_continuation(bytes[end])) {
        --end;
        ++back;
    }
    return bytes.substr(0, end);
}

std::string_view utf8_suffix(std::string_view bytes, std::size_t max_bytes) {
    if (bytes.size() <= max_bytes) {
        return bytes;
    }
    std::size_t start = bytes.size() - max_bytes;
    std::size_t skipped = 0;
    while (start < bytes.size() && skipped < 3 && is_continuation(bytes[start])) {
        ++start;
        ++skipped;
    }
    return bytes.substr(start);
}

} // namespace runner::text
