#include <gtest/gtest.h>

#include "registry_checks.hpp"
#include "runner/bencher.hpp"
#include "select/select.hpp"

namespace runner {
namespace {

using testing::check_named;
using testing::names_of;
using testing::registry_checks;
using Names = std::vector<std::string>;

Names select(const TestOpts& opts) {
    return names_of(filter_tests(opts, registry_checks()));
}

TEST(Filter, no_filters_keep_the_whole_registry_in_order) {
    const auto names = testing::registry_names();
    const Names all(names.begin(), names.end());
    EXPECT_EQ(select({}), all);
}

TEST(Filter, substring_filters_select_their_union_in_registry_order) {
    TestOpts opts;
    opts.filters = {"slope", "bilinear"};
    EXPECT_EQ(select(opts),
              (Names{"height::tests::bilinear_at_vertex_equals_raw_height",
                     "height::tests::bilinear_clamps_oob_inputs",
                     "height::tests::bilinear_midpoint_is_corner_average",
                     "height::tests::slope_flat_terrain_is_zero",
                     "height::tests::slope_linear_ramp_45deg",
                     "height::tests::triangle_plane_z_matches_bilinear_on_planar_ramp"}));

    // Matching is case-sensitive, and a filter matching no name selects nothing.
    opts.filters = {"SLOPE"};
    EXPECT_EQ(select(opts), Names{});
    // The same check matched by two filters is kept once.
    opts.filters = {"on_road", "road_basic"};
    EXPECT_EQ(select(opts), (Names{"height::tests::on_road_basic"}));
}

TEST(Filter, exact_matches_whole_names_only) {
    TestOpts opts;
    opts.filter_exact = true;
    opts.filters = {"height::tests::on_road_basic"};
    EXPECT_EQ(select(opts), (Names{"height::tests::on_road_basic"}));
    opts.filters = {"on_road"};
    EXPECT_EQ(select(opts), Names{});
    opts.filters = {"height::tests::on_road_basic", "noise::tests::prng_constants_match_oru"};
    EXPECT_EQ(select(opts),
              (Names{"height::tests::on_road_basic", "noise::tests::prng_constants_match_oru"}));
}

TEST(Filter, skip_removes_matches_and_follows_exact) {
    TestOpts opts;
    opts.skip = {"height"};
    const Names kept = select(opts);
    EXPECT_EQ(kept.size(), 15u);
    for (const auto& name : kept) {
        EXPECT_EQ(name.find("height"), std::string::npos) << name;
    }

    opts.filter_exact = true;
    EXPECT_EQ(select(opts).size(), 27u);
    opts.skip = {"height", "height::tests::on_road_basic"};
    EXPECT_EQ(select(opts).size(), 26u);
}

TEST(Filter, several_skips_and_filters_combine) {
    TestOpts opts;
    opts.filters = {"height", "noise::tests::prng"};
    opts.skip = {"triangle", "bilinear", "constants"};
    EXPECT_EQ(select(opts),
              (Names{"height::tests::get_split_dir_deterministic_across_calls",
                     "height::tests::get_split_dir_mixed_output",
                     "height::tests::normal_z_flat_is_one_and_ramp_is_cos45",
                     "height::tests::on_road_basic", "height::tests::slope_flat_terrain_is_zero",
                     "height::tests::slope_linear_ramp_45deg",
                     "noise::tests::prng_cell_mat_scene_thousand_thousand"}));
    // An empty skip value occurs in every name.
    opts.skip = {""};
    EXPECT_EQ(select(opts), Names{});
}

// Four checks: plain, ignored, expecting a panic, and ignored while expecting a panic.
std::vector<TestDescAndFn> flagged_checks() {
    std::vector<TestDescAndFn> checks;
    checks.push_back(check_named("m::tests::plain"));
    checks.push_back(check_named("m::tests::ignored"));
    checks.back().desc.ignore = true;
    checks.push_back(check_named("m::tests::panics"));
    checks.back().desc.should_panic = {ShouldPanicKind::Yes, {}};
    checks.push_back(check_named("m::tests::ignored_panics"));
    checks.back().desc.ignore = true;
    checks.back().desc.should_panic = {ShouldPanicKind::YesWithMessage, "boom"};
    return checks;
}

// The names of the checks kept, each followed by " (ignored)" when it is to be reported as
// ignored.
Names described(const TestOpts& opts) {
    Names names;
    for (const auto& check : filter_tests(opts, flagged_checks())) {
        names.push_back(std::string(check.desc.name) + (check.desc.ignore ? " (ignored)" : ""));
    }
    return names;
}

TEST(Filter, ignored_handling_modes) {
    TestOpts opts;
    EXPECT_EQ(described(opts), (Names{"m::tests::plain", "m::tests::ignored (ignored)",
                                      "m::tests::panics", "m::tests::ignored_panics (ignored)"}));
    opts.run_ignored = RunIgnored::Yes;
    EXPECT_EQ(described(opts), (Names{"m::tests::plain", "m::tests::ignored", "m::tests::panics",
                                      "m::tests::ignored_panics"}));
    opts.run_ignored = RunIgnored::Only;
    EXPECT_EQ(described(opts), (Names{"m::tests::ignored", "m::tests::ignored_panics"}));
}

TEST(Filter, exclude_should_panic_comes_before_ignored_handling) {
    TestOpts opts;
    opts.exclude_should_panic = true;
    EXPECT_EQ(names_of(filter_tests(opts, flagged_checks())),
              (Names{"m::tests::plain", "m::tests::ignored"}));
    opts.run_ignored = RunIgnored::Only;
    opts.skip = {"plain"};
    EXPECT_EQ(names_of(filter_tests(opts, flagged_checks())), (Names{"m::tests::ignored"}));
}

TEST(Benchmarks, become_checks_that_run_their_body_once) {
    int calls = 0;
    std::vector<TestDescAndFn> checks;
    checks.push_back(check_named("m::tests::plain"));
    TestDescAndFn bench = check_named("m::tests::bench");
    bench.kind = TestFnKind::DynBenchFn;
    bench.test = nullptr;
    bench.bench = [&calls](Bencher& bencher) { bencher.iter([&calls] { ++calls; }); };
    checks.push_back(std::move(bench));

    const auto converted = convert_benchmarks_to_tests(std::move(checks));
    ASSERT_EQ(names_of(converted), (Names{"m::tests::plain", "m::tests::bench"}));
    EXPECT_EQ(converted[0].kind, TestFnKind::DynTestFn);
    EXPECT_FALSE(converted[1].is_bench());
    ASSERT_TRUE(converted[1].test);
    EXPECT_EQ(converted[1].test(), std::nullopt);
    EXPECT_EQ(calls, 1);
}

} // namespace
} // namespace runner
