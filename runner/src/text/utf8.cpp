#include "format/utf8.hpp"

namespace runner {
namespace {

// Length of the valid UTF-8 sequence at the start of `s`, or of its maximal valid prefix
// (at least 1) as a negative number when the sequence is invalid.
int sequence_length(std::string_view s) {
    const auto b0 = static_cast<unsigned char>(s[0]);
    if (b0 < 0x80) {
        return 1;
    }
    int need = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        if (b0 == 0xE0) {
            lo = 0xA0;
        } else if (b0 == 0xED) {
            hi = 0x9F;
        }
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        if (b0 == 0xF0) {
            lo = 0x90;
        } else if (b0 == 0xF4) {
            hi = 0x8F;
        }
    } else {
        return -1;
    }
    for (int i = 1; i <= need; ++i) {
        if (static_cast<std::size_t>(i) >= s.size()) {
            return -i;
        }
        const auto b = static_cast<unsigned char>(s[static_cast<std::size_t>(i)]);
        if (b < lo || b > hi) {
            return -i;
        }
        lo = 0x80;
        hi = 0xBF;
    }
    return need + 1;
}

} // namespace

std::string utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const int length = sequence_length(bytes);
        if (length > 0) {
            out.append(bytes.substr(0, static_cast<std::size_t>(length)));
            bytes.remove_prefix(static_cast<std::size_t>(length));
        } else {
            out += "\xEF\xBF\xBD";
            bytes.remove_prefix(static_cast<std::size_t>(-length));
        }
    }
    return out;
}

} // namespace runner
