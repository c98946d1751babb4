// Text forms of values in failure messages: floats as the shortest decimal that reads back as
// the same value, written positionally.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "runner/check.hpp"

namespace runner {
namespace {

// The sampled test below proves the digits; these pin down the written shape.
TEST(DisplayFloat, positional_with_a_point_only_for_fractions) {
    EXPECT_EQ(display(100.0f), "100");
    EXPECT_EQ(display(-0.0f), "-0");
    EXPECT_EQ(display(0.1f), "0.1");
    EXPECT_EQ(display(-2.5f), "-2.5");
    EXPECT_EQ(display(std::atan(1.0f)), "0.7853982");
    // The shortest digits, not the exact binary value 100000002004087734272.
    EXPECT_EQ(display(1e20f), "100000000000000000000");
    EXPECT_EQ(display(-std::numeric_limits<float>::denorm_min()),
              "-0.000000000000000000000000000000000000000000001");
}

TEST(DisplayFloat, special_values) {
    EXPECT_EQ(display(std::numeric_limits<float>::quiet_NaN()), "NaN");
    EXPECT_EQ(display(-std::numeric_limits<float>::quiet_NaN()), "NaN");
    EXPECT_EQ(display(std::numeric_limits<float>::infinity()), "inf");
    EXPECT_EQ(display(-std::numeric_limits<float>::infinity()), "-inf");
}

TEST(DisplayDouble, follows_the_same_rules) {
    EXPECT_EQ(display(0.1), "0.1");
    EXPECT_EQ(display(-0.0), "-0");
    EXPECT_EQ(display(1e20), "100000000000000000000");
    EXPECT_EQ(display(std::numeric_limits<double>::infinity()), "inf");
}

// The significant digits of a decimal text, without sign, point, or leading and trailing zeros.
std::string significant_digits(std::string_view text) {
    std::string digits;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            digits.push_back(c);
        }
    }
    const auto first = digits.find_first_not_of('0');
    if (first == std::string::npos) {
        return "";
    }
    digits.erase(0, first);
    digits.erase(digits.find_last_not_of('0') + 1);
    return digits;
}

// For every finite float: the text reads back to the same bits, has no exponent, has a point
// only when the value is not whole, and carries exactly the shortest round-trip digits.
void expect_displays_exactly(float value) {
    const std::string text = display(value);
    ASSERT_EQ(text.find_first_of("eE"), std::string::npos) << text;
    const float back = std::strtof(text.c_str(), nullptr);
    ASSERT_EQ(std::bit_cast<std::uint32_t>(back), std::bit_cast<std::uint32_t>(value)) << text;
    const bool whole =
        std::bit_cast<std::uint32_t>(std::trunc(value)) == std::bit_cast<std::uint32_t>(value);
    ASSERT_EQ(text.find('.') == std::string::npos, whole) << text;

    char shortest[64];
    const auto written =
        std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::scientific);
    const std::string_view scientific(shortest, static_cast<std::size_t>(written.ptr - shortest));
    ASSERT_EQ(significant_digits(text),
              significant_digits(scientific.substr(0, scientific.find('e'))))
        << text << " vs " << scientific;
}

TEST(DisplayFloat, every_sampled_float_round_trips_with_shortest_digits) {
    // An even spread over all bit patterns, both signs, subnormals and the largest values.
    for (std::uint64_t bits = 0; bits <= 0xFFFFFFFFu; bits += 40009) {
        const float value = std::bit_cast<float>(static_cast<std::uint32_t>(bits));
        if (std::isfinite(value)) {
            expect_displays_exactly(value);
        }
    }
    std::mt19937 random(20240611);
    std::uniform_real_distribution<float> terrain(-1000.0f, 1000.0f);
    for (int i = 0; i < 20000; ++i) {
        expect_displays_exactly(terrain(random));
    }
    for (const float edge : {FLT_MAX, -FLT_MAX, FLT_MIN, std::nextafter(FLT_MIN, 0.0f),
                             std::numeric_limits<float>::denorm_min(), 8388607.5f, 0.5f}) {
        expect_displays_exactly(edge);
    }
}

TEST(Format, fills_placeholders_in_order_and_keeps_escaped_braces) {
    EXPECT_EQ(format("height {} at ({}, {})", 39.999996f, 12, -0.0f),
              "height 39.999996 at (12, -0)");
    EXPECT_EQ(format("{{literal}} {}", true), "{literal} true");
    EXPECT_EQ(format("text {} stays", std::string("as is")), "text as is stays");
    EXPECT_EQ(format("no placeholders"), "no placeholders");
}

TEST(DebugQuoted, escapes_quotes_backslashes_and_control_characters) {
    EXPECT_EQ(debug_quoted("plain"), "\"plain\"");
    EXPECT_EQ(debug_quoted("a \"b\"\n\\"), "\"a \\\"b\\\"\\n\\\\\"");
}

} // namespace
} // namespace runner
