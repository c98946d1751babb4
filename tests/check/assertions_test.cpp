// The comparing assertions: each failure text compared whole, and the position of the call.
// One table per family; every row also says whether the assertion holds.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "runner/check.hpp"

namespace {

struct Row {
    int line; // of the assertion, or 0 when it holds
    std::function<void()> body;
    std::string failure; // empty when the assertion holds
};

void expect_rows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.failure.empty() ? std::string("a row that holds") : row.failure);
        std::optional<runner::Panic> caught;
        try {
            row.body();
        } catch (const runner::Panic& panic) {
            caught = panic;
        }
        if (row.failure.empty()) {
            EXPECT_FALSE(caught) << caught->payload().message();
            continue;
        }
        ASSERT_TRUE(caught);
        EXPECT_EQ(caught->payload().message(), row.failure);
        EXPECT_EQ(caught->location().file, "tests/check/assertions_test.cpp");
        EXPECT_EQ(caught->location().line, static_cast<std::uint32_t>(row.line));
    }
}

enum class Cell : unsigned char { Empty = 0, Road = 7 };

TEST(Assertions, Relations) {
    const int k = 3;
    const unsigned size = 2;
    const std::string name = "ridge\n";
    expect_rows({
        {0, [&] { SARNIVELLE_ASSERT_NE(k, 4); }, ""},
        {0, [&] { SARNIVELLE_ASSERT_LT(-1, size); }, ""}, // by value, not as unsigned
        {0, [&] { SARNIVELLE_ASSERT_GE(k, 3, "never shown"); }, ""},
        {__LINE__, [&] { SARNIVELLE_ASSERT_NE(k, 3); },
         "assertion `k != 3` failed\n  left: 3\n right: 3"},
        {__LINE__, [&] { SARNIVELLE_ASSERT_LT(size, -1); },
         "assertion `size < -1` failed\n  left: 2\n right: -1"},
        {__LINE__, [&] { SARNIVELLE_ASSERT_LE(k + 1, k, "at cell ({}, {})", 3, 4.5f); },
         "assertion `k + 1 <= k` failed: at cell (3, 4.5)\n  left: 4\n right: 3"},
        {__LINE__, [&] { SARNIVELLE_ASSERT_GT(0.1f + 0.2f, 0.3f); },
         "assertion `0.1f + 0.2f > 0.3f` failed\n  left: 0.3\n right: 0.3"},
        {__LINE__, [&] { SARNIVELLE_ASSERT_LE(name, std::string("ridge\t")); },
         "assertion `name <= std::string(\"ridge\\t\")` failed\n  left: \"ridge\\n\"\n"
         " right: \"ridge\\t\""},
        {__LINE__, [&] { SARNIVELLE_ASSERT_NE(Cell::Road, Cell::Road); },
         "assertion `Cell::Road != Cell::Road` failed\n  left: 7\n right: 7"},
    });
}

TEST(Assertions, NearAndUlps) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float z = 62.000008f;
    expect_rows({
        {0, [&] { SARNIVELLE_ASSERT_NEAR(z, 62.0f, 1e-5f); }, ""},
        {0, [&] { SARNIVELLE_ASSERT_ULPS(z, 62.0f, 2); }, ""},
        {0, [&] { SARNIVELLE_ASSERT_ULPS(-0.0, 0.0, 0); }, ""},
        {0, [&] { SARNIVELLE_ASSERT_ULPS(inf, inf, 0); }, ""},
        {0, [&] { SARNIVELLE_ASSERT_ULPS(-1e-45f, 1e-45f, 2); }, ""}, // across zero
        // Strictly less: a difference equal to the tolerance fails.
        {__LINE__, [&] { SARNIVELLE_ASSERT_NEAR(0.75f, 0.5f, 0.25f); },
         "assertion `|0.75f - 0.5f| < 0.25f` failed\n  left: 0.75\n right: 0.5\n"
         "  diff: 0.25 (tolerance 0.25)"},
        // Taken in the common type of the three, here double: as floats the two are equal.
        {__LINE__, [&] { SARNIVELLE_ASSERT_NEAR(0.1f, 0.1, 1e-9, "step {}", 2); },
         "assertion `|0.1f - 0.1| < 1e-9` failed: step 2\n  left: 0.1\n right: 0.1\n"
         "  diff: 0.0000000014901161138336505 (tolerance 0.000000001)"},
        {__LINE__, [&] { SARNIVELLE_ASSERT_NEAR(nan, 0.0f, inf); },
         "assertion `|nan - 0.0f| < inf` failed\n  left: NaN\n right: 0\n"
         "  diff: NaN (tolerance inf)"},
        {__LINE__, [&] { SARNIVELLE_ASSERT_NEAR(inf, inf, 1.0); },
         "assertion `|inf - inf| < 1.0` failed\n  left: inf\n right: inf\n"
         "  diff: NaN (tolerance 1)"},
        {__LINE__, [&] { SARNIVELLE_ASSERT_ULPS(z, 62.0f, 1); },
         "assertion `ulps(z, 62.0f) <= 1` failed\n  left: 62.000008\n right: 62\n"
         "  ulps: 2 (at most 1)"},
        {__LINE__, [&] { SARNIVELLE_ASSERT_ULPS(-1e-45f, 1e-45f, 1); },
         "assertion `ulps(-1e-45f, 1e-45f) <= 1` failed\n  left: "
         "-0.000000000000000000000000000000000000000000001\n"
         " right: 0.000000000000000000000000000000000000000000001\n  ulps: 2 (at most 1)"},
        {__LINE__, [&] { SARNIVELLE_ASSERT_ULPS(0.1 + 0.2, 0.3, 0, "sum"); },
         "assertion `ulps(0.1 + 0.2, 0.3) <= 0` failed: sum\n  left: 0.30000000000000004\n"
         " right: 0.3\n  ulps: 1 (at most 0)"},
        {__LINE__, [&] { SARNIVELLE_ASSERT_ULPS(nan, nan, 1000); },
         "assertion `ulps(nan, nan) <= 1000` failed\n  left: NaN\n right: NaN\n"
         "  ulps: none, a NaN never passes (at most 1000)"},
    });
}

int parse(const std::string& text) {
    return std::stoi(text);
}

constexpr int fail_inside_line = __LINE__ + 2;
void fail_inside() {
    SARNIVELLE_ASSERT(false);
}

TEST(Assertions, Throws) {
    expect_rows({
        {0, [] { SARNIVELLE_ASSERT_THROWS(parse("x"), std::invalid_argument); }, ""},
        {0, [] { SARNIVELLE_ASSERT_THROWS(parse("x"), std::logic_error); }, ""}, // a base
        {0, [] { SARNIVELLE_ASSERT_NO_THROW(parse("12")); }, ""},
        {__LINE__, [] { SARNIVELLE_ASSERT_THROWS(parse("12"), std::invalid_argument); },
         "assertion `parse(\"12\")` throws `std::invalid_argument` failed\n threw: nothing"},
        {__LINE__, [] { SARNIVELLE_ASSERT_THROWS(parse("1e99"), std::out_of_range, "big"); },
         "assertion `parse(\"1e99\")` throws `std::out_of_range` failed: big\n threw: nothing"},
        {__LINE__, [] { SARNIVELLE_ASSERT_THROWS(parse("9999999999"), std::invalid_argument); },
         "assertion `parse(\"9999999999\")` throws `std::invalid_argument` failed\n"
         " threw: std::out_of_range(\"stoi\")"},
        {__LINE__, [] { SARNIVELLE_ASSERT_NO_THROW(throw 7); },
         "assertion `throw 7` throws nothing failed\n threw: int"},
        {__LINE__, [] { SARNIVELLE_ASSERT_NO_THROW(parse(""), "empty {}", "text"); },
         "assertion `parse(\"\")` throws nothing failed: empty text\n"
         " threw: std::invalid_argument(\"stoi\")"},
        // A failing assertion inside the expression fails as it is.
        {fail_inside_line, [] { SARNIVELLE_ASSERT_THROWS(fail_inside(), std::exception); },
         "assertion failed: false"},
    });
}

} // namespace
