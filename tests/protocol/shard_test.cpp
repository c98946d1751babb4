// Shares of a sharded selection: check k of the selection (after filters and skips) belongs to
// shard k mod total.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "registry_checks.hpp"
#include "select/select.hpp"

namespace runner {
namespace {

using Names = std::vector<std::string>;

Names select(const TestOpts& opts) {
    return testing::names_of(filter_tests(opts, testing::registry_checks()));
}

struct ShardCase {
    const char* what;
    Names filters;
    Names skip;
    bool exact;
    std::size_t total;
    std::vector<std::size_t> share_sizes; // by index
};

TEST(Shard, shares_are_disjoint_and_hold_each_selected_check_once_in_order) {
    const ShardCase cases[] = {
        {"whole registry", {}, {}, false, 4, {7, 7, 7, 6}},
        {"one shard", {}, {}, false, 1, {27}},
        {"more shards than checks", {}, {}, false, 30, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                                        1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                                        1, 1, 1, 1, 1, 1, 1, 0, 0, 0}},
        {"filters first", {"slope", "bilinear"}, {}, false, 4, {2, 2, 1, 1}},
        {"skips first", {}, {"height"}, false, 4, {4, 4, 4, 3}},
        {"exact filter", {"height::tests::on_road_basic"}, {}, true, 3, {1, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestOpts opts;
        opts.filters = c.filters;
        opts.skip = c.skip;
        opts.filter_exact = c.exact;
        const Names whole = select(opts);
        ASSERT_EQ(c.share_sizes.size(), c.total);
        for (std::size_t index = 0; index < c.total; ++index) {
            opts.shard = TestShard{index, c.total};
            const Names share = select(opts);
            ASSERT_EQ(share.size(), c.share_sizes[index]) << "shard " << index;
            for (std::size_t j = 0; j < share.size(); ++j) {
                EXPECT_EQ(share[j], whole[index + j * c.total]) << "shard " << index;
            }
        }
    }
}

// A step past the end that wraps around would hand a shard checks of the shards before it.
TEST(Shard, totals_near_the_largest_number_never_wrap_around) {
    constexpr std::size_t most = std::numeric_limits<std::size_t>::max();
    const struct {
        std::size_t index, total;
        std::vector<std::size_t> picks; // indices in the whole selection of 27
    } cases[] = {
        {3, most, {3}},           {0, most, {0}},       {26, most - 26, {26}},
        {0, most - 20, {0}},      {most - 1, most, {}}, {5, most / 2 + 1, {5}},
        {26, most / 2 + 1, {26}}, {1, 13, {1, 14}},     {0, 13, {0, 13, 26}},
    };
    const Names whole = select(TestOpts{});
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.index) + " of " + std::to_string(c.total));
        TestOpts opts;
        opts.shard = TestShard{c.index, c.total};
        Names expected;
        for (const std::size_t pick : c.picks) {
            expected.push_back(whole[pick]);
        }
        EXPECT_EQ(select(opts), expected);
    }
}

TEST(Shard, a_filtered_share_names_the_checks_of_the_filtered_selection) {
    TestOpts opts;
    opts.filters = {"slope", "bilinear"};
    opts.shard = TestShard{1, 4};
    EXPECT_EQ(select(opts),
              (Names{"height::tests::bilinear_clamps_oob_inputs",
                     "height::tests::triangle_plane_z_matches_bilinear_on_planar_ramp"}));
}

} // namespace
} // namespace runner
