// Reading unsigned decimal numbers from option values and environment variables.
#pragma once

#include <cstdint>
#include <string_view>
#include <variant>

namespace runner::text {

enum class NumberError { Empty, InvalidDigit, TooLarge };

// The words that describe why a text is not a number, as error messages show them.
std::string_view describe(NumberError error);

// An unsigned 64-bit decimal number: an optional leading "+", then digits only.
std::variant<std::uint64_t, NumberError> parse_unsigned(std::string_view text);

} // namespace runner::text
