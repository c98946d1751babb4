#include "text/parse_number.hpp"

#include <limits>

namespace runner::text {

std::string_view describe(NumberError error) {
    switch (error) {
    case NumberError::Empty:
        return "cannot parse integer from empty string";
    case NumberError::InvalidDigit:
        return "invalid digit found in string";
    case NumberError::TooLarge:
        return "number too large to fit in target type";
    }
    return "invalid number";
}

std::variant<std::uint64_t, NumberError> parse_unsigned(std::string_view text) {
    if (text.empty()) {
        return NumberError::Empty;
    }
    if (text.front() == '+') {
        text.remove_prefix(1);
        if (text.empty()) {
            return NumberError::InvalidDigit;
        }
    }
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    bool too_large = false;
    // Every character is looked at, so that a stray letter is reported even after an overflow.
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return NumberError::InvalidDigit;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (max - digit) / 10) {
            too_large = true;
        } else if (!too_large) {
            value = value * 10 + digit;
        }
    }
    if (too_large) {
        return NumberError::TooLarge;
    }
    return value;
}

} // namespace runner::text
