#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "registry_checks.hpp"
#include "select/select.hpp"

namespace runner {
namespace {

using testing::check_named;
using testing::names_of;
using testing::registry_checks;

// Registry positions after shuffling, as a second implementation of the shuffle (written in
// another language, over another SipHash-1-3) computes them.
std::vector<std::size_t> shuffled_positions(std::uint64_t seed) {
    const auto names = testing::registry_names();
    auto checks = registry_checks();
    shuffle_tests(seed, checks);
    std::vector<std::size_t> positions;
    for (const auto& check : checks) {
        const auto found = std::find(names.begin(), names.end(), check.desc.name);
        positions.push_back(static_cast<std::size_t>(found - names.begin()));
    }
    return positions;
}

TEST(Shuffle, key_covers_count_names_and_kinds) {
    EXPECT_EQ(shuffle_key(registry_checks()), 0x73fb9ccef5d4c3eaULL);

    auto checks = registry_checks();
    std::swap(checks[0], checks[1]);
    EXPECT_NE(shuffle_key(checks), 0x73fb9ccef5d4c3eaULL) << "the order enters the key";
    checks = registry_checks();
    checks.back().kind = TestFnKind::DynBenchFn;
    EXPECT_NE(shuffle_key(checks), 0x73fb9ccef5d4c3eaULL) << "a benchmark is marked";
}

TEST(Shuffle, orders_match_the_second_implementation) {
    using Positions = std::vector<std::size_t>;
    EXPECT_EQ(shuffled_positions(0), (Positions{5, 15, 22, 1,  24, 7, 21, 8, 19, 13, 12, 23, 3, 17,
                                                9, 10, 6,  11, 25, 4, 20, 2, 26, 18, 14, 16, 0}));
    EXPECT_EQ(shuffled_positions(42),
              (Positions{17, 10, 23, 1,  12, 7,  3,  13, 0, 21, 25, 26, 15, 5,
                         19, 9,  6,  14, 8,  11, 22, 24, 4, 16, 20, 18, 2}));
    EXPECT_EQ(shuffled_positions(UINT64_MAX),
              (Positions{0,  18, 4, 7, 15, 10, 8,  2,  22, 1,  23, 19, 16, 12,
                         13, 11, 6, 5, 20, 9,  26, 24, 25, 14, 17, 21, 3}));
}

TEST(Shuffle, empty_and_single_runs_stay_as_they_are) {
    std::vector<TestDescAndFn> none;
    shuffle_tests(1, none);
    EXPECT_TRUE(none.empty());
    std::vector<TestDescAndFn> one;
    one.push_back(check_named("a"));
    shuffle_tests(1, one);
    EXPECT_EQ(names_of(one), (std::vector<std::string>{"a"}));
}

TEST(ShuffleSeed, given_seed_else_clock_when_shuffling) {
    TestOpts opts;
    EXPECT_EQ(get_shuffle_seed(opts), std::nullopt);

    opts.shuffle_seed = 0;
    EXPECT_EQ(get_shuffle_seed(opts), 0u);

    opts.shuffle_seed.reset();
    opts.shuffle = true;
    const auto before =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count());
    const auto seed = get_shuffle_seed(opts);
    ASSERT_TRUE(seed.has_value());
    EXPECT_GE(*seed, before);
}

} // namespace
} // namespace runner
