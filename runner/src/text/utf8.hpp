// Walking UTF-8: captured output, names and arguments are arbitrary bytes, and every report and
// error message reads them as UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace runner::text {

// The character at the start of a text.
struct Utf8Char {
    std::size_t length = 0; // bytes of the character; of an invalid sequence, its maximal
                            // valid prefix (at least 1)
    bool valid = false;
    char32_t code_point = 0; // when valid
};

// Decodes the character at the start of `bytes`, which must not be empty.
Utf8Char utf8_next(std::string_view bytes);

// Calls `each(code_point, encoded)` for every character of `bytes`, with U+FFFD for each
// invalid sequence (its maximal valid prefix); `encoded` is the character as valid UTF-8.
template <class Each>
void for_each_utf8(std::string_view bytes, Each&& each) {
    while (!bytes.empty()) {
        const Utf8Char c = utf8_next(bytes);
        if (c.valid) {
            each(c.code_point, bytes.substr(0, c.length));
        } else {
            each(U'\uFFFD', std::string_view("\xEF\xBF\xBD"));
        }
        bytes.remove_prefix(c.length);
    }
}

// `bytes` as UTF-8, each invalid sequence (its maximal valid prefix) replaced by U+FFFD.
std::string utf8_lossy(std::string_view bytes);

// The longest start (or end) of `bytes` of at most `max_bytes` that does not cut a character.
std::string_view utf8_prefix(std::string_view bytes, std::size_t max_bytes);
std::string_view utf8_suffix(std::string_view bytes, std::size_t max_bytes);

} // namespace runner::text
